#include "platform/usb/usb_path.h"

namespace platform {

std::string UsbLocation(uint8_t bus, std::span<const uint8_t> ports) {
    std::string location = std::to_string(bus);
    // A root hub has no port of its own; the kernel calls it "usb<bus>" and
    // the location is then just the bus.
    for (size_t i = 0; i < ports.size(); ++i) {
        location += i == 0 ? '-' : '.';
        location += std::to_string(ports[i]);
    }
    return location;
}

std::string UsbDevicePath(uint8_t bus, std::span<const uint8_t> ports) {
    return std::string(kUsbScheme) + ":" + UsbLocation(bus, ports);
}

}  // namespace platform
