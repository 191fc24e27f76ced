// Device arrival and removal, each with the device's path and identity.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/device.h"

namespace platform {

struct BackendEvent {
    enum class Kind { Arrival, Removal } kind;
    std::string device_path;
    // The device's identity when the backend could read it; none otherwise.
    std::optional<DeviceAttributes> attributes;
};

struct DeviceEvent {
    enum class Kind { Arrival, Removal } kind;
    std::string device_path;
    // The device's identity: as read at its arrival, and the same again at its
    // removal (when the backend no longer reads it); none when it is unknown.
    std::optional<DeviceAttributes> attributes;
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

}  // namespace platform
