// The backend interface behind the device layer, in the manner of a per-OS
// backend table: the core asks each backend in turn. A backend owns the paths
// that begin with its scheme and a colon.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device.h"
#include "platform/events.h"

namespace platform {

// A source of arrival and removal events of one backend. It exposes a file
// descriptor that becomes readable when Drain() has something to return, so
// that the monitor (and a Qt event loop) can wait without polling.
class EventSource {
  public:
    virtual ~EventSource() = default;
    virtual int Fd() const = 0;
    // Non-blocking: the events that happened since the last call.
    virtual std::vector<BackendEvent> Drain() = 0;
};

class Backend {
  public:
    virtual ~Backend() = default;
    // "sim", "usb", "mem": device paths of this backend start with "<scheme>:".
    virtual std::string_view Scheme() const = 0;
    // Present devices of the class, sorted by path.
    virtual std::vector<std::string> Enumerate(const Guid& interface_class) = 0;
    virtual OpenResult Open(std::string_view device_path, Endpoint endpoint) = 0;
    // Arrival and removal events, or null when the backend cannot watch.
    virtual std::unique_ptr<EventSource> Watch() = 0;
};

// The backend table. By default: the USB backend (when built), then the
// simulated-camera socket backend. Tests may replace it.
std::vector<Backend*> Backends();

// Replaces the table (not owned; the caller keeps the backends alive), or
// restores the default table when given an empty list.
void SetBackends(std::vector<Backend*> backends);

}  // namespace platform
