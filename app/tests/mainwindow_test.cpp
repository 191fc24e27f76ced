// The main window against simulated cameras attached in process.
#include "app/mainwindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/devicelink.h"
#include "app/dialoglinks.h"
#include "app/errors.h"
#include "app/tests/mainwindow_test_support.h"
#include "platform/clock.h"
#include "platform/inprocess/inprocess_backend.h"
#include "sim/camera.h"
#include "sim/card_maker.h"
#include "testsupport/cjpeg.h"
#include "testsupport/files.h"
#include "testsupport/recording_clock.h"
#include "testsupport/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A camera whose IN transfers can be watched and, from some transfer on,
// fail as if the camera had left the bus.
class WatchedCamera : public platform::Peripheral {
  public:
    explicit WatchedCamera(std::shared_ptr<sim::Camera> camera) : camera_(std::move(camera)) {}
    platform::IoResult HandleOut(platform::Endpoint e, std::span<const uint8_t> d) override {
        if (failing_)
            return platform::IoResult::Failure(platform::IoError::DeviceGone);
        return camera_->HandleOut(e, d);
    }
    platform::IoResult HandleIn(platform::Endpoint e, std::span<uint8_t> b) override {
        size_t n = ++ins_;
        if (on_in)
            on_in(n);
        if (fail_from_in != 0 && n >= fail_from_in)
            failing_ = true;
        if (failing_)
            return platform::IoResult::Failure(platform::IoError::DeviceGone);
        return camera_->HandleIn(e, b);
    }
    platform::DeviceAttributes Attributes() const override { return camera_->Attributes(); }
    sim::Camera& Camera() { return *camera_; }

    std::function<void(size_t)> on_in;
    size_t fail_from_in = 0;

  private:
    std::shared_ptr<sim::Camera> camera_;
    std::atomic<size_t> ins_{0};
    std::atomic<bool> failing_{false};
};

class FakePrint : public lensmere::PrintLink {
  public:
    void LoadPicture(const QString& file) override { calls.push_back("load " + file); }
    void PreparePicture() override { calls.push_back("prepare"); }
    void ShowModal() override { calls.push_back("show"); }
    QStringList calls;
};

class FakeAlbum : public lensmere::AlbumLink {
  public:
    void ShowFolder(const QString& folder) override { folders.push_back(folder); }
    QStringList folders;
};

class MainWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { apptest::EnsureApplication(); }
    void SetUp() override { devicelink::Shutdown(); }
    void TearDown() override {
        window_.reset();
        devicelink::Shutdown();
    }

    // A camera of the variant with `photos` pictures; edit may change the
    // card before the camera starts.
    std::shared_ptr<WatchedCamera> MakeCamera(sim::Variant variant, int photos,
                                              std::function<void(sim::CardImage&)> edit = {}) {
        std::string error;
        auto card = sim::MakeCardInMemory(variant, apptest::TestPictures(photos), &error);
        EXPECT_TRUE(card) << error;
        if (edit)
            edit(*card);
        auto camera = std::make_shared<sim::Camera>(variant, std::move(card));
        return std::make_shared<WatchedCamera>(camera);
    }
    void Plug(const std::shared_ptr<WatchedCamera>& camera) {
        scoped_.backend().Attach("cam", camera);
    }
    TZarvoLink& Open() {
        window_ = std::make_unique<TZarvoLink>();
        window_->SetPrintDialog(&print_);
        window_->SetAlbum(&album_);
        return *window_;
    }
    // Lets the window take the device events that are waiting.
    bool WaitFor(const std::function<bool()>& condition, int ms = 2000) {
        return QTest::qWaitFor(condition, ms);
    }
    void Select(int row) {
        apptest::Control<QListWidget>(*window_, "ListBox1")->setCurrentRow(row);
    }
    QImage Preview() const {
        return apptest::Control<QLabel>(*window_, "Image1")
            ->pixmap()
            .toImage()
            .convertToFormat(QImage::Format_RGB888);
    }
    std::vector<uint8_t> RawOfSlot(WatchedCamera& camera, int slot) {
        return camera.Camera().Peek(static_cast<uint64_t>(slot) * 0x4C000, picture::kRawPhotoBytes);
    }
    std::vector<QString> Items() const {
        std::vector<QString> items;
        for (int i = 0; i < apptest::Control<QListWidget>(*window_, "ListBox1")->count(); ++i)
            items.push_back(apptest::Control<QListWidget>(*window_, "ListBox1")->item(i)->text());
        return items;
    }

    apptest::TempWorkDir workdir_;
    apptest::CapturedMessages messages_;
    platform::ScopedInProcessBackend scoped_;
    testsupport::RecordingClock clock_;
    platform::ScopedClock use_clock_{&clock_};
    FakePrint print_;
    FakeAlbum album_;
    std::unique_ptr<TZarvoLink> window_;
};

