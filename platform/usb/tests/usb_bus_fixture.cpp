#include "platform/usb/tests/usb_bus_fixture.h"

#include <atomic>

namespace usbtest {

MockUsbBus& Bus() {
    static MockUsbBus* bus = new MockUsbBus;  // lives until the process ends
    return *bus;
}

std::shared_ptr<sim::Camera> MakeCamera(sim::Variant variant, int photos,
                                        platform::DeviceAttributes attributes) {
    std::vector<picture::Picture> images;
    for (int i = 0; i < photos; ++i) {
        picture::Picture image(322, 242);
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                uint8_t* p = image.At(x, y);
                p[0] = static_cast<uint8_t>(x + 40 * i);
                p[1] = static_cast<uint8_t>(y);
                p[2] = static_cast<uint8_t>(x ^ y);
            }
        }
        images.push_back(std::move(image));
    }
    std::string error;
    auto card = sim::MakeCardInMemory(variant, images, &error);
    if (!card)
        ADD_FAILURE() << error;
    return std::make_shared<sim::Camera>(variant, std::move(card), std::move(attributes),
                                         [](std::string_view) {});
}

bool Eventually(const std::function<bool()>& cond, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string FreshPort() {
    static std::atomic<int> next{2};
    return std::to_string(next++);
}

}  // namespace usbtest
