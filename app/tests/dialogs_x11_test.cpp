// The real program's dialogs and message boxes on a real X display with a window manager,
// driven with real keys and mouse clicks (xdotool). The print dialog prints on the system's
// default cups-pdf queue; the pages it writes are rendered and measured. Screenshots are kept
// next to the test for looking at. Skips without the X tools, and the print test without
// such a queue or without pdftoppm.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QPrinterInfo>
#include <QRect>
#include <QTemporaryDir>

#include "app/tests/picture_testfiles.h"
#include "app/tests/printdialog_testutil.h"
#include "app/tests/x11_session.h"

namespace {

using namespace lensmere;

// Generous: the machine may be busy compiling, and sanitizer builds start slowly.
constexpr int kTimeoutMs = 40000;

QRect RectOf(const QStringList& parts, int from) {
    return QRect(parts[from].toInt(), parts[from + 1].toInt(), parts[from + 2].toInt(),
                 parts[from + 3].toInt());
}

class DialogsX11Test : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApplication();
        const QString missing = apptest::X11Session::MissingTools();
        if (!missing.isEmpty())
            GTEST_SKIP() << "not installed: " << missing.toStdString();
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(x_.Start(kTimeoutMs)) << x_.Error().toStdString();
    }

    // Takes the control lines that follow a window's "shown" line, up to `last`.
    void ReadControls(const QString& last) {
        while (!controls_.contains(last)) {
            const QStringList parts =
                x_.Lines().WaitFor(QStringLiteral("control"), kTimeoutMs).split(QLatin1Char(' '));
            ASSERT_EQ(parts.size(), 6) << x_.Lines().Seen().join('|').toStdString();
            controls_[parts[1]] = RectOf(parts, 2);
        }
    }

    QString At(const QPoint& p) const { return QStringLiteral("%1 %2").arg(p.x()).arg(p.y()); }
    // A real click with the mouse.
    void Click(const QPoint& p) {
        ASSERT_TRUE(x_.Xdotool(QStringLiteral("mousemove %1 click 1").arg(At(p))));
    }
    // The next window of a class to show; its screen rectangle.
    QRect Shown(const QString& class_name) {
        const QStringList parts =
            x_.Lines().WaitFor(QStringLiteral("shown ") + class_name, kTimeoutMs).split(' ');
        return parts.size() == 7 ? RectOf(parts, 3) : QRect();
    }

    QTemporaryDir dir_;
    apptest::X11Session x_;
    QMap<QString, QRect> controls_;
};

// A regular file where the picture folder should be: start-up says it cannot make the folder,
// the album button reports the file and the album does not open.
TEST_F(DialogsX11Test, RegularFileNamedMyPhotoIsReportedAndTheAlbumStaysClosed) {
    test::WriteFile(dir_.filePath(QStringLiteral("MyPhoto")), "not a folder");
    ASSERT_TRUE(x_.Launch(QStringLiteral(DIALOGS_PROBE_PATH), {}, dir_.path()));
    ASSERT_TRUE(x_.WaitForWindow(QStringLiteral("ZarvoLink"), kTimeoutMs));
    x_.Screenshot(QStringLiteral("dialogs_x11_startup_message.png"));
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key Return")));
    ASSERT_FALSE(x_.Lines().WaitFor(QStringLiteral("shown TZarvoLink"), kTimeoutMs).isEmpty())
        << x_.Program().readAllStandardError().toStdString();
    ReadControls(QStringLiteral("ExitButton"));

    const QRect book = controls_[QStringLiteral("BookButton")];
    Click(book.center());
    const QString shown = x_.Lines().WaitFor(QStringLiteral("shown"), kTimeoutMs);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("shown QMessageBox"))) << shown.toStdString();
    EXPECT_EQ(x_.Lines().WaitFor(QStringLiteral("message"), kTimeoutMs),
              QStringLiteral("message Invalid filename"));
    x_.Screenshot(QStringLiteral("dialogs_x11_album_message.png"));
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key Return")));

    const QRect exit = controls_[QStringLiteral("ExitButton")];
    Click(exit.center());
    EXPECT_TRUE(x_.Program().waitForFinished(kTimeoutMs));
    for (const QString& line : x_.Lines().Seen())
        EXPECT_FALSE(line.startsWith(QStringLiteral("shown lensmere::TPreviewDlg")));
}

