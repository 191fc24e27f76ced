#include "app/devicelink.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <span>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/guid.h"
#include "platform/report.h"

namespace devicelink {
namespace {

constexpr int32_t kPieceThreshold = 0x8000;
constexpr size_t kPieceBytes = 512;

struct LinkState {
    std::mutex lock;  // guards everything below but `connected`
    std::string device_path;
    std::unique_ptr<platform::DeviceHandle> read_pipe;
    std::unique_ptr<platform::DeviceHandle> write_pipe;
    uint8_t piece_buffer[kPieceBytes] = {};
    std::atomic<uint8_t> connected{0};
    MessageSink sink;
};

LinkState& State() {
    static LinkState state;
    return state;
}

void ShowMessage(std::string_view text) {
    MessageSink sink = State().sink;  // copy: a sink may replace itself
    if (sink) {
        sink(text);
    } else {
        platform::ReportError("ZarvoLink", text);
    }
}

void ClosePipesLocked(LinkState& s) {
    s.read_pipe.reset();
    s.write_pipe.reset();
}

void OpenPipesLocked(LinkState& s) {
    // An unopened pipe stays null; the link then reads nothing through it.
    s.read_pipe = platform::OpenPath(s.device_path + std::string(platform::kReadPipeSuffix)).handle;
    s.write_pipe =
        platform::OpenPath(s.device_path + std::string(platform::kWritePipeSuffix)).handle;
}

bool SendCommandLocked(LinkState& s, const uint8_t (&block)[16]) {
    if (!s.write_pipe)
        return false;
    return s.write_pipe->Write(std::span<const uint8_t>(block, 16)).ok();
}

int64_t ReadPipeLocked(LinkState& s, uint8_t* destination, int32_t count) {
    if (!s.read_pipe || count <= 0)
        return 0;
    if (count < kPieceThreshold) {
        auto result = s.read_pipe->Read(std::span<uint8_t>(destination, count));
        return result.ok() ? static_cast<int64_t>(result.transferred) : 0;
    }
    const int32_t pieces = count / static_cast<int32_t>(kPieceBytes);
    int64_t delivered = 0;
    for (int32_t k = 0; k < pieces; ++k) {
        auto result = s.read_pipe->Read(std::span<uint8_t>(s.piece_buffer, kPieceBytes));
        std::memcpy(destination + kPieceBytes * k, s.piece_buffer, kPieceBytes);
        if (result.ok() && result.transferred == kPieceBytes)
            delivered += kPieceBytes;
    }
    return delivered;
}

// Node numbers of device paths and the hardware keys of nodes, in place of
// the system's device registry.
struct NodeRegistry {
    std::mutex lock;
    std::map<std::string, uint32_t> node_of_path;
    std::map<uint32_t, std::string> key_of_node;
    uint32_t next_node = 1;

