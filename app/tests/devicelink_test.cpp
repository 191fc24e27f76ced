#include "app/devicelink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/inprocess/inprocess_backend.h"
#include "platform/peripheral.h"
#include "testsupport/recording_clock.h"

namespace {

using platform::Endpoint;
using platform::IoResult;

// A device of the camera's class that records every transfer and answers IN
// transfers with a counting pattern.
class RecordingDevice : public platform::Peripheral {
  public:
    explicit RecordingDevice(uint16_t vid = 0x5A17, uint16_t pid = 0xC3E2) {
        attributes_.vendor_id = vid;
        attributes_.product_id = pid;
        attributes_.manufacturer = "Maker";
        attributes_.product = "Camera";
        attributes_.serial_number = "0001";
    }
    IoResult HandleOut(Endpoint endpoint, std::span<const uint8_t> data) override {
        std::lock_guard lock(mutex_);
        outs_.push_back({endpoint, {data.begin(), data.end()}});
        return IoResult::Success(data.size());
    }
    IoResult HandleIn(Endpoint endpoint, std::span<uint8_t> buffer) override {
        if (on_in_)
            on_in_(Ins());
        std::lock_guard lock(mutex_);
        in_sizes_.push_back(buffer.size());
        in_endpoints_.push_back(endpoint);
        for (auto& b : buffer)
            b = static_cast<uint8_t>(next_++);
        return IoResult::Success(buffer.size());
    }
    platform::DeviceAttributes Attributes() const override { return attributes_; }

    struct Out {
        Endpoint endpoint;
        std::vector<uint8_t> data;
    };
    std::vector<Out> Outs() {
        std::lock_guard lock(mutex_);
        return outs_;
    }
    std::vector<size_t> InSizes() {
        std::lock_guard lock(mutex_);
        return in_sizes_;
    }
    size_t Ins() {
        std::lock_guard lock(mutex_);
        return in_sizes_.size();
    }
    std::vector<Endpoint> InEndpoints() {
        std::lock_guard lock(mutex_);
        return in_endpoints_;
    }
    std::function<void(size_t)> on_in_;

  private:
    std::mutex mutex_;
    platform::DeviceAttributes attributes_;
    std::vector<Out> outs_;
    std::vector<size_t> in_sizes_;
    std::vector<Endpoint> in_endpoints_;
    unsigned next_ = 1;
};

class DeviceLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        devicelink::Shutdown();
        devicelink::SetMessageSink([this](std::string_view text) { messages_.emplace_back(text); });
    }
    void TearDown() override {
        devicelink::Shutdown();
        devicelink::SetMessageSink({});
    }
    platform::InProcessBackend& Backend() { return scoped_.backend(); }

    platform::ScopedInProcessBackend scoped_;
    testsupport::RecordingClock clock_;
    platform::ScopedClock use_clock_{&clock_};
    std::vector<std::string> messages_;
};

TEST_F(DeviceLinkTest, NoCameraMeansNoPipesAndUntouchedBuffers) {
    devicelink::ProbeDevice();
    EXPECT_FALSE(devicelink::IsConnected());
    EXPECT_EQ(devicelink::DevicePath(), "");
    EXPECT_TRUE(messages_.empty());
    std::vector<uint8_t> buffer(0x8000, 0x5C);
    EXPECT_FALSE(devicelink::ReadCardMemory(0xFFE000, 1536, buffer.data()));
    EXPECT_FALSE(devicelink::ReadCardMemory(0, 0x8000, buffer.data()));
    EXPECT_EQ(buffer, std::vector<uint8_t>(0x8000, 0x5C));
}

