// The device side of a bulk transfer: the camera's firmware answers OUT and
// IN transfers on its endpoints. The simulated camera implements this; the
// socket server of camsim and the in-process backend both drive it.
#pragma once

#include <span>

#include "platform/device.h"

namespace platform {

class Peripheral {
  public:
    virtual ~Peripheral() = default;
    // One OUT transfer (a command block or page data) on the interface or
    // the write pipe.
    virtual IoResult HandleOut(Endpoint endpoint, std::span<const uint8_t> data) = 0;
    // One IN transfer of buffer.size() bytes on the interface or the read pipe.
    virtual IoResult HandleIn(Endpoint endpoint, std::span<uint8_t> buffer) = 0;
    virtual DeviceAttributes Attributes() const = 0;
};

}  // namespace platform