    uint32_t NodeLocked(const std::string& path) {
        auto [it, inserted] = node_of_path.try_emplace(path, next_node);
        if (inserted)
            ++next_node;
        return it->second;
    }
};

NodeRegistry& Registry() {
    static NodeRegistry registry;
    return registry;
}

// Four characters after the key, or fewer when the string ends first.
std::string_view DigitsAfter(std::string_view instance, std::string_view key) {
    size_t at = instance.find(key);
    if (at == std::string_view::npos)
        return {};
    return instance.substr(at + key.size(), 4);
}

}  // namespace

MessageSink SetMessageSink(MessageSink sink) {
    MessageSink previous = std::move(State().sink);
    State().sink = std::move(sink);
    return previous;
}

uint16_t ParseId(std::string_view instance, std::string_view key) {
    std::string_view digits = DigitsAfter(instance, key);
    unsigned value = 0;
    bool valid = digits.size() == 4;
    for (char c : digits) {
        int d = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                         : -1;
        if (d < 0)
            valid = false;
        value = value * 16 + static_cast<unsigned>(d < 0 ? 0 : d);
    }
    if (!valid)
        throw lensmere::ConversionError("'$" + std::string(digits) +
                                        "' is not a valid integer value");
    return static_cast<uint16_t>(value);
}

void FindDevice(THidDeviceData& record, std::string_view instance) {
    record.instance = std::string(instance);
    record.vendor_id = ParseId(instance, "VID_");
    record.product_id = ParseId(instance, "PID_");
    record.manufacturer.clear();
    record.product.clear();
    record.serial_number.clear();
    record.physical_descriptor.clear();
    record.device_path.clear();

    // The enumeration hands over complete paths, so the two failures of
    // obtaining the set and reading a path cannot arise here.
    const std::vector<std::string> paths =
        platform::EnumerateInterfaces(platform::CardInterfaceGuid);
    for (const std::string& path : paths) {
        platform::OpenResult opened = platform::OpenPath(path);
        if (!opened.handle) {
            // A camera held by another program (a photo import daemon) is
            // the one failure the user can resolve: say so plainly.
            ShowMessage(opened.error == platform::OpenError::Busy ? std::string_view(opened.message)
                                                                  : kCannotOpenText);
            continue;
        }
        std::optional<platform::DeviceAttributes> attributes = opened.handle->Attributes();
        if (attributes && attributes->vendor_id == record.vendor_id &&
            attributes->product_id == record.product_id) {
            record.device_path = path;
            record.manufacturer = attributes->manufacturer;
            record.product = attributes->product;
            record.serial_number = attributes->serial_number;
            if (auto descriptor = opened.handle->PhysicalDescriptor()) {
                auto zero = std::find(descriptor->begin(), descriptor->end(), uint8_t{0});
                record.physical_descriptor.assign(descriptor->begin(), zero);
            }
            if (opened.handle->FeatureReport())
                ShowMessage(kFeatureReadText);
        }
        // Whatever its ids, the last interface that opens is the one the
        // link uses.
        {
            std::lock_guard guard(State().lock);
            State().device_path = path;
        }
        opened.handle.reset();
    }
}

void ProbeDevice() {
    LinkState& s = State();
    s.connected = 0;
    {
        std::lock_guard guard(s.lock);
        s.device_path.clear();
    }
    THidDeviceData scratch;
    FindDevice(scratch, kCameraInstance);
    std::lock_guard guard(s.lock);
    s.connected = s.device_path.empty() ? 0 : 1;
    if (s.connected)
        OpenPipesLocked(s);
}

bool IsConnected() {
    return State().connected != 0;
}

void OpenPipes() {
    std::lock_guard guard(State().lock);
    OpenPipesLocked(State());
}

void ClosePipes() {
    std::lock_guard guard(State().lock);
    ClosePipesLocked(State());
}

bool SendCommand(const uint8_t (&block)[16]) {
    std::lock_guard guard(State().lock);
    return SendCommandLocked(State(), block);
}

int64_t ReadPipe(uint8_t* destination, int32_t count) {
    std::lock_guard guard(State().lock);
    return ReadPipeLocked(State(), destination, count);
}

void BuildReadCommand(uint32_t address, uint8_t (&block)[16]) {
    std::memset(block, 0, sizeof block);
    block[0] = 0x85;
    block[1] = 0x71;
    block[2] = static_cast<uint8_t>(address);
    block[3] = static_cast<uint8_t>(address >> 8);
    block[4] = static_cast<uint8_t>(address >> 16);
}

bool ReadCardMemory(uint32_t address, int32_t count, uint8_t* destination) {
    uint8_t block[16];
    BuildReadCommand(address, block);
    LinkState& s = State();
    std::lock_guard guard(s.lock);
    bool sent = SendCommandLocked(s, block);
    platform::Pause(std::chrono::milliseconds(20));
    int64_t delivered = ReadPipeLocked(s, destination, count);
    return sent && delivered == count;
}

void DecodeDeviceChange(uint32_t event, const DeviceBroadcastHeader* header) {
    if (header == nullptr || header->device_type != kDeviceTypeDevNode)
        return;
    LinkState& s = State();
    if (event == kDeviceArrival) {
        std::string key = ReadHardwareKey(header->devnode);
        THidDeviceData scratch;
        FindDevice(scratch, key);
        s.connected = 1;
        std::lock_guard guard(s.lock);
        ClosePipesLocked(s);
        OpenPipesLocked(s);
    } else if (event == kDeviceRemoveComplete) {
        s.connected = 0;
        std::lock_guard guard(s.lock);
        ClosePipesLocked(s);
    }
}

DeviceChange DeviceChangeFor(const platform::DeviceEvent& event) {
    NodeRegistry& r = Registry();
    std::lock_guard guard(r.lock);
    DeviceChange change;
    change.header.device_type = kDeviceTypeDevNode;
    change.header.devnode = r.NodeLocked(event.device_path);
    if (event.kind == platform::DeviceEvent::Kind::Arrival) {
        change.event = kDeviceArrival;
        // Every backend names a device "<scheme>:<instance>".
        const size_t colon = event.device_path.find(':');
        const std::string_view instance =
            std::string_view(event.device_path).substr(colon == std::string::npos ? 0 : colon + 1);
        if (event.attributes) {
            r.key_of_node[change.header.devnode] =
                InstanceString(event.attributes->vendor_id, event.attributes->product_id, instance);
        }
    } else {
        change.event = kDeviceRemoveComplete;
    }
    return change;
}

uint32_t NodeForPath(const std::string& device_path) {
    NodeRegistry& r = Registry();
    std::lock_guard guard(r.lock);
    return r.NodeLocked(device_path);
}

std::string ReadHardwareKey(uint32_t node) {
    NodeRegistry& r = Registry();
    std::lock_guard guard(r.lock);
    auto it = r.key_of_node.find(node);
    return it == r.key_of_node.end() ? std::string() : it->second;
}

std::string InstanceString(uint16_t vendor_id, uint16_t product_id, std::string_view instance) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "USB\\VID_%04X&PID_%04X\\",
                  static_cast<unsigned>(vendor_id), static_cast<unsigned>(product_id));
    return prefix + std::string(instance);
}

std::string DevicePath() {
    std::lock_guard guard(State().lock);
    return State().device_path;
}

void Shutdown() {
    LinkState& s = State();
    s.connected = 0;
    std::lock_guard guard(s.lock);
    ClosePipesLocked(s);
    s.device_path.clear();
}

}  // namespace devicelink
