// The real program, as main.cpp starts it, with its window's events reported on standard output
// (see window_event_reporter.h) so that the X display tests can drive it from outside.
#include "app/devicelink.h"
#include "app/errors.h"
#include "app/program_start.h"
#include "cool_button.h"
#include "cool_form.h"
#include "window_event_reporter.h"

int main(int argc, char** argv) {
    lensmere::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ZarvoLink"));

    int result = 0;
    {
        lensmere::TProgram program;
        TZarvoLink& window = program.ZarvoLink();
        auto* reporter = new lensmere::skin::WindowEventReporter(&window);
        if (auto* form = qobject_cast<lensmere::skin::TCoolForm*>(window.CoolForm1))
            reporter->WatchForm(form);
        for (auto* button : window.findChildren<lensmere::skin::TCoolButton*>())
            reporter->WatchButton(button);
        app.installEventFilter(reporter);
        window.show();
        result = app.exec();
    }
    devicelink::Shutdown();
    return result;
}
