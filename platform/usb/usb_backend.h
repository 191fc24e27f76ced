// Backend "usb": the camera on a real USB bus, through libusb-1.0.
//
// - Members of CardInterfaceGuid are the USB devices with the camera's ids
//   (usb_ids.h), named by bus and port path: "usb:1-1.4" (usb_path.h).
// - A handle on the device path writes to the interface's bulk OUT endpoint
//   and reads from its bulk IN endpoint; "/PIPE00" is the bulk IN endpoint,
//   "/PIPE01" the bulk OUT one. Each call is one bulk transfer with a
//   timeout; handles on one device share its libusb handle and claim.
// - Arrival and removal come from libusb hotplug.
// On a machine without USB (libusb cannot start) the backend lists nothing,
// cannot watch and says nothing.
#pragma once

#include <chrono>

#include "platform/backend.h"

namespace platform {

Backend& UsbBackend();

// The timeout of every bulk transfer; returns the previous one.
std::chrono::milliseconds SetUsbTransferTimeout(std::chrono::milliseconds timeout);

}  // namespace platform
