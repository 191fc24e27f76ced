#include "platform/simsock/wire.h"

#include <unistd.h>

#include <cstdlib>

namespace platform::simwire {

std::string CamsimDirectory() {
    if (const char* dir = std::getenv("CAMSIM_DIR"); dir && *dir)
        return dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/camsim";
    }
    return "/tmp/camsim-" + std::to_string(::getuid());
}

std::string SocketPathFor(const std::string& name) {
    return CamsimDirectory() + "/" + name + ".sock";
}

}  // namespace platform::simwire
