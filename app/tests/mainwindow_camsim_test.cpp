// The main window end to end against camsim processes, through the socket
// backend and its directory watch, on the real clock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>

#include <filesystem>
#include <memory>

#include "app/devicelink.h"
#include "app/mainwindow.h"
#include "app/tests/mainwindow_test_support.h"
#include "sim/tests/camsim_process.h"

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
        auto bytes = apptest::ReadFile(card);
        const size_t at = static_cast<size_t>(slot) * 0x4C000;
        return {bytes.begin() + at, bytes.begin() + at + sim::kRawPhotoBytes};
    }
    QImage Preview() const {
        return window_->Image1->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
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
    EXPECT_EQ(w.ListBox1->count(), 0);

    auto camsim = Serve(card, "16MbLe");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.DeviceConnected == 1; }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.ListBox1->count() == 3; }, 2000));
    EXPECT_EQ(w.Number_of_Photo->text(), "3 Photos used  49 Block Free");

    w.ListBox1->setCurrentRow(1);
    w.ViewPICButtonClick();
    EXPECT_TRUE(messages_.texts().empty());
    EXPECT_EQ(Preview(), apptest::ExpectedPreview(RawOfSlot(card, 1)));
    EXPECT_EQ(w.Gauge1->value(), 9);

    EXPECT_EQ(camsim->SignalAndWait(SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.DeviceConnected == 0; }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.ListBox1->count() == 0; }, 2000));
    EXPECT_EQ(w.Number_of_Photo->text(), "");
}

TEST_F(MainWindowCamsimTest, CameraDroppingOffDuringAViewLeavesNoFile) {
    const std::string card = MakeCard("8MbLe", 2);
    // Start-up read: 2 transfers; first piece: 65; gone in the second.
    auto camsim = Serve(card, "8MbLe", {"--drop-after", "97"});
    window_ = std::make_unique<TZarvoLink>();
    TZarvoLink& w = *window_;
    ASSERT_EQ(w.ListBox1->count(), 2);
    const QImage before = Preview();
    w.ListBox1->setCurrentRow(0);
    w.ViewPICButtonClick();
    ASSERT_EQ(messages_.texts().size(), 1u);
    EXPECT_EQ(messages_.texts()[0], kTransferFailedText);
    EXPECT_FALSE(fs::exists(workdir_.file("TEMP.BMP")));
    EXPECT_EQ(Preview(), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.DeviceConnected == 0; }, 3000));
}

}  // namespace
