// The main window end to end against camsim processes, through the socket
// backend and its directory watch, on the real clock; and the whole program's
// flow from the main window through the album and the print dialog.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinterInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>

#include "app/devicelink.h"
#include "app/mainwindow.h"
#include "app/program_start.h"
#include "app/tests/mainwindow_test_support.h"
#include "app/tests/printdialog_testutil.h"
#include "sim/tests/camsim_process.h"
#include "testsupport/files.h"

namespace fs = std::filesystem;
using sim::testing::CamsimDir;
using sim::testing::CamsimProcess;
using sim::testing::RunCamsim;

namespace {

class MainWindowCamsimTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { apptest::EnsureApplication(); }
    void SetUp() override {
        devicelink::Shutdown();
        // The directory watch needs the directory before the window starts.
        fs::create_directories(fs::path(cams_.socket("x")).parent_path());
        ::chmod(fs::path(cams_.socket("x")).parent_path().c_str(), 0700);
    }
    void TearDown() override {
        window_.reset();
        devicelink::Shutdown();
    }

    // A card file of the variant with `photos` pictures made by camsim.
    std::string MakeCard(const std::string& geometry, int photos) {
        std::vector<std::string> args = {"make-card", cams_.file("card.img"), "--geometry",
                                         geometry};
        for (int i = 0; i < photos; ++i) {
            const auto& p = apptest::TestPicture(i + 1);
            QImage image(p.rgb.data(), p.width, p.height, p.width * 3, QImage::Format_RGB888);
            const std::string file = cams_.file("photo" + std::to_string(i) + ".bmp");
            EXPECT_TRUE(image.save(QString::fromStdString(file), "BMP"));
            args.push_back(file);
        }
        EXPECT_EQ(RunCamsim(args), 0);
        return cams_.file("card.img");
    }
    std::unique_ptr<CamsimProcess> Serve(const std::string& card, const std::string& geometry,
                                         std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"serve",  "--card", card, "--geometry",
                                         geometry, "--name", "cam"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto process = std::make_unique<CamsimProcess>(args);
        EXPECT_TRUE(process->ready());
        return process;
    }
    std::vector<uint8_t> RawOfSlot(const std::string& card, int slot) {
        auto bytes = testsupport::ReadWholeFile(card).value();
        const size_t at = static_cast<size_t>(slot) * 0x4C000;
        return {bytes.begin() + at, bytes.begin() + at + picture::kRawPhotoBytes};
    }
    static QImage Preview(const TZarvoLink& w) {
        return apptest::Control<QLabel>(w, "Image1")
            ->pixmap()
            .toImage()
            .convertToFormat(QImage::Format_RGB888);
    }

    CamsimDir cams_;
    apptest::TempWorkDir workdir_;
    apptest::CapturedMessages messages_;
    std::unique_ptr<TZarvoLink> window_;
};

TEST_F(MainWindowCamsimTest, PlugViewAndUnplug) {
    const std::string card = MakeCard("16MbLe", 3);
    window_ = std::make_unique<TZarvoLink>();
    TZarvoLink& w = *window_;
    EXPECT_EQ(apptest::Control<QListWidget>(w, "ListBox1")->count(), 0);

    auto camsim = Serve(card, "16MbLe");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.IsDeviceConnected(); }, 3000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return apptest::Control<QListWidget>(w, "ListBox1")->count() == 3; }, 2000));
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "3 Photos used  49 Block Free");

    apptest::Control<QListWidget>(w, "ListBox1")->setCurrentRow(1);
    apptest::Press(w, "ViewPICButton");
    EXPECT_TRUE(messages_.Texts().empty());
    EXPECT_EQ(Preview(w), apptest::ExpectedPreview(RawOfSlot(card, 1)));
    EXPECT_EQ(apptest::Control<QProgressBar>(w, "Gauge1")->value(), 9);

    EXPECT_EQ(camsim->SignalAndWait(SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.IsDeviceConnected(); }, 3000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return apptest::Control<QListWidget>(w, "ListBox1")->count() == 0; }, 2000));
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "");
}

