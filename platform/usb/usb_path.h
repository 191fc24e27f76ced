// Device paths of the USB backend name a device by where it is plugged in:
// "usb:<bus>-<port>[.<port>...]", the numbering the kernel uses in sysfs
// ("usb:1-1.4" is port 4 of the hub on port 1 of bus 1). The path stays the
// same when the camera is replugged into the same socket, which a device
// address does not.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::string_view kUsbScheme = "usb";

// "1-1.4": the location without the scheme, also the instance part of the
// device's hardware key.
std::string UsbLocation(uint8_t bus, std::span<const uint8_t> ports);

// "usb:1-1.4"
std::string UsbDevicePath(uint8_t bus, std::span<const uint8_t> ports);

}  // namespace platform
