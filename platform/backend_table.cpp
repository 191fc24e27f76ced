#include <mutex>

#include "platform/backend.h"
#include "platform/simsock/sim_backend.h"

// ---- USB backend: add its header here ----------------------------------------
#if defined(QUORBIT_WITH_USB) && QUORBIT_WITH_USB
#include "platform/usb/usb_backend.h"
#endif
// -------------------------------------------------------------------------------

namespace platform {
namespace {

std::vector<Backend*> DefaultBackends() {
    std::vector<Backend*> table;
    // ---- USB backend: real hardware comes first ------------------------------
#if defined(QUORBIT_WITH_USB) && QUORBIT_WITH_USB
    table.push_back(&UsbBackend());
#endif
    // ---------------------------------------------------------------------------
    table.push_back(&SimBackend());
    return table;
}

std::mutex& TableMutex() {
    static std::mutex mutex;
    return mutex;
}

// Empty means the default table.
std::vector<Backend*>& Replacement() {
    static std::vector<Backend*> table;
    return table;
}

}  // namespace

std::vector<Backend*> Backends() {
    std::lock_guard lock(TableMutex());
    if (!Replacement().empty())
        return Replacement();
    return DefaultBackends();
}

void SetBackends(std::vector<Backend*> backends) {
    std::lock_guard lock(TableMutex());
    Replacement() = std::move(backends);
}

}  // namespace platform
