// The real program's dialogs and message boxes on a real X display with a window manager,
// driven with real keys and mouse clicks (xdotool). The print dialog prints on the system's
// default cups-pdf queue; the pages it writes are rendered and measured. Screenshots are kept
// next to the test for looking at. Skips without the X tools, and the print test without
// such a queue or without pdftoppm.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QPrinterInfo>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>

#include "app/printdialog.h"
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

    // The printer line that follows a print or set-up: name, dpi, paper, orientation and
    // printable area.
    QStringList Printer() {
        return x_.Lines().WaitFor(QStringLiteral("printer"), kTimeoutMs).split(' ');
    }

    // Where a window of a class showed before now.
    QRect ShownBefore(const QString& class_name) {
        for (const QString& line : x_.Lines().Seen()) {
            const QStringList parts = line.split(' ');
            if (parts.size() == 7 && parts[0] == QLatin1String("shown") && parts[1] == class_name)
                return RectOf(parts, 3);
        }
        return QRect();
    }

    // Printer Setup with real input: a printer and a paper typed into their lists (xdotool
    // commands, when given), an orientation clicked, OK. The printer line that follows.
    // The screenshot of the filled-in set-up is kept under `label`.
    QStringList SetUpPrinter(const QString& printer, const QString& paper, bool landscape,
                             const QString& label) {
        Click(controls_[QStringLiteral("Button1")].center());
        setup_shown_ = Shown(QStringLiteral("lensmere::TPrinterSetupDlg"));
        EXPECT_FALSE(setup_shown_.isEmpty());
        controls_.remove(QStringLiteral("LandscapeButton"));
        ReadControls(QStringLiteral("LandscapeButton"));
        const QList<std::pair<QString, QString>> lists = {{QStringLiteral("PrinterBox"), printer},
                                                          {QStringLiteral("PaperBox"), paper}};
        for (const auto& [box, typed] : lists) {
            if (typed.isEmpty())
                continue;
            Click(controls_[box].center());
            EXPECT_FALSE(Shown(QStringLiteral("QComboBoxPrivateContainer")).isEmpty());
            EXPECT_TRUE(x_.Xdotool(typed));
            EXPECT_TRUE(x_.Xdotool(QStringLiteral("key Return")));
        }
        Click(controls_[landscape ? QStringLiteral("LandscapeButton")
                                  : QStringLiteral("PortraitButton")]
                  .center());
        x_.Screenshot(QStringLiteral("dialogs_x11_setup_%1.png").arg(label));
        EXPECT_TRUE(x_.Xdotool(QStringLiteral("key Return")));
        return Printer();
    }

    // Print, the system print dialog accepted as it opens; the printer line that follows.
    QStringList PrintAsOffered() {
        Click(controls_[QStringLiteral("OKBtn")].center());
        system_shown_ = Shown(QStringLiteral("QPrintDialog"));
        EXPECT_FALSE(system_shown_.isEmpty());
        EXPECT_TRUE(x_.Xdotool(QStringLiteral("key Return")));
        return Printer();
    }

    // What the page preview shows on the screen.
    QImage PreviewShown() { return x_.Screenshot().copy(controls_[QStringLiteral("PaintBox1")]); }

    QImage blocks_ = test::BlockPattern(644, 484);
    // Where Printer Setup and the system print dialog showed last.
    QRect setup_shown_;
    QRect system_shown_;
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
    ASSERT_EQ(printer.size(), 9) << printer.join(' ').toStdString();
    EXPECT_EQ(printer[1], queue_.printerName());
    const int dpi = printer[2].toInt();
    const int listed = test::ListedResolution(queue_.printerName());
    if (listed > 0) {
        EXPECT_EQ(dpi, listed) << "printer pixels are the queue's own";
    }
    const QRect page = RectOf(printer, 5);

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