class PrintDialogX11Test : public DialogsX11Test {
  protected:
    void SetUp() override {
        DialogsX11Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        queue_ = QPrinterInfo::defaultPrinter();
        folder_ = queue_.isNull() ? QString() : test::CupsPdfFolder(queue_);
        if (folder_.isEmpty())
            GTEST_SKIP() << "no cups-pdf queue as the default printer";
        if (!test::HavePdfRenderer())
            GTEST_SKIP() << "pdftoppm not available";
        picture_ = dir_.filePath(QStringLiteral("TEMP.bmp"));
        test::WriteFile(picture_, test::EncodeBitmap24(blocks_));
        title_ = QStringLiteral("lensmerex11%1x%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(QDateTime::currentMSecsSinceEpoch());
        ASSERT_TRUE(x_.Launch(QStringLiteral(DIALOGS_PROBE_PATH), {picture_, title_}, dir_.path()));
        ASSERT_FALSE(
            x_.Lines().WaitFor(QStringLiteral("shown lensmere::TPrintDlg"), kTimeoutMs).isEmpty())
            << x_.Program().readAllStandardError().toStdString();
        ReadControls(QStringLiteral("Label1"));
    }

    // The printer line that follows a print or set-up: name, dpi and printable area.
    QStringList Printer() {
        return x_.Lines().WaitFor(QStringLiteral("printer"), kTimeoutMs).split(' ');
    }

    QImage blocks_ = test::BlockPattern(644, 484);
    QString picture_;
    QString title_;
    QPrinterInfo queue_;
    QString folder_;
};

TEST_F(PrintDialogX11Test, TypedSizeIsNoChoiceAndPrintsInTheQueuesOwnPixels) {
    x_.Screenshot(QStringLiteral("dialogs_x11_print_opened.png"));
    // "x2" chosen from the list with the mouse.
    const QRect combo = controls_[QStringLiteral("ComboBox1")];
    Click(QPoint(combo.right() - 4, combo.center().y()));
    const QRect list = Shown(QStringLiteral("QComboBoxPrivateContainer"));
    ASSERT_FALSE(list.isEmpty());
    x_.Screenshot(QStringLiteral("dialogs_x11_print_list.png"));
    Click(QPoint(list.center().x(), list.top() + list.height() * 3 / 8));
    // "x4" typed with the keys, then the mouse clicks elsewhere (the X field).
    Click(QPoint(combo.left() + 8, combo.center().y()));
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key ctrl+a type x4")));
    Click(controls_[QStringLiteral("EditX")].center());
    x_.Screenshot(QStringLiteral("dialogs_x11_print_typed.png"));

    Click(controls_[QStringLiteral("OKBtn")].center());
    ASSERT_FALSE(Shown(QStringLiteral("QPrintDialog")).isEmpty());
    x_.Screenshot(QStringLiteral("dialogs_x11_print_system_print.png"));
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key Return")));
    const QStringList printer = Printer();
    ASSERT_EQ(printer.size(), 7) << printer.join(' ').toStdString();
    EXPECT_EQ(printer[1], queue_.printerName());
    const int dpi = printer[2].toInt();
    const int listed = test::ListedResolution(queue_.printerName());
    if (listed > 0) {
        EXPECT_EQ(dpi, listed) << "printer pixels are the queue's own";
    }
    const QRect page = RectOf(printer, 3);

    const QString pdf = test::WaitForCupsPdf(folder_, title_, 60000);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF from the queue in " << folder_.toStdString();
    // Factor 2, at (0, 0) of the printable area: 1288 x 968 printer pixels.
    const QImage printed =
        test::RenderPdf(pdf, dpi, QRect(page.topLeft() - QPoint(10, 10), QSize(1308, 988)));
    QFile::remove(pdf);
    ASSERT_FALSE(printed.isNull());
    for (const int y : {20, 500, 960}) {
        EXPECT_TRUE(test::Whiteish(printed.pixel(7, y))) << y;
        EXPECT_FALSE(test::Whiteish(printed.pixel(13, y))) << y;
        EXPECT_FALSE(test::Whiteish(printed.pixel(1295, y))) << y;
        EXPECT_TRUE(test::Whiteish(printed.pixel(1301, y))) << y;
    }
    for (const int x : {20, 700, 1290}) {
        EXPECT_FALSE(test::Whiteish(printed.pixel(x, 975))) << x;
        EXPECT_TRUE(test::Whiteish(printed.pixel(x, 981))) << x;
    }
    int misplaced = 0;
    for (int by = 0; by < 484 / 16; ++by) {
        for (int bx = 0; bx < 644 / 16; ++bx) {
            const int i = 16 * bx + 8, j = 16 * by + 8;
            misplaced +=
                test::MatchesNear(blocks_, i, j, printed.pixel(10 + 2 * i, 10 + 2 * j), 12) ? 0 : 1;
        }
    }
    EXPECT_EQ(misplaced, 0);

    // The page preview agrees: the paint box stands for the printable area.
    const QImage shot = x_.Screenshot(QStringLiteral("dialogs_x11_print_printed.png"));
    const QRect box = controls_[QStringLiteral("PaintBox1")];
    const int pw = static_cast<int>(644.0 * 2 * box.width() / page.width());
    const int ph = static_cast<int>(484.0 * 2 * box.height() / page.height());
    const QRgb white = qRgb(255, 255, 255);
    EXPECT_NE(shot.pixel(box.topLeft() + QPoint(pw - 2, ph / 2)), white);
    EXPECT_EQ(shot.pixel(box.topLeft() + QPoint(pw + 1, ph / 2)), white);
    EXPECT_NE(shot.pixel(box.topLeft() + QPoint(pw / 2, ph - 2)), white);
    EXPECT_EQ(shot.pixel(box.topLeft() + QPoint(pw / 2, ph + 1)), white);

    // A position typed into Y, for looking at: "-200" shows whole in its field.
    Click(controls_[QStringLiteral("EditY")].center());
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key ctrl+a minus 2 0 0")));
    x_.Screenshot(QStringLiteral("dialogs_x11_print_position.png"));

    // The printer set-up offers the queues; Escape leaves everything as it was. A bad X
    // then stops the preview with a message box.
    Click(controls_[QStringLiteral("EditX")].center());
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key ctrl+a type 12a")));
    Click(controls_[QStringLiteral("Button1")].center());
    ASSERT_FALSE(Shown(QStringLiteral("lensmere::TPrinterSetupDlg")).isEmpty());
    x_.Screenshot(QStringLiteral("dialogs_x11_print_setup.png"));
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key Escape")));
    const QRect box_frame = Shown(QStringLiteral("QMessageBox"));
    ASSERT_FALSE(box_frame.isEmpty());
    x_.Screenshot(QStringLiteral("dialogs_x11_print_message.png"));
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key Return")));
    EXPECT_EQ(Printer().value(2).toInt(), dpi);

    Click(controls_[QStringLiteral("CancelBtn")].center());
    EXPECT_TRUE(x_.Program().waitForFinished(kTimeoutMs));
}

}  // namespace