void SetCardByte(sim::CardImage& card, sim::Variant variant, uint64_t offset, uint8_t value) {
    const uint8_t b[1] = {value};
    ASSERT_TRUE(card.Overwrite(sim::GeometryOf(variant).system_block_offset + offset, b, nullptr));
}

TEST_F(MainWindowTest, CameraAtStartIsListedBeforeTheWindowShows) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 3));
    TZarvoLink& w = Open();
    EXPECT_EQ(w.windowTitle(), "ZarvoLink");
    EXPECT_EQ(w.size(), QSize(579, 364));
    EXPECT_EQ(Items(), (std::vector<QString>{"Photo No. 1", "Photo No. 2", "Photo No. 3"}));
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "3 Photos used  49 Block Free");
    EXPECT_EQ(w.Capacity(), 52);
    EXPECT_EQ(w.PhotoCount(), 3);
    // The cable shows only at the first tick of the one-second timer.
    EXPECT_EQ(apptest::Text(w, "Label2"), "");
    EXPECT_TRUE(apptest::Control<QLabel>(w, "Image2")->isHidden());
    EXPECT_TRUE(WaitFor([&] { return apptest::Text(w, "Label2") == "USB cable connected"; }, 2000));
    EXPECT_FALSE(apptest::Control<QLabel>(w, "Image2")->isHidden());
    EXPECT_TRUE(fs::is_directory(workdir_.Path() / "MyPhoto"));
    EXPECT_EQ(w.WorkDir(), workdir_.Q());
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(MainWindowTest, EightMegabyteCardIsReadAtTheSameAddress) {
    auto camera = MakeCamera(sim::Variant::k8MbLe, 2);
    Plug(camera);
    TZarvoLink& w = Open();
    EXPECT_EQ(Items().size(), 2u);
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "2 Photos used  24 Block Free");
    Select(1);
    apptest::Press(w, "ViewPICButton");
    EXPECT_EQ(Preview(), apptest::ExpectedPreview(RawOfSlot(*camera, 1)));
}

TEST_F(MainWindowTest, CapacityByteOfZeroOrFFMeans26) {
    for (uint8_t capacity : {uint8_t{0}, uint8_t{255}, uint8_t{40}}) {
        SCOPED_TRACE(int(capacity));
        Plug(MakeCamera(sim::Variant::k16MbLe, 4, [&](sim::CardImage& card) {
            SetCardByte(card, sim::Variant::k16MbLe, 258, capacity);
        }));
        TZarvoLink& w = Open();
        const int expected = capacity == 40 ? 40 : 26;
        EXPECT_EQ(w.Capacity(), expected);
        EXPECT_EQ(apptest::Text(w, "Number_of_Photo"),
                  "4 Photos used  " + QString::number(expected - 4) + " Block Free");
        window_.reset();
    }
}

TEST_F(MainWindowTest, MorePhotosThanCapacityReadsUnknown) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 3, [](sim::CardImage& card) {
        SetCardByte(card, sim::Variant::k16MbLe, 256, 70);
        SetCardByte(card, sim::Variant::k16MbLe, 258, 20);
    }));
    TZarvoLink& w = Open();
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "Unknown.");
    ASSERT_EQ(Items().size(), 70u);
    EXPECT_EQ(Items()[69], "Photo No. 70");

    // Item 65 has no entry in the 64 the window keeps: nothing is read.
    Select(64);
    clock_.Clear();
    apptest::Press(w, "ViewPICButton");
    EXPECT_TRUE(clock_.Pauses().empty());
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_TRUE(messages_.Texts()[0].startsWith("Photo No. 65 "));
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
    EXPECT_EQ(apptest::Text(w, "Label3"), "");
}