TEST_F(MainWindowCamsimTest, CameraDroppingOffDuringAViewLeavesNoFile) {
    const std::string card = MakeCard("8MbLe", 2);
    // Start-up read: 2 transfers; first piece: 65; gone in the second.
    auto camsim = Serve(card, "8MbLe", {"--drop-after", "97"});
    window_ = std::make_unique<TZarvoLink>();
    TZarvoLink& w = *window_;
    ASSERT_EQ(apptest::Control<QListWidget>(w, "ListBox1")->count(), 2);
    const QImage before = Preview(w);
    apptest::Control<QListWidget>(w, "ListBox1")->setCurrentRow(0);
    apptest::Press(w, "ViewPICButton");
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_EQ(messages_.Texts()[0], kTransferFailedText);
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
    EXPECT_EQ(Preview(w), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.IsDeviceConnected(); }, 3000));
}

// Runs `body` inside the dialog's modal loop, once the dialog shows: the
// main window may run a transfer first, and events run while it waits.
class WhenShown {
  public:
    WhenShown(QDialog& dialog, std::function<void()> body) {
        QObject::connect(&timer_, &QTimer::timeout, &dialog, [this, &dialog, body] {
            if (!dialog.isVisible())
                return;
            timer_.stop();
            shown_ = true;
            body();
        });
        timer_.start(10);  // poll interval
    }
    bool Shown() const { return shown_; }

  private:
    QTimer timer_;
    bool shown_ = false;
};

// What a user does in the save dialog: keeps the offered name in the offered
// folder and presses Save.
bool AcceptOfferedName(QWidget*, TSavePictureDialog& dialog) {
    dialog.FileName = dialog.InitialDir + QStringLiteral("/") + dialog.FileName;
    return true;
}

TEST_F(MainWindowCamsimTest, SavedPhotoShowsInTheAlbumAndIsDeletedThere) {
    const std::string card = MakeCard("16MbLe", 2);
    auto camsim = Serve(card, "16MbLe");
    lensmere::TProgram program;
    TZarvoLink& w = program.ZarvoLink();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return apptest::Control<QListWidget>(w, "ListBox1")->count() == 2; }, 3000));

    apptest::Control<QListWidget>(w, "ListBox1")->setCurrentRow(1);
    apptest::Press(w, "ViewPICButton");
    EXPECT_EQ(Preview(w), apptest::ExpectedPreview(RawOfSlot(card, 1)));
    w.SetSaveDialogRunner(AcceptOfferedName);
    apptest::Press(w, "SavetofileButton");
    const QString saved = workdir_.Q() + QStringLiteral("/MyPhoto/Photo No. 2.jpg");
    EXPECT_EQ(QImage(saved, "JPEG").size(), QSize(644, 484));

    lensmere::TPreviewDlg& album = program.PreviewDlg();
    std::vector<QString> questions;
    album.SetConfirmation([&](QWidget*, const QString& question) {
        questions.push_back(question);
        return true;
    });
    WhenShown inside(album, [&] {
        auto* list = album.findChild<lensmere::TFileListBox*>(QStringLiteral("FileListBox1"));
        auto* image = album.findChild<lensmere::TPictureBox*>(QStringLiteral("Image1"));
        auto* delete_file = album.findChild<QAction*>(QStringLiteral("DELETEFILE1"));
        auto* exit = album.findChild<QPushButton*>(QStringLiteral("CancelBtn"));
        ASSERT_TRUE(list && image && delete_file && exit);
        ASSERT_EQ(list->ItemNames(), QStringList{QStringLiteral("Photo No. 2.jpg")});
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0)).center());
        EXPECT_EQ(image->Picture().Width(), 644);
        delete_file->trigger();
        EXPECT_EQ(list->count(), 0);
        exit->click();
    });
    apptest::Press(w, "BookButton");
    if (album.isVisible())
        album.reject();
    EXPECT_TRUE(inside.Shown());
    EXPECT_EQ(questions, std::vector<QString>{"Do you really want to delete Photo No. 2.jpg?"});
    EXPECT_FALSE(QFile::exists(saved));
    EXPECT_TRUE(messages_.Texts().empty()) << messages_.Texts()[0].toStdString();
}

