#include "platform/usb/usb_context.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/usb/usb_ids.h"
#include "platform/usb/usb_path.h"

namespace platform {
namespace {

// USB allows seven tiers of hubs below the root.
constexpr int kMaxPortDepth = 7;

// How long the hotplug thread waits for another thread's event handling to
// finish before it looks at its descriptors again.
constexpr timeval kHandOverWait{0, 20000};

}  // namespace

std::string PathOfUsbDevice(libusb_device* device) {
    uint8_t ports[kMaxPortDepth];
    int n = libusb_get_port_numbers(device, ports, kMaxPortDepth);
    if (n < 0)
        n = 0;
    return UsbDevicePath(libusb_get_bus_number(device),
                         std::span<const uint8_t>(ports, static_cast<size_t>(n)));
}

std::shared_ptr<UsbContext> UsbContext::Create() {
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != LIBUSB_SUCCESS)
        return nullptr;
    return std::shared_ptr<UsbContext>(new UsbContext(ctx));
}

UsbContext::UsbContext(libusb_context* ctx) : ctx_(ctx) {}

UsbContext::~UsbContext() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stop_fd_, &one, sizeof one);
        thread_.join();
    }
    if (hotplug_registered_)
        libusb_hotplug_deregister_callback(ctx_, hotplug_handle_);
    if (stop_fd_ >= 0)
        ::close(stop_fd_);
    libusb_exit(ctx_);
}

bool UsbContext::Subscribe(HotplugSink* sink) {
    {
        std::lock_guard lock(start_mutex_);
        if (!started_) {
            started_ = true;
            if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
                hotplug_registered_ =
                    libusb_hotplug_register_callback(
                        ctx_,
                        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                        static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY,
                        LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, &UsbContext::OnHotplug,
                        this, &hotplug_handle_) == LIBUSB_SUCCESS;
            }
            if (hotplug_registered_) {
                stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
                if (stop_fd_ >= 0) {
                    thread_ = std::thread([this] { EventLoop(); });
                } else {
                    libusb_hotplug_deregister_callback(ctx_, hotplug_handle_);
                    hotplug_registered_ = false;
                }
            }
        }
        if (!hotplug_registered_)
            return false;
    }
    std::lock_guard lock(sinks_mutex_);
    sinks_.push_back(sink);
    return true;
}

void UsbContext::Unsubscribe(HotplugSink* sink) {
    std::lock_guard lock(sinks_mutex_);
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

int LIBUSB_CALL UsbContext::OnHotplug(libusb_context*, libusb_device* device,
                                      libusb_hotplug_event event, void* user_data) {
    auto* self = static_cast<UsbContext*>(user_data);
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(device, &desc) != LIBUSB_SUCCESS)
        return 0;
    if (!IsKnownUsbDevice(desc.idVendor, desc.idProduct))
        return 0;

    BackendEvent e{};
    e.device_path = PathOfUsbDevice(device);
    e.kind = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? BackendEvent::Kind::Arrival
                                                          : BackendEvent::Kind::Removal;
    // The descriptor is still there at a removal; the strings would need the
    // device opened.
    DeviceAttributes attributes;
    attributes.vendor_id = desc.idVendor;
    attributes.product_id = desc.idProduct;
    attributes.version = desc.bcdDevice;
    e.attributes = attributes;
    std::lock_guard lock(self->sinks_mutex_);
    for (HotplugSink* sink : self->sinks_)
        sink->Deliver(e);
    return 0;  // stay registered
}

void UsbContext::EventLoop() {
    for (;;) {
        // libusb's wake-up descriptors (its event and timer fds) are the ones
        // it polls for input; a device's usbfs descriptor is polled for
        // output, and under some emulations it is always ready, so it is
        // left to the threads that transfer.
        std::vector<pollfd> fds{{stop_fd_, POLLIN, 0}};
        if (const libusb_pollfd** list = libusb_get_pollfds(ctx_)) {
            for (const libusb_pollfd** p = list; *p; ++p) {
                if ((*p)->events & POLLIN)
                    fds.push_back({(*p)->fd, POLLIN, 0});
            }
            libusb_free_pollfds(list);
        }
        const int n = ::poll(fds.data(), fds.size(), -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        timeval wait = kHandOverWait;
        libusb_handle_events_timeout_completed(ctx_, &wait, nullptr);
    }
}

}  // namespace platform