TEST_F(MainWindowTest, EmptyCardListsNothing) {
    Plug(MakeCamera(sim::Variant::k8MbLe, 0));
    TZarvoLink& w = Open();
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "0 Photos used  26 Block Free");
    clock_.Clear();
    apptest::Press(w, "ViewPICButton");
    apptest::Press(w, "PrintButton");
    apptest::Press(w, "SavetofileButton");
    EXPECT_TRUE(clock_.Pauses().empty());
    EXPECT_TRUE(print_.calls.isEmpty());
}

TEST_F(MainWindowTest, HexDumpShowsTheSystemBlock) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 3));
    TZarvoLink& w = Open();
    EXPECT_TRUE(apptest::Control<QPlainTextEdit>(w, "Memo1")->isHidden());
    const QStringList lines =
        apptest::Control<QPlainTextEdit>(w, "Memo1")->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 129);
    EXPECT_EQ(lines[0], "0000 : 5A 50 58 20 50 48 4F 54 4F 20 43 41 4D 20 49 4D ");
    EXPECT_TRUE(lines[16].startsWith("0100 : 03 00 34 00 ")) << lines[16].toStdString();
    EXPECT_TRUE(lines[32].startsWith("0200 : 00 00 00 00 00 00 00 00 00 00 FF FF"));
    EXPECT_TRUE(lines[128].startsWith("0800 : "));
    const QRegularExpression format("^[0-9A-F]{4} : ([0-9A-F]{2} ){16}$");
    for (const QString& line : lines)
        EXPECT_TRUE(format.match(line).hasMatch()) << line.toStdString();

    const uint8_t bytes[32] = {0xAB, 0x01};
    EXPECT_EQ(HexDump(bytes, 2),
              "0000 : AB 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \n"
              "0010 : 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");
}

TEST_F(MainWindowTest, PluggedInWhileRunningIsListedWithinASecondAndUnpluggedCleared) {
    TZarvoLink& w = Open();
    EXPECT_FALSE(devicelink::IsConnected());
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "");

    Plug(MakeCamera(sim::Variant::k16MbLe, 2));
    ASSERT_TRUE(WaitFor([&] { return w.IsDeviceConnected(); }));
    EXPECT_TRUE(WaitFor([&] { return Items().size() == 2; }, 2000));
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "2 Photos used  50 Block Free");
    EXPECT_TRUE(WaitFor([&] { return apptest::Text(w, "Label2") == "USB cable connected"; }, 2000));

    scoped_.backend().Detach("cam");
    ASSERT_TRUE(WaitFor([&] { return !w.IsDeviceConnected(); }));
    EXPECT_TRUE(WaitFor([&] { return Items().empty(); }, 2000));
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "");
    EXPECT_TRUE(WaitFor([&] { return apptest::Text(w, "Label2").isEmpty(); }, 2000));
    EXPECT_TRUE(apptest::Control<QLabel>(w, "Image2")->isHidden());
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(MainWindowTest, ViewShowsThePhotoAndFillsTheGauge) {
    auto camera = MakeCamera(sim::Variant::k16MbLe, 3);
    Plug(camera);
    TZarvoLink& w = Open();
    EXPECT_TRUE(apptest::Control<QProgressBar>(w, "Gauge1")->isHidden());
    std::atomic<int> busy_seen{0};
    QString reading;
    camera->on_in = [&](size_t n) {
        if (w.IsBusy())
            ++busy_seen;
        // The window's thread is waiting for the worker: the label does not
        // change while the worker looks at it.
        if (n == 2)
            reading = apptest::Text(w, "Label3");
    };
    Select(2);
    clock_.Clear();
    apptest::Press(w, "ViewPICButton");
    EXPECT_EQ(Preview(), apptest::ExpectedPreview(RawOfSlot(*camera, 2)));
    EXPECT_EQ(fs::file_size(workdir_.File("TEMP.BMP")), 234310u);
    EXPECT_EQ(apptest::Control<QProgressBar>(w, "Gauge1")->value(), 9);
    EXPECT_EQ(apptest::Control<QProgressBar>(w, "Gauge1")->maximum(), 9);
    EXPECT_FALSE(apptest::Control<QProgressBar>(w, "Gauge1")->isHidden());
    EXPECT_EQ(apptest::Text(w, "Label3"), "");
    EXPECT_FALSE(w.IsBusy());
    EXPECT_EQ(busy_seen, 640);
    EXPECT_EQ(reading, "NOW READING.");
    // Ten pieces, each after the link's 20 ms pause and followed by 20 ms.
    auto pauses = clock_.Pauses();
    ASSERT_EQ(pauses.size(), 20u);
    for (auto p : pauses)
        EXPECT_EQ(p, std::chrono::milliseconds(20));
    EXPECT_TRUE(apptest::Control<QTimer>(w, "Timer1")->isActive());
    apptest::Tick(w, "Timer1");
    EXPECT_FALSE(apptest::Control<QTimer>(w, "Timer1")->isActive());
    EXPECT_TRUE(apptest::Control<QWidget>(w, "ViewPICButton")->isEnabled());
    EXPECT_TRUE(messages_.Texts().empty());

    // Saving does not change the preview.
    const QImage shown = Preview();
    Select(0);
    w.SetSaveDialogRunner([&](QWidget*, TSavePictureDialog& d) {
        d.FileName = workdir_.Q() + "/MyPhoto/x.jpg";
        return true;
    });
    apptest::Press(w, "SavetofileButton");
    EXPECT_EQ(Preview(), shown);
}