// What Printer Setup chooses is what the printer gets: the paper and orientation reach the
// system print dialog, the printed page and the previews after it. The picture at x1 in the
// corner of the printable area, measured on the page the queue wrote; a landscape page comes out
// turned onto the paper, its top edge along the paper's left edge.
TEST_F(PrintDialogX11Test, PrinterSetupChoicesReachThePrintedPage) {
    struct Case {
        const char* typed;  // into the list of papers
        const char* paper;  // the paper's name
        bool landscape;
        QSizeF points;  // the paper, upright
    };
    const Case cases[] = {
        {"type A5", "A5", true, {419.5, 595.3}},
        {"type A3", "A3", false, {841.9, 1190.6}},
        {"key U S space L e t", "Letter", false, {612, 792}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.paper);
        const QStringList chosen = SetUpPrinter(QString(), QString::fromLatin1(c.typed),
                                                c.landscape, QString::fromLatin1(c.paper));
        ASSERT_EQ(chosen.size(), 9) << chosen.join(' ').toStdString();
        EXPECT_EQ(chosen[3], QLatin1String(c.paper));
        EXPECT_EQ(chosen[4], c.landscape ? QLatin1String("landscape") : QLatin1String("portrait"));
        const int dpi = chosen[2].toInt();
        const QRect area = RectOf(chosen, 5);
        EXPECT_EQ(area.width() > area.height(), c.landscape);

        // The preview is drawn for that page.
        const QImage previewed = PreviewShown();
        const QRect drawn = PreviewPictureRect(644, 484, 1, 0, 0, area.width(), area.height(),
                                               previewed.width(), previewed.height());
        const QRgb white = qRgb(255, 255, 255);
        const QPoint right(drawn.right(), drawn.center().y());
        const QPoint bottom(drawn.center().x(), drawn.bottom());
        EXPECT_NE(previewed.pixel(right - QPoint(1, 0)), white);
        EXPECT_EQ(previewed.pixel(right + QPoint(2, 0)), white);
        EXPECT_NE(previewed.pixel(bottom - QPoint(0, 1)), white);
        EXPECT_EQ(previewed.pixel(bottom + QPoint(0, 2)), white);

        const QStringList printed = PrintAsOffered();
        EXPECT_EQ(printed.mid(1), chosen.mid(1)) << "the print used the printer as set up";
        const QString pdf = test::WaitForCupsPdf(folder_, title_, 60000);
        ASSERT_FALSE(pdf.isEmpty()) << "no PDF from the queue in " << folder_.toStdString();
        const QSizeF paper = test::PdfPageSize(pdf);
        // Rounded to whole points.
        EXPECT_NEAR(paper.width(), c.points.width(), 2.0);
        EXPECT_NEAR(paper.height(), c.points.height(), 2.0);

        // Picture pixel (i, j) on the paper, in pixels of the queue's resolution.
        const double paper_height = paper.height() * dpi / 72.0;
        const auto on_paper = [&](double i, double j) {
            return c.landscape ? QPointF(area.y() + j, paper_height - area.x() - i)
                               : QPointF(area.x() + i, area.y() + j);
        };
        const QRect region = QRectF(on_paper(0, 0), on_paper(644, 484))
                                 .normalized()
                                 .toRect()
                                 .adjusted(-10, -10, 10, 10);
        const QImage page = test::RenderPdf(pdf, dpi, region);
        QFile::remove(pdf);
        ASSERT_FALSE(page.isNull());
        const auto at = [&](double i, double j) {
            return page.pixel(on_paper(i, j).toPoint() - region.topLeft());
        };
        for (const double t : {0.1, 0.5, 0.9}) {
            EXPECT_TRUE(test::Whiteish(at(-3, 484 * t))) << t;
            EXPECT_FALSE(test::Whiteish(at(3, 484 * t))) << t;
            EXPECT_FALSE(test::Whiteish(at(641, 484 * t))) << t;
            EXPECT_TRUE(test::Whiteish(at(647, 484 * t))) << t;
            EXPECT_TRUE(test::Whiteish(at(644 * t, -3))) << t;
            EXPECT_FALSE(test::Whiteish(at(644 * t, 3))) << t;
            EXPECT_FALSE(test::Whiteish(at(644 * t, 481))) << t;
            EXPECT_TRUE(test::Whiteish(at(644 * t, 487))) << t;
        }
        int misplaced = 0;
        for (int by = 0; by < 484 / 16; ++by) {
            for (int bx = 0; bx < 644 / 16; ++bx) {
                const int i = 16 * bx + 8, j = 16 * by + 8;
                misplaced += test::MatchesNear(blocks_, i, j, at(i + 0.5, j + 0.5), 12) ? 0 : 1;
            }
        }
        EXPECT_EQ(misplaced, 0);

        // Later previews are still those of the page set up.
        EXPECT_EQ(PreviewShown(), previewed);
    }
    x_.Screenshot(QStringLiteral("dialogs_x11_setup_printed.png"));
}