TEST_F(DeviceLinkTest, CameraFoundOpensBothPipes) {
    auto camera = std::make_shared<RecordingDevice>();
    Backend().Attach("cam", camera);
    devicelink::ProbeDevice();
    EXPECT_TRUE(devicelink::IsConnected());
    EXPECT_EQ(devicelink::DevicePath(), "mem:cam");
    std::vector<uint8_t> buffer(1536);
    EXPECT_TRUE(devicelink::ReadCardMemory(0xFFE000, 1536, buffer.data()));
    auto outs = camera->Outs();
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(outs[0].endpoint, Endpoint::WritePipe);
    ASSERT_EQ(camera->InEndpoints().size(), 1u);
    EXPECT_EQ(camera->InEndpoints()[0], Endpoint::ReadPipe);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[1535], static_cast<uint8_t>(1536));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DeviceLinkTest, ReadCommandCarriesTheByteAddressAndPauses20ms) {
    auto camera = std::make_shared<RecordingDevice>();
    Backend().Attach("cam", camera);
    devicelink::ProbeDevice();
    std::vector<uint8_t> buffer(0x8000);
    clock_.Clear();
    devicelink::ReadCardMemory(0xFFE000, 1536, buffer.data());
    devicelink::ReadCardMemory(0x4C000, 0x8000, buffer.data());
    devicelink::ReadCardMemory(0x1234567, 1536, buffer.data());
    auto outs = camera->Outs();
    ASSERT_EQ(outs.size(), 3u);
    const std::vector<uint8_t> system_block = {0x85, 0x71, 0x00, 0xE0, 0xFF, 0, 0, 0,
                                               0,    0,    0,    0,    0,    0, 0, 0};
    const std::vector<uint8_t> slot_one = {0x85, 0x71, 0x00, 0xC0, 0x04, 0, 0, 0,
                                           0,    0,    0,    0,    0,    0, 0, 0};
    EXPECT_EQ(outs[0].data, system_block);
    EXPECT_EQ(outs[1].data, slot_one);
    // Only the low 24 bits travel.
    EXPECT_EQ(outs[2].data[2], 0x67);
    EXPECT_EQ(outs[2].data[3], 0x45);
    EXPECT_EQ(outs[2].data[4], 0x23);
    EXPECT_EQ(outs[2].data[5], 0x00);
    auto pauses = clock_.Pauses();
    ASSERT_EQ(pauses.size(), 3u);
    for (auto p : pauses)
        EXPECT_EQ(p, std::chrono::milliseconds(20));
}

TEST_F(DeviceLinkTest, LargeReadsTravelIn512BytePieces) {
    auto camera = std::make_shared<RecordingDevice>();
    Backend().Attach("cam", camera);
    devicelink::ProbeDevice();

    std::vector<uint8_t> buffer(0x8000 + 100, 0xEE);
    EXPECT_TRUE(devicelink::ReadCardMemory(0, 0x7FFF, buffer.data()));
    EXPECT_EQ(camera->InSizes(), std::vector<size_t>{0x7FFF});

    EXPECT_TRUE(devicelink::ReadCardMemory(0, 0x8000, buffer.data()));
    auto sizes = camera->InSizes();
    ASSERT_EQ(sizes.size(), 1u + 64u);
    for (size_t i = 1; i < sizes.size(); ++i)
        ASSERT_EQ(sizes[i], 512u);

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    // 0x8000 + 100 bytes: 64 pieces again, the last 100 bytes never arrive,
    // and the link says so.
    EXPECT_FALSE(devicelink::ReadCardMemory(0, 0x8000 + 100, buffer.data()));
    EXPECT_EQ(camera->InSizes().size(), 1u + 64u + 64u);
    EXPECT_NE(buffer[0x7FFF], 0xEE);
    for (size_t i = 0x8000; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0xEE) << i;
}

TEST_F(DeviceLinkTest, LastInterfaceThatOpensBecomesThePathWhateverItsIds) {
    auto camera = std::make_shared<RecordingDevice>();
    auto other = std::make_shared<RecordingDevice>(0x1111, 0x2222);
    Backend().Attach("a-cam", camera);
    Backend().Attach("b-other", other);
    devicelink::THidDeviceData record;
    devicelink::FindDevice(record, devicelink::kCameraInstance);
    EXPECT_EQ(record.vendor_id, 0x5A17);
    EXPECT_EQ(record.product_id, 0xC3E2);
    EXPECT_EQ(record.instance, std::string(devicelink::kCameraInstance));
    EXPECT_EQ(record.device_path, "mem:a-cam");
    EXPECT_EQ(record.manufacturer, "Maker");
    EXPECT_EQ(record.product, "Camera");
    EXPECT_EQ(record.serial_number, "0001");
    EXPECT_EQ(record.physical_descriptor, "");
    EXPECT_EQ(devicelink::DevicePath(), "mem:b-other");
    // The camera answers no feature report, so "could" is not shown.
    EXPECT_TRUE(messages_.empty());

    devicelink::ProbeDevice();
    EXPECT_TRUE(devicelink::IsConnected());
    EXPECT_EQ(devicelink::DevicePath(), "mem:b-other");
}

