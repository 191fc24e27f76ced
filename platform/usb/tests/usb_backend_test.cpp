// The libusb backend against an emulated bus whose devices run the simulated
// camera's firmware.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <array>
#include <future>

#include "platform/backend.h"
#include "platform/device.h"
#include "platform/events.h"
#include "platform/report.h"
#include "platform/usb/tests/usb_bus_fixture.h"
#include "platform/usb/usb_backend.h"
#include "testsupport/captured_reports.h"

namespace usbtest {
namespace {

using platform::Endpoint;
using platform::IoError;

class BusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { Bus(); }
};
[[maybe_unused]] ::testing::Environment* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

// Read command of the little-endian firmware: byte address in bytes 2-4.
std::array<uint8_t, 16> ReadCommandLe(uint32_t byte_address) {
    std::array<uint8_t, 16> c{};
    c[0] = 0x85;
    c[1] = 0x71;
    c[2] = static_cast<uint8_t>(byte_address);
    c[3] = static_cast<uint8_t>(byte_address >> 8);
    c[4] = static_cast<uint8_t>(byte_address >> 16);
    return c;
}

bool Listed(const std::string& path) {
    for (const std::string& p : platform::EnumerateInterfaces(platform::CardInterfaceGuid)) {
        if (p == path)
            return true;
    }
    return false;
}

struct Plugged {
    std::shared_ptr<sim::Camera> camera;
    MockUsbDevice* device;
    std::string path;
};

Plugged PlugCamera(sim::Variant variant = sim::Variant::k16MbLe, PlugOptions options = {},
                   platform::DeviceAttributes attributes = sim::DefaultAttributes()) {
    if (options.port == PlugOptions{}.port)
        options.port = FreshPort();
    Plugged p;
    p.camera = MakeCamera(variant, 1, std::move(attributes));
    p.device = &Bus().Plug(p.camera, options);
    p.path = p.device->device_path();
    EXPECT_TRUE(Eventually([&] { return Listed(p.path); })) << p.path << " never appeared";
    return p;
}

std::unique_ptr<platform::DeviceHandle> OpenOrFail(const std::string& path) {
    platform::OpenResult r = platform::OpenPath(path);
    EXPECT_TRUE(r.handle) << path << ": " << r.message;
    return std::move(r.handle);
}

TEST(UsbBackend, ListsCamerasByPortPathWithTheirStringsAndIgnoresOtherDevices) {
    platform::DeviceAttributes foreign = sim::DefaultAttributes();
    foreign.vendor_id = 0x1234;
    PlugOptions foreign_port;
    foreign_port.port = FreshPort();
    Bus().Plug(MakeCamera(sim::Variant::k16MbLe, 0, foreign), foreign_port);

    platform::DeviceAttributes named = sim::DefaultAttributes();
    named.manufacturer = "Orvanta Ärger";  // not ASCII: UTF-16 on the wire
    named.serial_number = "SN-42";
    PlugOptions behind_hub;
    behind_hub.port = FreshPort() + ".4";
    Plugged cam = PlugCamera(sim::Variant::k16MbLe, behind_hub, named);
    EXPECT_EQ(cam.path, "usb:1-" + behind_hub.port);

    for (const std::string& p : platform::EnumerateInterfaces(platform::CardInterfaceGuid)) {
        EXPECT_NE(p, "usb:1-" + foreign_port.port) << "a device with other ids was listed";
    }
    platform::Guid other = platform::CardInterfaceGuid;
    other.data1 ^= 1;
    EXPECT_TRUE(platform::UsbBackend().Enumerate(other).empty());

    auto h = OpenOrFail(cam.path);
    ASSERT_TRUE(h);
    auto a = h->Attributes();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->vendor_id, 0x5A17);
    EXPECT_EQ(a->product_id, 0xC3E2);
    EXPECT_EQ(a->version, 0x0100);
    EXPECT_EQ(a->manufacturer, "Orvanta Ärger");
    EXPECT_EQ(a->product, "Photo Camera");
    EXPECT_EQ(a->serial_number, "SN-42");
    EXPECT_FALSE(h->PhysicalDescriptor());
    EXPECT_EQ(cam.path, "usb:1-" + behind_hub.port);
}