// A queue removed between two prints: the second print says why, and nothing else changes (no
// system print dialog, no page, the printer and the preview as they were). The print dialog is
// centred over the main window from its first showing; Printer Setup, the system print dialog
// and the message over the print dialog.
TEST_F(PrintDialogX11Test, PrintOnARemovedQueueIsReportedOverTheDialog) {
    const QString name = QStringLiteral("lensmere-gone-%1").arg(QCoreApplication::applicationPid());
    test::TemporaryCupsPdfQueue queue(name, 150);
    if (!queue.Made())
        GTEST_SKIP() << "cannot add a cups-pdf queue (needs root and lpadmin)";
    const QRect main_window = ShownBefore(QStringLiteral("TZarvoLink"));
    const QRect dialog = ShownBefore(QStringLiteral("lensmere::TPrintDlg"));
    ASSERT_FALSE(main_window.isEmpty());
    EXPECT_LE((dialog.center() - main_window.center()).manhattanLength(), 1)
        << dialog.x() << "," << dialog.y() << " over " << main_window.x() << "," << main_window.y();

    // A first print on the default queue, then the queue chosen in Printer Setup takes the next.
    EXPECT_EQ(PrintAsOffered().value(1), queue_.printerName());
    QString pdf = test::WaitForCupsPdf(folder_, title_, 60000);
    ASSERT_FALSE(pdf.isEmpty()) << "the first print did not come out";
    QFile::remove(pdf);
    EXPECT_EQ(SetUpPrinter("type " + name, QString(), false, QStringLiteral("queue")).value(1),
              name);
    const QStringList first = PrintAsOffered();
    EXPECT_EQ(first.value(1), name);
    for (const QRect& over : {setup_shown_, system_shown_}) {
        EXPECT_LE((over.center() - dialog.center()).manhattanLength(), 2)
            << over.x() << "," << over.y() << " over " << dialog.x() << "," << dialog.y();
    }
    pdf = test::WaitForCupsPdf(folder_, title_, 60000);
    ASSERT_FALSE(pdf.isEmpty()) << "the print on the chosen queue did not come out";
    QFile::remove(pdf);
    QProcess jobs;
    jobs.start(QStringLiteral("lpstat"),
               {QStringLiteral("-W"), QStringLiteral("all"), QStringLiteral("-o"), name});
    ASSERT_TRUE(jobs.waitForFinished(kTimeoutMs));
    EXPECT_TRUE(jobs.readAllStandardOutput().startsWith((name + '-').toLocal8Bit()))
        << "no job on " << name.toStdString();
    const QImage preview = PreviewShown();

    ASSERT_TRUE(queue.Remove());
    Click(controls_[QStringLiteral("OKBtn")].center());
    const QStringList shown = x_.Lines().WaitFor(QStringLiteral("shown"), kTimeoutMs).split(' ');
    ASSERT_EQ(shown.size(), 7) << shown.join(' ').toStdString();
    EXPECT_EQ(shown[1], QLatin1String("QMessageBox"));
    EXPECT_EQ(x_.Lines().WaitFor(QStringLiteral("message"), kTimeoutMs),
              QStringLiteral("message Cannot print on \"%1\": The printer or class does not exist.")
                  .arg(name));
    const QRect box = RectOf(shown, 3);
    EXPECT_LE((box.center() - dialog.center()).manhattanLength(), 2)
        << box.x() << "," << box.y() << " over " << dialog.x() << "," << dialog.y();
    x_.Screenshot(QStringLiteral("dialogs_x11_removed_queue_message.png"));
    ASSERT_TRUE(x_.Xdotool(QStringLiteral("key Return")));

    EXPECT_EQ(Printer().mid(1), first.mid(1)) << "the printer is as it was";
    EXPECT_EQ(PreviewShown(), preview) << "the preview is not redrawn";
    EXPECT_EQ(x_.Lines().Seen().filter(QStringLiteral("shown QPrintDialog")).size(), 2);
    EXPECT_TRUE(QDir(folder_).entryList({"*" + title_ + "*"}, QDir::Files).isEmpty());

    Click(controls_[QStringLiteral("CancelBtn")].center());
    EXPECT_TRUE(x_.Program().waitForFinished(kTimeoutMs));
}

}  // namespace
