// Backend "sim": cameras served by camsim processes (or by a simsock::Server
// in a test) over Unix seqpacket sockets in the camera directory; the wire
// format is in wire.h. "sim:kitchen" is the socket "<dir>/kitchen.sock".
//
// The directory is read anew on every call, so $CAMSIM_DIR may change between
// calls (tests give each case its own). A socket file whose server has gone
// (a camsim killed with SIGKILL leaves its file behind) refuses connections;
// enumeration treats it as absent and removes it.
//
// Only the user's own cameras are used: the directory must belong to the
// user and be writable by nobody else, and each socket's server must run as
// the user or as root. Otherwise a directory that another user made first
// (/tmp/camsim-<uid>) would hand that user the photos and uploads. Anything
// else is skipped, and why is reported once (platform::ReportError).
#pragma once

#include "platform/backend.h"

namespace platform {

class SimSocketBackend final : public Backend {
  public:
    std::string_view Scheme() const override { return "sim"; }
    std::vector<std::string> Enumerate(const Guid& interface_class) override;
    OpenResult Open(std::string_view device_path, Endpoint endpoint) override;
    // Watches the directory (creating it with mode 0700 if missing) with
    // inotify; null when it is not the user's own. An arrival is reported once the camera answers;
    // a removal only for a camera that was present.
    std::unique_ptr<EventSource> Watch() override;
};

// The instance in the default backend table.
Backend& SimBackend();

}  // namespace platform
