// The camera's bulk pipe pair as libgphoto2 hands it to the driver: a
// platform::DeviceHandle over the GPPort, so that the card library's
// transport, pauses and retries run unchanged on top of it.
#pragma once

#include <gphoto2/gphoto2-port.h>

#include <chrono>
#include <optional>
#include <span>

#include "platform/device.h"

namespace quorbit_gphoto {

// The role a port result plays for the transport: a timeout is an aborted
// transfer (retried where the protocol retries), a camera that left the bus
// is gone, anything else a plain failure.
platform::IoError IoErrorFromPortResult(int gp_result);

// The same bulk transfer timeout as the library's own USB backend.
inline constexpr std::chrono::milliseconds kTransferTimeout{2000};

class PortDevice final : public platform::DeviceHandle {
  public:
    // The port stays owned by libgphoto2; it must outlive this object.
    explicit PortDevice(GPPort* port, platform::DeviceAttributes attributes = {});

    // One gp_port_write / gp_port_read per call; a short transfer fails.
    platform::IoResult Write(std::span<const uint8_t> data) override;
    platform::IoResult Read(std::span<uint8_t> buffer) override;
    std::optional<platform::DeviceAttributes> Attributes() override { return attributes_; }

    bool gone() const { return gone_; }

  private:
    platform::IoResult Finish(int result, size_t length, int endpoint);

    GPPort* port_;
    platform::DeviceAttributes attributes_;
    bool gone_ = false;
};

}  // namespace quorbit_gphoto
