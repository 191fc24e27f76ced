#include "platform/usb/usb_backend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "platform/report.h"
#include "platform/usb/usb_context.h"
#include "platform/usb/usb_device.h"
#include "platform/usb/usb_ids.h"
#include "platform/usb/usb_path.h"

namespace platform {
namespace {

std::atomic<long long> g_timeout_ms{2000};

// One open of the camera: the interface or one of its pipes. A pipe's
// direction is enforced where every backend's pipes are made (OpenPath).
class UsbDeviceHandle final : public DeviceHandle {
  public:
    explicit UsbDeviceHandle(std::shared_ptr<OpenUsbDevice> device) : device_(std::move(device)) {}

    IoResult Write(std::span<const uint8_t> data) override { return device_->Write(data); }
    IoResult Read(std::span<uint8_t> buffer) override { return device_->Read(buffer); }
    std::optional<DeviceAttributes> Attributes() override { return device_->Attributes(); }

  private:
    std::shared_ptr<OpenUsbDevice> device_;
};

class UsbEventSource final : public EventSource, public HotplugSink {
  public:
    explicit UsbEventSource(std::shared_ptr<UsbContext> context)
        : context_(std::move(context)), fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~UsbEventSource() override {
        if (subscribed_)
            context_->Unsubscribe(this);
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool Start() {
        subscribed_ = fd_ >= 0 && context_->Subscribe(this);
        return subscribed_;
    }

    int Fd() const override { return fd_; }

    std::vector<BackendEvent> Drain() override {
        std::lock_guard lock(mutex_);
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
        std::vector<BackendEvent> events;
        events.swap(pending_);
        return events;
    }

    void Deliver(BackendEvent event) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(event));
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }

  private:
    std::shared_ptr<UsbContext> context_;
    int fd_;
    bool subscribed_ = false;
    std::mutex mutex_;
    std::vector<BackendEvent> pending_;
};

// Owns a device list for the length of a lookup.
class DeviceList {
  public:
    explicit DeviceList(libusb_context* ctx) {
        const ssize_t n = libusb_get_device_list(ctx, &list_);
        count_ = n > 0 ? static_cast<size_t>(n) : 0;
    }
    ~DeviceList() {
        if (list_)
            libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    std::span<libusb_device*> devices() const { return {list_, count_}; }

  private:
    libusb_device** list_ = nullptr;
    size_t count_ = 0;
};

class UsbBackendImpl final : public Backend {
  public:
    std::string_view Scheme() const override { return kUsbScheme; }

    std::vector<std::string> Enumerate(const Guid& interface_class) override {
        std::vector<std::string> paths;
        std::shared_ptr<UsbContext> context = Context();
        if (!context)
            return paths;
        DeviceList list(context->raw());
        for (libusb_device* device : list.devices()) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(device, &desc) != LIBUSB_SUCCESS)
                continue;
            if (!UsbDeviceInClass(interface_class, desc.idVendor, desc.idProduct))
                continue;
            std::string path = PathOfUsbDevice(device);
            paths.push_back(std::move(path));
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    OpenResult Open(std::string_view device_path, Endpoint) override {
        OpenResult result;
        const std::string path(device_path);
        std::shared_ptr<UsbContext> context = Context();
        if (!context) {
            result.error = OpenError::NotFound;
            result.message = "cannot open the camera at " + path + ": this system has no USB";
            return result;
        }

        std::shared_ptr<OpenUsbDevice> open;
        {
            DeviceList list(context->raw());
            libusb_device* device = nullptr;
            for (libusb_device* d : list.devices()) {
                libusb_device_descriptor desc{};
                if (libusb_get_device_descriptor(d, &desc) != LIBUSB_SUCCESS)
                    continue;
                if (!IsKnownUsbDevice(desc.idVendor, desc.idProduct))
                    continue;
                if (PathOfUsbDevice(d) == path) {
                    device = d;
                    break;
                }
            }
            if (!device) {
                result.error = OpenError::NotFound;
                result.message = "cannot open the camera at " + path + ": it is not plugged in";
                return result;
            }

            std::lock_guard lock(context->open_mutex());
            auto& cache = context->open_devices();
            std::shared_ptr<OpenUsbDevice> existing;
            if (auto it = cache.find(path); it != cache.end())
                existing = it->second.lock();
            // Reuse the claim only for the same plugged-in device: a camera
            // replugged into the same socket is a new libusb device.
            if (existing && existing->device() == device && !existing->gone()) {
                open = std::move(existing);
            } else {
                open = OpenUsbDevice::Open(context, device, path, result);
                if (!open) {
                    ReportOpenProblemOnce(path, result);
                    return result;
                }
                ForgetOpenProblem(path);
                cache[path] = open;
            }
            // Drop stale entries so the map does not grow with every replug.
            std::erase_if(cache, [](const auto& entry) { return entry.second.expired(); });
        }
        result.handle = std::make_unique<UsbDeviceHandle>(std::move(open));
        result.error = OpenError::None;
        return result;
    }

    std::unique_ptr<EventSource> Watch() override {
        std::shared_ptr<UsbContext> context = Context();
        if (!context)
            return nullptr;
        auto source = std::make_unique<UsbEventSource>(std::move(context));
        if (!source->Start())
            return nullptr;
        return source;
    }

  private:
    // Neither the card library nor the program shows why an open failed, and
    // two causes are the user's to act on: a missing udev rule, and another
    // program holding the camera (a desktop daemon that imports photos
    // through libgphoto2). Say each once per device path, in the platform's
    // error report, until the path opens again.
    void ReportOpenProblemOnce(const std::string& path, const OpenResult& result) {
        if (result.error != OpenError::AccessDenied && result.error != OpenError::Busy)
            return;
        {
            std::lock_guard lock(mutex_);
            if (!reported_paths_.insert(path).second)
                return;
        }
        ReportError("USB camera", result.message);
    }
    void ForgetOpenProblem(const std::string& path) {
        std::lock_guard lock(mutex_);
        reported_paths_.erase(path);
    }

    // libusb runs only while something uses it: an enumeration, an open
    // device or a watch holds the context, and the last one to let go ends
    // it, with the thread libusb starts for itself. A host that closed the
    // camera keeps no thread of ours. A failed start is tried again next
    // time (usbfs may appear later, as under a test emulation).
    std::shared_ptr<UsbContext> Context() {
        std::lock_guard lock(mutex_);
        std::shared_ptr<UsbContext> context = context_.lock();
        if (!context) {
            context = UsbContext::Create();
            context_ = context;
        }
        return context;
    }

    std::mutex mutex_;
    std::weak_ptr<UsbContext> context_;
    std::set<std::string> reported_paths_;
};

}  // namespace

std::chrono::milliseconds UsbTransferTimeout() {
    return std::chrono::milliseconds(g_timeout_ms.load());
}

std::chrono::milliseconds SetUsbTransferTimeout(std::chrono::milliseconds timeout) {
    return std::chrono::milliseconds(g_timeout_ms.exchange(timeout.count()));
}

Backend& UsbBackend() {
    static UsbBackendImpl backend;
    return backend;
}

}  // namespace platform
