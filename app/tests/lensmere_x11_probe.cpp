// The real program, started as main.cpp starts it, with its main window's events reported on
// standard output (see window_event_reporter.h) so that the X display tests can drive it.
#include "app/program_start.h"
#include "app/skin/tools/window_event_reporter.h"

int main(int argc, char** argv) {
    return lensmere::RunProgram(argc, argv, [](lensmere::TProgram& program) {
        lensmere::skin::WindowEventReporter::Attach(&program.ZarvoLink());
    });
}