// A slot holds all but the last 400 bytes of a raw picture; what follows the
// slot on the card (here the next photo) must not show in the bottom row.
TEST_F(MainWindowTest, BottomRowPastTheSlotIsBlackInBothBitmaps) {
    auto camera = MakeCamera(sim::Variant::k16MbLe, 3);
    Plug(camera);
    TZarvoLink& w = Open();
    w.SetSaveDialogRunner([&](QWidget*, TSavePictureDialog& d) {
        d.FileName = workdir_.Q() + "/MyPhoto/p.jpg";
        return true;
    });
    constexpr size_t kPastSlot = 0x4C000 - 240 * 1288 - 1288;  // 888: pixel 222 of row 241
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        // The slot number in the card's directory entry of the photo.
        const int slot = camera->Camera().Peek(0xFFE000 + 512 + 16 * row + 8, 1)[0];
        const auto raw = RawOfSlot(*camera, slot);
        const uint8_t* last_row = raw.data() + 241 * 1288;
        // The bytes after the slot are another photo's, not black.
        ASSERT_NE(std::count(raw.begin() + 0x4C000, raw.end(), 0), 400);

        Select(row);
        apptest::Press(w, "ViewPICButton");
        ASSERT_TRUE(messages_.Texts().empty());
        const auto bmp = testsupport::ReadWholeFile(workdir_.File("TEMP.BMP")).value();
        ASSERT_EQ(bmp.size(), 234310u);
        std::vector<uint8_t> expected;  // raw row 241, stored first
        for (size_t x = 0; x < 322; ++x) {
            const uint8_t* p = last_row + 4 * x;
            const bool on_card = 4 * x < kPastSlot;
            expected.insert(expected.end(), {static_cast<uint8_t>(on_card ? p[0] : 0),
                                             static_cast<uint8_t>(on_card ? p[2] : 0),
                                             static_cast<uint8_t>(on_card ? p[3] : 0)});
        }
        EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.begin() + 54 + 966), expected);

        apptest::Press(w, "SavetofileButton");
        ASSERT_TRUE(messages_.Texts().empty());
        const auto doubled = testsupport::ReadWholeFile(workdir_.File("TEMP.BMP")).value();
        ASSERT_EQ(doubled.size(), 935142u);
        // The two stored rows of raw row 241, green from bytes 1 and 2.
        for (int half = 0; half < 2; ++half) {
            std::vector<uint8_t> pair_row;
            for (size_t x = 0; x < 644; ++x) {
                const uint8_t* p = last_row + 4 * (x / 2);
                const bool on_card = 4 * (x / 2) < kPastSlot;
                pair_row.insert(pair_row.end(),
                                {static_cast<uint8_t>(on_card ? p[0] : 0),
                                 static_cast<uint8_t>(on_card ? p[half == 0 ? 1 : 2] : 0),
                                 static_cast<uint8_t>(on_card ? p[3] : 0)});
            }
            const auto at = doubled.begin() + 54 + half * 1932;
            EXPECT_EQ(std::vector<uint8_t>(at, at + 1932), pair_row) << half;
        }
    }
}

