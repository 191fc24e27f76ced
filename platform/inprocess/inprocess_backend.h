// Backend "mem": devices that live in this process. Tests attach a simulated
// camera object under a name and the library or the device link reaches it
// through ordinary device paths ("mem:<name>"), without sockets. Attaching and
// detaching raise arrival and removal events like a real plug and unplug.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/peripheral.h"

namespace platform {

class InProcessBackend final : public Backend {
  public:
    InProcessBackend();
    ~InProcessBackend() override;

    // Makes a device present as "mem:<name>".
    void Attach(const std::string& name, std::shared_ptr<Peripheral> device);
    // Unplugs it: open handles fail with DeviceGone from now on.
    void Detach(const std::string& name);

    std::string_view Scheme() const override { return "mem"; }
    std::vector<std::string> Enumerate(const Guid& interface_class) override;
    OpenResult Open(std::string_view device_path, Endpoint endpoint) override;
    std::unique_ptr<EventSource> Watch() override;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// Installs a fresh InProcessBackend as the only backend for the lifetime of
// the guard (unit tests), restoring the default table afterwards.
class ScopedInProcessBackend {
  public:
    ScopedInProcessBackend();
    ~ScopedInProcessBackend();
    InProcessBackend& backend() { return backend_; }

  private:
    InProcessBackend backend_;
};

}  // namespace platform
