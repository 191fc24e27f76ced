// lensmere: the main window first, then the album and the print dialog, which
// live as long as the program; the program ends when the main window closes.
#include "app/devicelink.h"
#include "app/dialoglinks.h"
#include "app/errors.h"
#include "app/mainwindow.h"

#include <QMessageBox>

int main(int argc, char** argv) {
    lensmere::TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ZarvoLink"));
    devicelink::SetMessageSink([](std::string_view text) {
        lensmere::ShowMessage(QString::fromUtf8(text.data(), text.size()));
    });

    int result = 0;
    {
        TZarvoLink ZarvoLink;
        lensmere::PlaceholderAlbumDialog PreviewDlg(&ZarvoLink);
        lensmere::PlaceholderPrintDialog PrintDlg(&ZarvoLink);
        ZarvoLink.SetAlbum(&PreviewDlg);
        ZarvoLink.SetPrintDialog(&PrintDlg);
        ZarvoLink.show();
        result = app.exec();
    }
    devicelink::Shutdown();
    return result;
}
