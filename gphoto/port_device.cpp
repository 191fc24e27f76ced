#include "gphoto/port_device.h"

#include <gphoto2/gphoto2-port-result.h>

#include <climits>

namespace quorbit_gphoto {

platform::IoError IoErrorFromPortResult(int gp_result) {
    if (gp_result >= 0)
        return platform::IoError::None;
    switch (gp_result) {
        case GP_ERROR_TIMEOUT:
            return platform::IoError::Aborted;
        // What the port library answers once the camera has left the bus.
        case GP_ERROR_IO_USB_FIND:
        case GP_ERROR_IO_INIT:
            return platform::IoError::DeviceGone;
        default:
            return platform::IoError::Failed;
    }
}

PortDevice::PortDevice(GPPort* port, platform::DeviceAttributes attributes)
    : port_(port), attributes_(std::move(attributes)) {}

platform::IoResult PortDevice::Write(std::span<const uint8_t> data) {
    if (gone_)
        return platform::IoResult::Failure(platform::IoError::DeviceGone);
    if (data.empty())
        return platform::IoResult::Success(0);
    if (data.size() > static_cast<size_t>(INT_MAX))
        return platform::IoResult::Failure(platform::IoError::Failed);
    const int result = gp_port_write(port_, reinterpret_cast<const char*>(data.data()),
                                     static_cast<int>(data.size()));
    return Finish(result, data.size(), GP_PORT_USB_ENDPOINT_OUT);
}

platform::IoResult PortDevice::Read(std::span<uint8_t> buffer) {
    if (gone_)
        return platform::IoResult::Failure(platform::IoError::DeviceGone);
    if (buffer.empty())
        return platform::IoResult::Success(0);
    if (buffer.size() > static_cast<size_t>(INT_MAX))
        return platform::IoResult::Failure(platform::IoError::Failed);
    const int result = gp_port_read(port_, reinterpret_cast<char*>(buffer.data()),
                                    static_cast<int>(buffer.size()));
    return Finish(result, buffer.size(), GP_PORT_USB_ENDPOINT_IN);
}

platform::IoResult PortDevice::Finish(int result, size_t length, int endpoint) {
    if (result >= 0) {
        const auto moved = static_cast<size_t>(result);
        if (moved == length)
            return platform::IoResult::Success(moved);
        return {platform::IoError::Failed, moved};  // short transfer
    }
    const platform::IoError error = IoErrorFromPortResult(result);
    if (error == platform::IoError::DeviceGone) {
        gone_ = true;
    } else if (error == platform::IoError::Failed) {
        // A stalled endpoint stays halted until cleared; clear it so that
        // the transport's next command can get through.
        gp_port_usb_clear_halt(port_, endpoint);
    }
    return platform::IoResult::Failure(error);
}

}  // namespace quorbit_gphoto