TEST(UsbBackend, PipesAndInterfaceShareOneClaimAndReachTheFirmware) {
    Plugged cam = PlugCamera();
    {
        auto read_pipe = OpenOrFail(cam.path + "/PIPE00");
        auto write_pipe = OpenOrFail(cam.path + "/PIPE01");
        auto itf = OpenOrFail(cam.path);
        ASSERT_TRUE(read_pipe && write_pipe && itf);
        EXPECT_EQ(cam.device->counters().claims, 1);

        // The system block of the 16 MB card, as the program reads it.
        const auto cmd = ReadCommandLe(0xFFE000);
        ASSERT_TRUE(write_pipe->Write(cmd).ok());
        std::vector<uint8_t> block(1536);
        platform::IoResult r = read_pipe->Read(block);
        ASSERT_TRUE(r.ok()) << platform::ToString(r.error);
        EXPECT_EQ(r.transferred, block.size());
        EXPECT_EQ(block, cam.camera->Peek(0xFFE000, block.size()));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), 19),
                  "ZPX PHOTO CAM IMAGE");

        // The interface path writes OUT and reads IN; the pipes keep their
        // direction.
        const auto slot0 = ReadCommandLe(0);
        ASSERT_TRUE(itf->Write(slot0).ok());
        std::vector<uint8_t> page(512);
        ASSERT_TRUE(itf->Read(page).ok());
        EXPECT_EQ(page, cam.camera->Peek(0, 512));
        EXPECT_EQ(read_pipe->Write(slot0).error, IoError::Failed);
        EXPECT_EQ(write_pipe->Read(page).error, IoError::Failed);
        EXPECT_EQ(cam.device->counters().releases, 0);
    }
    EXPECT_EQ(cam.device->counters().releases, 1) << "the last handle releases the interface";
    EXPECT_EQ(cam.device->counters().unknown_ioctls, 0);
}

TEST(UsbBackend, FindsTheBulkEndpointsFromTheDescriptors) {
    PlugOptions options;
    options.in_endpoint = 0x86;
    options.out_endpoint = 0x02;
    Plugged cam = PlugCamera(sim::Variant::k16MbLe, options);
    auto h = OpenOrFail(cam.path);
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->Write(ReadCommandLe(0x100)).ok());
    std::vector<uint8_t> page(512);
    ASSERT_TRUE(h->Read(page).ok());
    EXPECT_EQ(page, cam.camera->Peek(0x100, 512));
}

TEST(UsbBackend, AStallFailsTheTransferAndClearsTheHalt) {
    Plugged cam = PlugCamera();
    auto h = OpenOrFail(cam.path);
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->Write(ReadCommandLe(0)).ok());
    cam.device->SetNextInFault(Fault::Stall);
    std::vector<uint8_t> page(512);
    EXPECT_EQ(h->Read(page).error, IoError::Failed);
    EXPECT_EQ(cam.device->counters().clear_halts, 1);

    cam.device->SetNextOutFault(Fault::Stall);
    EXPECT_EQ(h->Write(ReadCommandLe(0)).error, IoError::Failed);
    ASSERT_TRUE(h->Write(ReadCommandLe(0)).ok()) << "the endpoint works again after the stall";
    ASSERT_TRUE(h->Read(page).ok());
    EXPECT_EQ(page, cam.camera->Peek(0, 512));
}

TEST(UsbBackend, ATimeoutAbortsTheTransferAndTheNextOneWorks) {
    Plugged cam = PlugCamera();
    auto h = OpenOrFail(cam.path);
    ASSERT_TRUE(h);
    const auto previous = platform::SetUsbTransferTimeout(std::chrono::milliseconds(100));
    ASSERT_TRUE(h->Write(ReadCommandLe(0)).ok());
    cam.device->SetNextInFault(Fault::Hang);
    std::vector<uint8_t> page(512);
    EXPECT_EQ(h->Read(page).error, IoError::Aborted);
    EXPECT_EQ(cam.device->counters().discards, 1);

    cam.device->SetNextOutFault(Fault::Hang);
    EXPECT_EQ(h->Write(ReadCommandLe(0)).error, IoError::Aborted);
    platform::SetUsbTransferTimeout(previous);

    ASSERT_TRUE(h->Write(ReadCommandLe(0)).ok());
    ASSERT_TRUE(h->Read(page).ok());
    EXPECT_EQ(page, cam.camera->Peek(0, 512));
}

