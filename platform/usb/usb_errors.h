// What libusb's error codes mean to the callers of the device layer, and the
// sentences a user reads when the camera cannot be opened.
#pragma once

#include <string>
#include <string_view>

#include "platform/device.h"

namespace platform {

// The udev rule that lets the logged-in user open the camera.
inline constexpr std::string_view kUdevRuleName = "70-quorbit-camera.rules";

// A failed bulk transfer: the device left (NO_DEVICE) means the handle is
// done for; a timeout or an interrupted wait may be retried; anything else,
// a stall included, is a plain failure.
IoError IoErrorFromLibusb(int libusb_error);

OpenError OpenErrorFromLibusb(int libusb_error);

// The message of an OpenResult for a libusb error while opening or claiming
// the device at path.
std::string OpenErrorMessage(std::string_view device_path, int libusb_error);

}  // namespace platform
