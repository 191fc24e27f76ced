// lensmere's device link and main window over the USB backend: the program
// finds a camera on an emulated USB bus, reads its card through the two
// pipes, and follows USB plugging and unplugging.
#include <gtest/gtest.h>
// The emulation brings in glib, whose headers must come before Qt defines
// "signals".
#include "platform/usb/tests/usb_bus_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <cstring>
#include <filesystem>

#include "app/devicelink.h"
#include "app/mainwindow.h"
#include "platform/clock.h"
#include "testsupport/recording_clock.h"

namespace usbtest {
namespace {

class BusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { Bus(); }
};
[[maybe_unused]] ::testing::Environment* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "usb_devicelink_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

class UsbDeviceLinkTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override {
        devicelink::Shutdown();
        previous_sink_ = devicelink::SetMessageSink(
            [this](std::string_view text) { messages_.emplace_back(text); });
        workdir_ = std::filesystem::temp_directory_path() /
                   ("usb-link-" + std::to_string(::getpid()) + "-" + FreshPort());
        std::filesystem::create_directories(workdir_);
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(workdir_);
    }
    void TearDown() override {
        window_.reset();
        devicelink::Shutdown();
        if (device_)
            Bus().Unplug(*device_);
        devicelink::SetMessageSink(previous_sink_);
        std::filesystem::current_path(old_cwd_);
        std::filesystem::remove_all(workdir_);
    }

    void Plug(sim::Variant variant, int photos, bool wait_listed = true,
              bool claimed_elsewhere = false) {
        camera_ = MakeCamera(variant, photos);
        PlugOptions options;
        options.port = FreshPort();
        options.claimed_elsewhere = claimed_elsewhere;
        device_ = &Bus().Plug(camera_, options);
        path_ = device_->device_path();
        if (wait_listed) {
            ASSERT_TRUE(Eventually([&] {
                for (const auto& p : platform::EnumerateInterfaces(platform::CardInterfaceGuid)) {
                    if (p == path_)
                        return true;
                }
                return false;
            }));
        }
    }
    std::vector<QString> Items() const {
        std::vector<QString> items;
        for (int i = 0; i < window_->findChild<QListWidget*>("ListBox1")->count(); ++i) {
            items.push_back(window_->findChild<QListWidget*>("ListBox1")->item(i)->text());
        }
        return items;
    }

    testsupport::RecordingClock clock_;
    platform::ScopedClock use_clock_{&clock_};
    devicelink::MessageSink previous_sink_;
    std::vector<std::string> messages_;
    std::filesystem::path workdir_;
    std::filesystem::path old_cwd_;
    std::shared_ptr<sim::Camera> camera_;
    MockUsbDevice* device_ = nullptr;
    std::string path_;
    std::unique_ptr<TZarvoLink> window_;
};

TEST_F(UsbDeviceLinkTest, ProbeFindsTheUsbCameraAndReadsTheCardThroughThePipes) {
    Plug(sim::Variant::k16MbLe, 2);
    devicelink::ProbeDevice();
    ASSERT_TRUE(devicelink::IsConnected());
    EXPECT_EQ(devicelink::DevicePath(), path_);

    std::vector<uint8_t> block(1536);
    ASSERT_TRUE(devicelink::ReadCardMemory(0xFFE000, 1536, block.data()));
    EXPECT_EQ(block, camera_->Peek(0xFFE000, 1536));

    // A photo piece: 64 transfers of 512 bytes.
    std::vector<uint8_t> piece(0x8000);
    const int ins_before = device_->counters().bulk_in;
    ASSERT_TRUE(devicelink::ReadCardMemory(0x4C000, 0x8000, piece.data()));
    EXPECT_EQ(piece, camera_->Peek(0x4C000, 0x8000));
    EXPECT_EQ(device_->counters().bulk_in - ins_before, 64);

    devicelink::THidDeviceData record;
    devicelink::FindDevice(record, devicelink::kCameraInstance);
    EXPECT_EQ(record.device_path, path_);
    EXPECT_EQ(record.manufacturer, "Orvanta");
    EXPECT_EQ(record.product, "Photo Camera");
    EXPECT_EQ(record.serial_number, "CAMSIM0001");
    EXPECT_TRUE(messages_.empty()) << messages_.front();
}

TEST_F(UsbDeviceLinkTest, ACameraHeldByAnotherProgramIsSaidToBeInUse) {
    Plug(sim::Variant::k16MbLe, 1, /*wait_listed=*/true, /*claimed_elsewhere=*/true);
    devicelink::THidDeviceData record;
    devicelink::FindDevice(record, devicelink::kCameraInstance);
    ASSERT_FALSE(messages_.empty());
    EXPECT_NE(messages_.front().find("another program"), std::string::npos) << messages_.front();
    EXPECT_NE(messages_.front().find(path_), std::string::npos) << messages_.front();
}

TEST_F(UsbDeviceLinkTest, PluggedInWhileRunningIsListedWithinASecondAndUnpluggedCleared) {
    window_ = std::make_unique<TZarvoLink>();
    TZarvoLink& w = *window_;
    EXPECT_FALSE(w.IsDeviceConnected());
    EXPECT_TRUE(Items().empty());

    Plug(sim::Variant::k16MbLe, 2, /*wait_listed=*/false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.IsDeviceConnected(); }, 3000))
        << "the USB arrival did not reach the window";
    EXPECT_EQ(devicelink::DevicePath(), path_);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Items().size() == 2; }, 1500));
    EXPECT_EQ(w.findChild<QLabel*>("Number_of_Photo")->text(), "2 Photos used  50 Block Free");

    Bus().Unplug(*device_);
    device_ = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.IsDeviceConnected(); }, 3000))
        << "the USB removal did not reach the window";
    EXPECT_TRUE(QTest::qWaitFor([&] { return Items().empty(); }, 1500));
    EXPECT_EQ(w.findChild<QLabel*>("Number_of_Photo")->text(), "");
}

}  // namespace
}  // namespace usbtest