TEST(UsbBackend, AShortTransferIsAFailureThatSaysHowMuchArrived) {
    Plugged cam = PlugCamera();
    auto h = OpenOrFail(cam.path);
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->Write(ReadCommandLe(0)).ok());
    cam.device->SetNextInFault(Fault::Short);
    std::vector<uint8_t> page(512);
    platform::IoResult r = h->Read(page);
    EXPECT_EQ(r.error, IoError::Failed);
    EXPECT_EQ(r.transferred, 256u);
}

TEST(UsbBackend, AnInterfaceClaimedByAnotherProgramIsReportedBusy) {
    PlugOptions options;
    options.claimed_elsewhere = true;
    Plugged cam = PlugCamera(sim::Variant::k16MbLe, options);
    testsupport::CapturedReports reports;
    platform::OpenResult r = platform::OpenPath(cam.path);
    EXPECT_FALSE(r.handle);
    EXPECT_EQ(r.error, platform::OpenError::Busy);
    EXPECT_NE(r.message.find(cam.path), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("another program"), std::string::npos) << r.message;
    // The library and quorbit-cli learn only that no camera opened: the
    // backend says why itself, once.
    EXPECT_EQ(platform::OpenPath(cam.path + "/PIPE00").error, platform::OpenError::Busy);
    ASSERT_EQ(reports.reports().size(), 1u);
    EXPECT_EQ(reports.reports()[0].text, r.message);
}

TEST(UsbBackend, UnpluggingDuringAReadReportsTheDeviceGone) {
    Plugged cam = PlugCamera();
    auto read_pipe = OpenOrFail(cam.path + "/PIPE00");
    auto write_pipe = OpenOrFail(cam.path + "/PIPE01");
    ASSERT_TRUE(read_pipe && write_pipe);
    ASSERT_TRUE(write_pipe->Write(ReadCommandLe(0)).ok());
    cam.device->SetNextInFault(Fault::Hang);
    auto reading = std::async(std::launch::async, [&] {
        std::vector<uint8_t> page(512);
        return read_pipe->Read(page);
    });
    ASSERT_TRUE(cam.device->WaitForParkedIn(3000));
    Bus().Unplug(*cam.device);
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the read never returned";
    EXPECT_EQ(reading.get().error, IoError::DeviceGone);
    // The shared device knows: the other pipe fails the same way at once.
    EXPECT_EQ(write_pipe->Write(ReadCommandLe(0)).error, IoError::DeviceGone);
    EXPECT_TRUE(Eventually([&] { return !Listed(cam.path); }));
    platform::OpenResult again = platform::OpenPath(cam.path);
    EXPECT_FALSE(again.handle);
    EXPECT_EQ(again.error, platform::OpenError::NotFound);
}

TEST(UsbBackend, AReplugAtTheSamePortIsOpenedAfresh) {
    Plugged first = PlugCamera();
    auto old_handle = OpenOrFail(first.path);
    ASSERT_TRUE(old_handle);
    Bus().Unplug(*first.device);
    ASSERT_TRUE(Eventually([&] { return !Listed(first.path); }));

    PlugOptions same;
    same.port = first.path.substr(std::string("usb:1-").size());
    Plugged second = PlugCamera(sim::Variant::k16MbLe, same);
    ASSERT_EQ(second.path, first.path);
    auto h = OpenOrFail(second.path);
    ASSERT_TRUE(h);
    EXPECT_EQ(second.device->counters().claims, 1);
    ASSERT_TRUE(h->Write(ReadCommandLe(0)).ok());
    std::vector<uint8_t> page(512);
    EXPECT_TRUE(h->Read(page).ok());
    EXPECT_EQ(old_handle->Read(page).error, IoError::DeviceGone);
}