TEST_F(MainWindowTest, SaveWritesJpegIdenticalToCjpeg) {
    auto camera = MakeCamera(sim::Variant::k16MbLe, 3);
    Plug(camera);
    TZarvoLink& w = Open();
    TSavePictureDialog seen;
    const QString target = workdir_.Q() + "/MyPhoto/Photo No. 2.jpg";
    w.SetSaveDialogRunner([&](QWidget*, TSavePictureDialog& d) {
        seen = d;
        d.FileName = target;
        return true;
    });
    Select(1);
    apptest::Press(w, "SavetofileButton");
    EXPECT_EQ(seen.FileName, "Photo No. 2.jpg");
    EXPECT_EQ(seen.InitialDir, workdir_.Q() + "/MyPhoto");
    EXPECT_EQ(seen.FilterIndex, 2);
    EXPECT_EQ(seen.DefaultExt, "*.jpg");
    EXPECT_EQ(seen.Filter,
              "All (*.jpg;*.jpeg;*.bmp)|*.jpg;*.jpeg;*.bmp|JPEG Image File (*.jpg)|*.jpg|"
              "JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp");
    ASSERT_TRUE(messages_.Texts().empty()) << messages_.Texts()[0].toStdString();
    EXPECT_EQ(fs::file_size(workdir_.File("TEMP.BMP")), 935142u);
    auto ours = testsupport::ReadWholeFile(target.toStdString()).value();
    auto theirs = testsupport::CjpegOf(workdir_.File("TEMP.BMP"), workdir_.Path().string());
    ASSERT_FALSE(theirs.empty());
    EXPECT_TRUE(ours == theirs) << ours.size() << " vs " << theirs.size();
    // The doubled bitmap holds the photo of slot 1.
    auto bmp = testsupport::ReadWholeFile(workdir_.File("TEMP.BMP")).value();
    auto raw = RawOfSlot(*camera, 1);
    const uint8_t* top_upper = bmp.data() + 54 + 483 * 1932;
    EXPECT_EQ(top_upper[0], raw[0]);
    EXPECT_EQ(top_upper[1], raw[2]);
    EXPECT_EQ(top_upper[2], raw[3]);
}

TEST_F(MainWindowTest, SaveUnderBitmapNameWritesTheDoubledBitmap) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 2));
    TZarvoLink& w = Open();
    const QString target = workdir_.Q() + "/MyPhoto/picture.BMP";
    w.SetSaveDialogRunner([&](QWidget*, TSavePictureDialog& d) {
        d.FileName = target;
        return true;
    });
    Select(0);
    apptest::Press(w, "SavetofileButton");
    auto saved = testsupport::ReadWholeFile(target.toStdString()).value();
    ASSERT_EQ(saved.size(), 935142u);
    EXPECT_EQ(saved[0], 'B');
    EXPECT_EQ(saved, testsupport::ReadWholeFile(workdir_.File("TEMP.BMP")).value());
}

TEST_F(MainWindowTest, CancelledSaveReadsAndWritesNothing) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 2));
    TZarvoLink& w = Open();
    w.SetSaveDialogRunner([](QWidget*, TSavePictureDialog&) { return false; });
    Select(0);
    clock_.Clear();
    apptest::Press(w, "SavetofileButton");
    EXPECT_TRUE(clock_.Pauses().empty());
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
    EXPECT_EQ(apptest::Text(w, "Label3"), "");
}

