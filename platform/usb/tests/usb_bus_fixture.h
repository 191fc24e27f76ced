// One emulated USB bus for the whole test process: libusb keeps watching the
// bus it started on, so the testbed is made once, before libusb starts, and
// every test plugs and unplugs its own devices on it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/usb/tests/mock_usb_bus.h"
#include "sim/camera.h"
#include "sim/card_maker.h"

namespace usbtest {

MockUsbBus& Bus();

// A simulated camera of the variant with n photos on an in-memory card.
std::shared_ptr<sim::Camera> MakeCamera(
    sim::Variant variant, int photos = 0,
    platform::DeviceAttributes attributes = sim::DefaultAttributes());

// Polls cond (libusb learns of plugs on its own thread) until it holds or
// timeout_ms passes.
bool Eventually(const std::function<bool()>& cond, int timeout_ms = 3000);

// A fresh port below the root hub for each test ("7", "8", ...), so that no
// test sees another's devices.
std::string FreshPort();

}  // namespace usbtest
