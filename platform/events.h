// Device arrival and removal, in place of the system's device-change messages.
// Every device path is given a node number the first time it is seen; the
// number stays the same for the life of the process. The hardware key of a
// node is its instance string, "USB\VID_5A17&PID_C3E2\<instance>".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct BackendEvent {
    enum class Kind { Arrival, Removal } kind;
    std::string device_path;
    // Instance string of the device when the backend knows it (at arrival);
    // empty otherwise.
    std::string hardware_key;
};

struct DeviceEvent {
    enum class Kind { Arrival, Removal } kind;
    uint32_t node = 0;
    std::string device_path;
};

class EventSource;

// Watches every backend of the table. Construct it on the thread that will
// read it; Fd() may be handed to a QSocketNotifier.
class DeviceMonitor {
  public:
    DeviceMonitor();
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // Readable while events are pending.
    int Fd() const;
    // Non-blocking: the events since the last call, in order.
    std::vector<DeviceEvent> TakeEvents();
    // Waits up to timeout_ms for the descriptor to become readable (tests).
    bool WaitForEvents(int timeout_ms);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Node number of a device path (assigned on first use).
uint32_t NodeForPath(const std::string& device_path);

// Hardware key (instance string) of a node: "" when the node is unknown.
std::string HardwareKey(uint32_t node);

// Remembers the hardware key of a path's node (backends call this when they
// learn it; the core fills it on enumeration and arrival).
void RememberHardwareKey(const std::string& device_path, const std::string& key);

// "USB\VID_5A17&PID_C3E2\<instance>" with four capital hex digits each.
std::string MakeHardwareKey(uint16_t vendor_id, uint16_t product_id, const std::string& instance);

}  // namespace platform