TEST_F(DeviceLinkTest, OtherIdsSupplyThePathButNoStrings) {
    Backend().Attach("other", std::make_shared<RecordingDevice>(0x1111, 0x2222));
    devicelink::THidDeviceData record;
    record.manufacturer = "stale";
    devicelink::FindDevice(record, devicelink::kCameraInstance);
    EXPECT_EQ(record.device_path, "");
    EXPECT_EQ(record.manufacturer, "");
    EXPECT_EQ(devicelink::DevicePath(), "mem:other");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DeviceLinkTest, BadInstanceStringIsAConversionError) {
    EXPECT_EQ(devicelink::ParseId("USB\\VID_5A17&PID_c3e2\\X", "PID_"), 0xC3E2);
    devicelink::THidDeviceData record;
    try {
        devicelink::FindDevice(record, "USB\\VID_5A1G&PID_C3E2\\INST_0");
        FAIL();
    } catch (const lensmere::ConversionError& e) {
        EXPECT_STREQ(e.what(), "'$5A1G' is not a valid integer value");
    }
    try {
        devicelink::FindDevice(record, "USB\\VID_5A17\\INST_0");
        FAIL();
    } catch (const lensmere::ConversionError& e) {
        EXPECT_STREQ(e.what(), "'$' is not a valid integer value");
    }
    try {
        devicelink::FindDevice(record, "VID_5A17&PID_C3");
        FAIL();
    } catch (const lensmere::ConversionError& e) {
        EXPECT_STREQ(e.what(), "'$C3' is not a valid integer value");
    }
}

TEST_F(DeviceLinkTest, ArrivalAndRemovalOfAnyNodeSwitchPresence) {
    devicelink::ProbeDevice();
    ASSERT_FALSE(devicelink::IsConnected());
    platform::DeviceMonitor monitor;
    auto camera = std::make_shared<RecordingDevice>();
    Backend().Attach("cam", camera);
    ASSERT_TRUE(monitor.WaitForEvents(1000));
    const std::vector<platform::DeviceEvent> events = monitor.TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    const devicelink::DeviceChange arrival = devicelink::DeviceChangeFor(events[0]);
    EXPECT_EQ(arrival.event, devicelink::kDeviceArrival);
    devicelink::DeviceBroadcastHeader header = arrival.header;
    EXPECT_EQ(header.device_type, devicelink::kDeviceTypeDevNode);
    EXPECT_EQ(header.devnode, devicelink::NodeForPath("mem:cam"));
    EXPECT_EQ(devicelink::ReadHardwareKey(header.devnode), "USB\\VID_5A17&PID_C3E2\\cam");

    // Another device type or another event changes nothing.
    devicelink::DeviceBroadcastHeader volume = header;
    volume.device_type = 2;
    devicelink::DecodeDeviceChange(devicelink::kDeviceArrival, &volume);
    devicelink::DecodeDeviceChange(0x8001, &header);
    EXPECT_FALSE(devicelink::IsConnected());

    devicelink::DecodeDeviceChange(devicelink::kDeviceArrival, &header);
    EXPECT_TRUE(devicelink::IsConnected());
    EXPECT_EQ(devicelink::DevicePath(), "mem:cam");
    std::vector<uint8_t> buffer(1536);
    EXPECT_TRUE(devicelink::ReadCardMemory(0xFFE000, 1536, buffer.data()));

    devicelink::DecodeDeviceChange(devicelink::kDeviceRemoveComplete, &header);
    EXPECT_FALSE(devicelink::IsConnected());
    EXPECT_FALSE(devicelink::ReadCardMemory(0xFFE000, 1536, buffer.data()));
    EXPECT_EQ(camera->Outs().size(), 1u);

    // An arrival whose enumeration finds nothing reopens the pipes under the
    // old path.
    devicelink::DecodeDeviceChange(devicelink::kDeviceArrival, &header);
    EXPECT_TRUE(devicelink::IsConnected());
    EXPECT_TRUE(devicelink::ReadCardMemory(0xFFE000, 1536, buffer.data()));
}

