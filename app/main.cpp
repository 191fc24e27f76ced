// lensmere: the main window first, then the album and the print dialog, which
// live as long as the program; the program ends when the main window closes.
#include "app/devicelink.h"
#include "app/errors.h"
#include "app/program_start.h"

int main(int argc, char** argv) {
    lensmere::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ZarvoLink"));

    int result = 0;
    {
        lensmere::TProgram program;
        program.ZarvoLink().show();
        result = app.exec();
    }
    devicelink::Shutdown();
    return result;
}