// Prints on the system's default printer, which must be a cups-pdf queue.
TEST_F(MainWindowCamsimTest, PrintedPhotoComesOutOfTheQueue) {
    const QPrinterInfo system = QPrinterInfo::defaultPrinter();
    const QString folder = lensmere::test::CupsPdfFolder(system);
    if (system.isNull() || folder.isEmpty())
        GTEST_SKIP() << "the default printer is not a known cups-pdf queue";
    if (!lensmere::test::HavePdfRenderer())
        GTEST_SKIP() << "pdftoppm not available";

    const std::string card = MakeCard("8MbLe", 2);
    auto camsim = Serve(card, "8MbLe");
    lensmere::TProgram program;
    TZarvoLink& w = program.ZarvoLink();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return apptest::Control<QListWidget>(w, "ListBox1")->count() == 2; }, 3000));
    apptest::Control<QListWidget>(w, "ListBox1")->setCurrentRow(0);

    lensmere::TPrintDlg& print = program.PrintDlg();
    int asked = 0;
    print.SetDialogRunner([&](QDialog&) {
        ++asked;
        return int(QDialog::Accepted);
    });
    // A title of our own finds our page among other jobs on the queue.
    const QString title = QStringLiteral("lensmereflow%1x%2")
                              .arg(QCoreApplication::applicationPid())
                              .arg(QDateTime::currentMSecsSinceEpoch());
    WhenShown inside(print, [&] {
        print.CurrentPrinter().setDocName(title);
        apptest::Control<QLineEdit>(print, "EditX")->setText(QStringLiteral("40"));
        apptest::Control<QLineEdit>(print, "EditY")->setText(QStringLiteral("30"));
        apptest::Control<QPushButton>(print, "OKBtn")->click();
        EXPECT_TRUE(print.isVisible()) << "printing leaves the dialog open";
        apptest::Control<QPushButton>(print, "CancelBtn")->click();
    });
    apptest::Press(w, "PrintButton");
    if (print.isVisible())
        print.reject();
    ASSERT_TRUE(inside.Shown());
    ASSERT_EQ(asked, 1);
    ASSERT_TRUE(messages_.Texts().empty()) << messages_.Texts()[0].toStdString();

    // The photo as the main window handed it over, at factor 1 from (40, 30)
    // of the printable area.
    const QImage photo = QImage(workdir_.Q() + QStringLiteral("/TEMP.jpg"), "JPEG")
                             .convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(photo.size(), QSize(644, 484));
    QPrinter& printer = print.CurrentPrinter();
    const int dpi = printer.resolution();
    const QPoint origin = printer.pageLayout().paintRectPixels(dpi).topLeft() + QPoint(40, 30);
    const QString pdf = lensmere::test::WaitForCupsPdf(folder, title, 60000);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF from the queue in " << folder.toStdString();
    // The picture with 10 pixels of paper around it.
    const QImage page = lensmere::test::RenderPdf(
        pdf, dpi, QRect(origin - QPoint(10, 10), photo.size() + QSize(20, 20)));
    QFile::remove(pdf);
    ASSERT_EQ(page.size(), photo.size() + QSize(20, 20));
    using lensmere::test::Whiteish;
    for (const int y : {20, 240, 460}) {
        EXPECT_TRUE(Whiteish(page.pixel(7, 10 + y))) << y;
        EXPECT_TRUE(Whiteish(page.pixel(10 + 644 + 3, 10 + y))) << y;
        if (!Whiteish(photo.pixel(2, y))) {
            EXPECT_FALSE(Whiteish(page.pixel(12, 10 + y))) << y;
        }
    }
    for (const int x : {20, 320, 620}) {
        EXPECT_TRUE(Whiteish(page.pixel(10 + x, 7))) << x;
        EXPECT_TRUE(Whiteish(page.pixel(10 + x, 10 + 484 + 3))) << x;
        if (!Whiteish(photo.pixel(x, 2))) {
            EXPECT_FALSE(Whiteish(page.pixel(10 + x, 12))) << x;
        }
    }
    // The PDF queue recompresses pictures (colour at half resolution), which
    // blurs the photo's fine detail: compare the colour of 16 x 16 pieces. On
    // the right photo the pieces differ by about 5 on average; on the photo
    // mirrored, by about 68.
    long total = 0, worst = 0, samples = 0;
    for (int y = 0; y + 16 <= photo.height(); y += 16) {
        for (int x = 0; x + 16 <= photo.width(); x += 16) {
            const QRect piece(x, y, 16, 16);
            const auto want = lensmere::test::MeanColour(photo, piece);
            const auto got = lensmere::test::MeanColour(page, piece.translated(10, 10));
            for (int c = 0; c < 3; ++c, ++samples) {
                total += std::abs(want[c] - got[c]);
                worst = std::max<long>(worst, std::abs(want[c] - got[c]));
            }
        }
    }
    EXPECT_LE(total, 8 * samples) << "mean difference " << double(total) / samples;
    EXPECT_LE(worst, 48);
}

}  // namespace