TEST_F(DeviceLinkTest, NodesAreStablePerPathAndKeysUnknownUntilAnArrival) {
    // Nodes live as long as the process: fresh paths for every repetition.
    static int round = 0;
    const std::string instance = "node-a" + std::to_string(++round);
    const std::string path_a = "test:" + instance;
    const uint32_t a = devicelink::NodeForPath(path_a);
    const uint32_t b = devicelink::NodeForPath("test:node-b" + std::to_string(round));
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(devicelink::NodeForPath(path_a), a);
    EXPECT_EQ(devicelink::ReadHardwareKey(a), "");
    EXPECT_EQ(devicelink::ReadHardwareKey(0), "");

    platform::DeviceAttributes attributes;
    attributes.vendor_id = 0x5A17;
    attributes.product_id = 0xC3E2;
    const devicelink::DeviceChange arrival =
        devicelink::DeviceChangeFor({platform::DeviceEvent::Kind::Arrival, path_a, attributes});
    EXPECT_EQ(arrival.header.devnode, a);
    EXPECT_EQ(devicelink::ReadHardwareKey(a), "USB\\VID_5A17&PID_C3E2\\" + instance);
    // A removal keeps the key; an arrival the platform could not identify learns none.
    const devicelink::DeviceChange removal =
        devicelink::DeviceChangeFor({platform::DeviceEvent::Kind::Removal, path_a, {}});
    EXPECT_EQ(removal.event, devicelink::kDeviceRemoveComplete);
    EXPECT_EQ(removal.header.devnode, a);
    EXPECT_EQ(devicelink::ReadHardwareKey(a), "USB\\VID_5A17&PID_C3E2\\" + instance);
    devicelink::DeviceChangeFor({platform::DeviceEvent::Kind::Arrival, "test:unknown", {}});
    EXPECT_EQ(devicelink::ReadHardwareKey(devicelink::NodeForPath("test:unknown")), "");
    EXPECT_EQ(devicelink::InstanceString(0x1, 0xabcd, "x"), "USB\\VID_0001&PID_ABCD\\x");
}

TEST_F(DeviceLinkTest, UnpluggedCameraReadsFail) {
    Backend().Attach("cam", std::make_shared<RecordingDevice>());
    devicelink::ProbeDevice();
    Backend().Detach("cam");
    std::vector<uint8_t> buffer(0x8000, 0x33);
    EXPECT_FALSE(devicelink::ReadCardMemory(0, 0x8000, buffer.data()));
    EXPECT_FALSE(devicelink::ReadCardMemory(0, 1536, buffer.data()));
}

TEST_F(DeviceLinkTest, RemovalWaitsForAReadInProgress) {
    auto camera = std::make_shared<RecordingDevice>();
    Backend().Attach("cam", camera);
    devicelink::ProbeDevice();
    const devicelink::DeviceBroadcastHeader header =
        devicelink::DeviceChangeFor({platform::DeviceEvent::Kind::Removal, "mem:cam", {}}).header;

    std::mutex m;
    std::condition_variable cv;
    bool removed = false;
    bool removal_finished_during_read = false;
    std::thread remover;
    camera->on_in_ = [&](size_t ins_so_far) {
        if (ins_so_far == 0) {
            remover = std::thread([&] {
                devicelink::DecodeDeviceChange(devicelink::kDeviceRemoveComplete, &header);
                std::lock_guard lock(m);
                removed = true;
                cv.notify_all();
            });
            // Give an unserialised removal every chance to close the pipes
            // in the middle of this read.
            std::unique_lock lock(m);
            removal_finished_during_read =
                cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return removed; });
        }
    };
    std::vector<uint8_t> buffer(0x8000);
    EXPECT_TRUE(devicelink::ReadCardMemory(0, 0x8000, buffer.data()));
    remover.join();
    EXPECT_FALSE(removal_finished_during_read);
    EXPECT_EQ(camera->Ins(), 64u);
    EXPECT_FALSE(devicelink::IsConnected());
    EXPECT_FALSE(devicelink::ReadCardMemory(0, 1536, buffer.data()));
}

}  // namespace
