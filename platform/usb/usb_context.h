// The process's libusb context, and the one thread that delivers hotplug
// events while something watches for them.
//
// Transfers are synchronous and run libusb's event handling on the caller's
// thread, so the context needs no thread of its own until a device monitor
// asks for arrival and removal. The hotplug thread then sleeps in poll() on
// libusb's own wake-up descriptors only (never on a device's usbfs
// descriptor, which transfers handle themselves), so it costs nothing while
// nothing happens.
#pragma once

#include <libusb.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/events.h"

namespace platform {

class OpenUsbDevice;

// Receives the backend events of camera arrivals and removals. Called on the
// hotplug thread or a transferring thread; must not call into libusb.
class HotplugSink {
  public:
    virtual ~HotplugSink() = default;
    virtual void Deliver(BackendEvent event) = 0;
};

class UsbContext {
  public:
    // Null when libusb cannot start (no usbfs, as in a container without USB).
    static std::shared_ptr<UsbContext> Create();
    ~UsbContext();
    UsbContext(const UsbContext&) = delete;
    UsbContext& operator=(const UsbContext&) = delete;

    libusb_context* raw() const { return ctx_; }

    // Starts delivering to sink; false when this libusb cannot report hotplug.
    bool Subscribe(HotplugSink* sink);
    void Unsubscribe(HotplugSink* sink);

    // Open devices by path, so that the interface and both pipes of one
    // camera share one libusb handle and one claim. Guarded by open_mutex,
    // which is held across libusb_open but never taken by hotplug delivery.
    std::mutex& open_mutex() { return open_mutex_; }
    std::map<std::string, std::weak_ptr<OpenUsbDevice>>& open_devices() { return open_devices_; }

  private:
    explicit UsbContext(libusb_context* ctx);
    static int LIBUSB_CALL OnHotplug(libusb_context* ctx, libusb_device* device,
                                     libusb_hotplug_event event, void* user_data);
    void EventLoop();

    libusb_context* ctx_;

    std::mutex sinks_mutex_;
    std::vector<HotplugSink*> sinks_;

    std::mutex start_mutex_;
    bool started_ = false;
    bool hotplug_registered_ = false;
    libusb_hotplug_callback_handle hotplug_handle_{};
    int stop_fd_ = -1;
    std::thread thread_;

    std::mutex open_mutex_;
    std::map<std::string, std::weak_ptr<OpenUsbDevice>> open_devices_;
};

// "usb:1-1.4" of a device, from its bus and port numbers.
std::string PathOfUsbDevice(libusb_device* device);

}  // namespace platform