TEST_F(MainWindowTest, UnplugDuringAViewShowsAMessageAndWritesNothing) {
    auto camera = MakeCamera(sim::Variant::k16MbLe, 3);
    Plug(camera);
    TZarvoLink& w = Open();
    const QImage before = Preview();
    // The camera leaves in the middle of the second piece; the removal
    // reaches the window while it waits for the worker.
    const size_t ins_before = 1;  // the system block read at start
    camera->fail_from_in = ins_before + 64 + 20;
    camera->on_in = [&](size_t n) {
        if (n == camera->fail_from_in)
            QMetaObject::invokeMethod(
                qApp, [&] { scoped_.backend().Detach("cam"); }, Qt::QueuedConnection);
    };
    Select(1);
    apptest::Press(w, "ViewPICButton");
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_EQ(messages_.Texts()[0], kTransferFailedText);
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
    EXPECT_EQ(Preview(), before);
    EXPECT_EQ(apptest::Control<QProgressBar>(w, "Gauge1")->value(), 9);
    EXPECT_EQ(apptest::Text(w, "Label3"), "");
    EXPECT_FALSE(w.IsDeviceConnected());
    EXPECT_FALSE(devicelink::IsConnected());

    // Saving with the camera gone writes no file either.
    messages_.Clear();
    w.SetSaveDialogRunner([&](QWidget*, TSavePictureDialog& d) {
        d.FileName = workdir_.Q() + "/MyPhoto/gone.jpg";
        return true;
    });
    apptest::Press(w, "SavetofileButton");
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_FALSE(fs::exists(workdir_.File("MyPhoto/gone.jpg")));
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
}

TEST_F(MainWindowTest, SaveThatFindsTheListEmptiedSaysNoPhotoIsSelected) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 3));
    TZarvoLink& w = Open();
    // The camera is unplugged while the save dialog is open; the timer tick
    // that comes in the meantime clears the list.
    w.SetSaveDialogRunner([&](QWidget*, TSavePictureDialog& d) {
        scoped_.backend().Detach("cam");
        EXPECT_TRUE(WaitFor([&] { return !w.IsDeviceConnected(); }));
        apptest::Tick(w, "Timer2");
        EXPECT_EQ(apptest::Control<QListWidget>(w, "ListBox1")->count(), 0);
        d.FileName = workdir_.Q() + "/MyPhoto/late.jpg";
        return true;
    });
    Select(2);
    clock_.Clear();
    apptest::Press(w, "SavetofileButton");
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_EQ(messages_.Texts()[0].toStdString(), kNoPhotoSelectedText);
    EXPECT_TRUE(clock_.Pauses().empty()) << "nothing was read";
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
    EXPECT_FALSE(fs::exists(workdir_.File("MyPhoto/late.jpg")));
    EXPECT_EQ(apptest::Text(w, "Label3"), "");
}

TEST_F(MainWindowTest, CatalogWithoutCameraLeavesNoStaleList) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 3));
    TZarvoLink& w = Open();
    ASSERT_EQ(Items().size(), 3u);
    scoped_.backend().Detach("cam");
    // Before the removal event is taken, the pipes still look open but the
    // read fails: the list must not survive the refresh.
    apptest::Press(w, "GetinfoBotton");
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "");
    EXPECT_EQ(w.PhotoCount(), 0);
}

TEST_F(MainWindowTest, BigEndianCameraShowsNoContents) {
    Plug(MakeCamera(sim::Variant::k16Mb, 3));
    TZarvoLink& w = Open();
    EXPECT_TRUE(devicelink::IsConnected());
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(apptest::Text(w, "Number_of_Photo"), "Unknown.");
    apptest::Press(w, "ViewPICButton");
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
}

