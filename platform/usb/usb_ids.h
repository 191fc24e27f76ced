// Which USB devices present which device interface class. Over plain USB
// there is no interface class to ask for: the camera is known by its vendor
// and product ids, and this table is the one place that says so.
#pragma once

#include <array>
#include <cstdint>

#include "platform/guid.h"

namespace platform {

struct UsbClassBinding {
    Guid interface_class;
    uint16_t vendor_id;
    uint16_t product_id;
};

inline constexpr std::array<UsbClassBinding, 1> kUsbClassBindings = {{
    {CardInterfaceGuid, 0x5A17, 0xC3E2},
}};

// Whether a USB device with these ids is a member of the interface class.
constexpr bool UsbDeviceInClass(const Guid& interface_class, uint16_t vendor_id,
                                uint16_t product_id) {
    for (const UsbClassBinding& b : kUsbClassBindings) {
        if (b.interface_class == interface_class && b.vendor_id == vendor_id &&
            b.product_id == product_id) {
            return true;
        }
    }
    return false;
}

// Whether the backend serves a USB device with these ids at all.
constexpr bool IsKnownUsbDevice(uint16_t vendor_id, uint16_t product_id) {
    for (const UsbClassBinding& b : kUsbClassBindings) {
        if (b.vendor_id == vendor_id && b.product_id == product_id)
            return true;
    }
    return false;
}

}  // namespace platform
