// Shows the skin as the main window will: a frameless window of 579 x 364 at 198, 112, shaped by
// the stored outline, with the six skinned buttons, the version label and placeholders for the
// other controls. For trying the skin by hand and for the X display tests.
//
// Reports its events on standard output (see window_event_reporter.h).
// Options: --disable-exit (the exit button starts disabled), --quit-after <ms>.

#include "app/skin/cool_button.h"
#include "app/skin/cool_form.h"
#include "app/skin/skin_resources.h"
#include "app/skin/tools/window_event_reporter.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

using lensmere::skin::TCoolButton;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();

    QWidget window;
    window.setWindowTitle(QStringLiteral("ZarvoLink"));
    window.setFixedSize(579, 364);
    window.move(198, 112);
    lensmere::skin::InstallMainWindowSkin(&window);

    QLabel version(QStringLiteral("Ver 1.03"), &window);
    QFont version_font(QStringLiteral("Times New Roman"));
    version_font.setPixelSize(13);
    version_font.setBold(true);
    version_font.setItalic(true);
    version_font.setUnderline(true);
    version.setFont(version_font);
    version.setStyleSheet(QStringLiteral("color: rgb(43, 180, 253); background: transparent;"));
    version.setGeometry(364, 40, 60, 16);

    QLabel preview(&window);
    preview.setGeometry(40, 78, 310, 238);
    preview.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    preview.setPixmap(QPixmap::fromImage(lensmere::skin::LoadSkinImage(
        QString::fromLatin1(lensmere::skin::kPreviewPlaceholderResource))));

    QLabel count(&window);
    count.setGeometry(366, 92, 189, 14);
    count.setAlignment(Qt::AlignCenter);
    count.setStyleSheet(QStringLiteral(
        "background: rgb(54, 106, 134); color: rgb(168, 192, 223); font-weight: bold;"));
    count.setText(QStringLiteral("3 Photos"));
    QLabel list(&window);
    list.setGeometry(365, 106, 190, 113);
    list.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    list.setStyleSheet(QStringLiteral("background: rgb(54, 106, 134); color: rgb(168, 192, 223);"));
    list.setText(QStringLiteral(" Photo No. 1\n Photo No. 2\n Photo No. 3"));

    QLabel cable_state(QStringLiteral("Camera connected"), &window);
    cable_state.move(57, 319);
    cable_state.setStyleSheet(QStringLiteral("color: rgb(1, 69, 105); background: transparent;"));
    QFont status_font(QStringLiteral("Times New Roman"));
    status_font.setPixelSize(11);
    status_font.setBold(true);
    cable_state.setFont(status_font);
    cable_state.adjustSize();
    QLabel icon(&window);
    icon.setGeometry(22, 322, 33, 22);
    icon.setPixmap(QPixmap::fromImage(
        lensmere::skin::LoadSkinImage(QString::fromLatin1(lensmere::skin::kCableIconResource))));

    struct ButtonPlace {
        const char* name;
        int x, y;
        const char* glyph;
    };
    const ButtonPlace places[] = {
        {"PrintButton", 384, 230, lensmere::skin::kDrawGlyphResource},
        {"SavetofileButton", 384, 265, lensmere::skin::kBackupGlyphResource},
        {"GetinfoBotton", 384, 300, lensmere::skin::kCatalogGlyphResource},
        {"BookButton", 480, 232, lensmere::skin::kHistoryGlyphResource},
        {"ViewPICButton", 480, 265, lensmere::skin::kPreviewGlyphResource},
        {"ExitButton", 480, 300, lensmere::skin::kExitGlyphResource},
    };
    for (const ButtonPlace& place : places) {
        auto* button = new TCoolButton(&window);
        button->setObjectName(QString::fromLatin1(place.name));
        button->setGeometry(place.x, place.y, 75, 29);
        button->SetGlyph(QString::fromLatin1(place.glyph));
        if (button->objectName() == QLatin1String("ExitButton")) {
            if (args.contains(QStringLiteral("--disable-exit")))
                button->setEnabled(false);
            QObject::connect(button, &TCoolButton::Clicked, &app, &QApplication::quit);
        }
    }

    lensmere::skin::WindowEventReporter::Attach(&window);

    const int quit_at = args.indexOf(QStringLiteral("--quit-after"));
    if (quit_at >= 0 && quit_at + 1 < args.size())
        QTimer::singleShot(args[quit_at + 1].toInt(), &app, &QApplication::quit);

    window.show();
    return app.exec();
}