TEST(UsbBackend, HotplugReachesTheDeviceMonitorWithTheDeviceIds) {
    platform::DeviceMonitor monitor;
    platform::DeviceAttributes foreign = sim::DefaultAttributes();
    foreign.product_id = 0x0001;
    PlugOptions foreign_port;
    foreign_port.port = FreshPort();
    Bus().Plug(MakeCamera(sim::Variant::k16MbLe, 0, foreign), foreign_port);

    const std::string port = FreshPort();
    PlugOptions options;
    options.port = port;
    auto camera = MakeCamera(sim::Variant::k16MbLe);
    MockUsbDevice& device = Bus().Plug(camera, options);

    std::vector<platform::DeviceEvent> events;
    ASSERT_TRUE(Eventually([&] {
        monitor.WaitForEvents(100);
        for (auto& e : monitor.TakeEvents())
            events.push_back(e);
        return !events.empty();
    }));
    ASSERT_EQ(events.size(), 1u) << "only the camera's arrival";
    EXPECT_EQ(events[0].kind, platform::DeviceEvent::Kind::Arrival);
    EXPECT_EQ(events[0].device_path, "usb:1-" + port);
    ASSERT_TRUE(events[0].attributes);
    EXPECT_EQ(events[0].attributes->vendor_id, 0x5A17);
    EXPECT_EQ(events[0].attributes->product_id, 0xC3E2);
    EXPECT_TRUE(Listed("usb:1-" + port)) << "listed by the time the arrival is seen";

    Bus().Unplug(device);
    std::vector<platform::DeviceEvent> removal;
    ASSERT_TRUE(Eventually([&] {
        monitor.WaitForEvents(100);
        for (auto& e : monitor.TakeEvents())
            removal.push_back(e);
        return !removal.empty();
    }));
    ASSERT_EQ(removal.size(), 1u);
    EXPECT_EQ(removal[0].kind, platform::DeviceEvent::Kind::Removal);
    EXPECT_EQ(removal[0].device_path, events[0].device_path);
    ASSERT_TRUE(removal[0].attributes);
    EXPECT_EQ(removal[0].attributes->product_id, 0xC3E2);
}

TEST(UsbBackend, WatchingWithAnOpenDeviceDoesNotPoll) {
    platform::DeviceMonitor monitor;
    Plugged cam = PlugCamera();
    ASSERT_TRUE(Eventually([&] {
        monitor.WaitForEvents(100);
        return !monitor.TakeEvents().empty();
    })) << "the arrival";
    auto h = OpenOrFail(cam.path);
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->Write(ReadCommandLe(0)).ok());
    // Let the monitor and libusb settle after the open, then watch the
    // usbfs traffic of an idle quarter second: a loop that spins on the
    // device's descriptor would reap thousands of times.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int before = cam.device->counters().reaps;
    EXPECT_FALSE(monitor.WaitForEvents(250));
    EXPECT_LE(cam.device->counters().reaps - before, 2);
}

TEST(UsbBackend, ADeviceNodeWithoutPermissionGivesAnActionableMessage) {
    PlugOptions options;
    options.node_mode = 0;
    Plugged cam = PlugCamera(sim::Variant::k16MbLe, options);
    testsupport::CapturedReports reports;
    // libusb runs only while something uses it; a watch keeps it running, so
    // that it starts as this process's user (the emulated bus's folders are
    // root's alone) and only the device node is opened as another.
    platform::DeviceMonitor monitor;
    // Root passes any permission check; open as an ordinary user would.
    auto open_as_user = [&](const std::string& path) {
        const bool root = ::geteuid() == 0;
        if (root)
            ::setfsuid(65534);
        platform::OpenResult result = platform::OpenPath(path);
        if (root)
            ::setfsuid(0);
        return result;
    };
    platform::OpenResult r = open_as_user(cam.path + "/PIPE00");
    EXPECT_FALSE(r.handle);
    EXPECT_EQ(r.error, platform::OpenError::AccessDenied);
    EXPECT_NE(r.message.find(cam.path), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("permission denied"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("70-quorbit-camera.rules"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("udevadm"), std::string::npos) << r.message;

    // The program and the library do not show open errors: the backend
    // reports this one itself, once per device.
    EXPECT_EQ(open_as_user(cam.path + "/PIPE01").error, platform::OpenError::AccessDenied);
    ASSERT_EQ(reports.reports().size(), 1u);
    EXPECT_EQ(reports.reports()[0].text, r.message);
}

}  // namespace
}  // namespace usbtest