TEST_F(MainWindowTest, PrintHandsTheJpegToThePrintDialog) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 2));
    TZarvoLink& w = Open();
    apptest::Press(w, "PrintButton");  // nothing selected: nothing happens
    EXPECT_TRUE(print_.calls.isEmpty());
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));

    Select(1);
    apptest::Press(w, "PrintButton");
    EXPECT_EQ(print_.calls, (QStringList{"load " + workdir_.Q() + "/TEMP.jpg", "prepare", "show"}));
    auto jpeg = testsupport::ReadWholeFile(workdir_.File("TEMP.jpg")).value();
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(QImage(workdir_.Q() + "/TEMP.jpg").size(), QSize(644, 484));
}

TEST_F(MainWindowTest, ATemporaryFolderTakesTheTemporaryPicturesButNotMyPhoto) {
    testsupport::TempDir temporary;
    Plug(MakeCamera(sim::Variant::k16MbLe, 2));
    TZarvoLink& w = Open();
    w.SetTemporaryFolder(QString::fromStdString(temporary.path()));
    Select(1);
    apptest::Press(w, "ViewPICButton");
    EXPECT_EQ(fs::file_size(temporary / "TEMP.BMP"), 234310u);
    apptest::Press(w, "PrintButton");
    EXPECT_EQ(print_.calls, (QStringList{"load " + QString::fromStdString(temporary / "TEMP.jpg"),
                                         "prepare", "show"}));
    EXPECT_EQ(QImage(QString::fromStdString(temporary / "TEMP.jpg")).size(), QSize(644, 484));
    EXPECT_EQ(fs::file_size(temporary / "TEMP.BMP"), 935142u) << "the doubled bitmap";
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.BMP")));
    EXPECT_FALSE(fs::exists(workdir_.File("TEMP.jpg")));
    EXPECT_EQ(w.PictureFolder(), workdir_.Q() + "/MyPhoto");
}

TEST_F(MainWindowTest, AlbumOpensOnThePictureFolder) {
    TZarvoLink& w = Open();
    apptest::Press(w, "BookButton");
    EXPECT_EQ(album_.folders, QStringList{workdir_.Q() + "/MyPhoto"});
}

TEST_F(MainWindowTest, UnwritableTemporaryBitmapIsReportedAndPreviewKept) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 2));
    TZarvoLink& w = Open();
    const QImage before = Preview();
    fs::create_directory(workdir_.Path() / "TEMP.BMP");
    Select(0);
    apptest::Press(w, "ViewPICButton");
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_EQ(messages_.Texts()[0], "Cannot write " + workdir_.Q() + "/TEMP.BMP: Invalid filename");
    EXPECT_EQ(Preview(), before);
}

TEST_F(MainWindowTest, PictureFolderThatCannotBeCreatedIsReported) {
    testsupport::WriteWholeFile(workdir_.File("MyPhoto"), {1, 2, 3});
    TZarvoLink& w = Open();
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_EQ(messages_.Texts()[0], "Cannot create " + workdir_.Q() + "/MyPhoto");
    EXPECT_EQ(w.WorkDir(), workdir_.Q());
}

TEST_F(MainWindowTest, HandlerErrorsReachTheErrorReportAndTheProgramGoesOn) {
    Plug(MakeCamera(sim::Variant::k16MbLe, 2));
    TZarvoLink& w = Open();
    const QString target = workdir_.Q() + "/missing-folder/x.jpg";
    w.SetSaveDialogRunner([&](QWidget*, TSavePictureDialog& d) {
        d.FileName = target;
        return true;
    });
    Select(0);
    apptest::Press(w, "SavetofileButton");
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_EQ(messages_.Texts()[0], "Cannot create file " + target);

    // An exception leaving any event delivery is reported as well.
    class Throwing : public QObject {
      public:
        bool event(QEvent* e) override {
            if (e->type() == QEvent::User)
                throw std::runtime_error("boom");
            return QObject::event(e);
        }
    } throwing;
    QCoreApplication::postEvent(&throwing, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&throwing);
    ASSERT_EQ(messages_.Texts().size(), 2u);
    EXPECT_EQ(messages_.Texts()[1], "boom");
    Select(1);
    apptest::Press(w, "ViewPICButton");
    EXPECT_EQ(messages_.Texts().size(), 2u);
}

}  // namespace
