#include "platform/inprocess/inprocess_backend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <deque>

namespace platform {
namespace {

constexpr std::string_view kPrefix = "mem:";

// One plug-in of a peripheral. Handles keep it; unplugging marks it detached
// so they fail from then on, even when a device of the same name comes back.
struct Attachment {
    std::shared_ptr<Peripheral> device;
    std::atomic<bool> attached{true};
    // A camera's firmware serves one transfer at a time, whichever pipe it
    // comes from; peripherals need not be thread-safe.
    std::mutex serial;
};

class InProcessEventSource;

}  // namespace

struct InProcessBackend::Shared {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Attachment>> devices;  // by name
    std::vector<std::weak_ptr<InProcessEventSource>> watchers;

    void Broadcast(const BackendEvent& event);
};

namespace {

class InProcessEventSource final : public EventSource {
  public:
    InProcessEventSource() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~InProcessEventSource() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Fd() const override { return fd_; }

    std::vector<BackendEvent> Drain() override {
        std::lock_guard lock(mutex_);
        uint64_t count;
        while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
        }
        std::vector<BackendEvent> events(queue_.begin(), queue_.end());
        queue_.clear();
        return events;
    }

    void Push(const BackendEvent& event) {
        std::lock_guard lock(mutex_);
        queue_.push_back(event);
        const uint64_t one = 1;
        while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

  private:
    int fd_;
    std::mutex mutex_;
    std::deque<BackendEvent> queue_;
};

// Kept alive by the handle alone, so that it may outlive the backend.
class InProcessHandle final : public DeviceHandle {
  public:
    InProcessHandle(std::shared_ptr<Attachment> attachment, Endpoint endpoint)
        : attachment_(std::move(attachment)), endpoint_(endpoint) {}

    IoResult Write(std::span<const uint8_t> data) override {
        if (!attachment_->attached)
            return IoResult::Failure(IoError::DeviceGone);
        std::lock_guard lock(attachment_->serial);
        return Complete(attachment_->device->HandleOut(endpoint_, data), data.size());
    }

    IoResult Read(std::span<uint8_t> buffer) override {
        if (!attachment_->attached)
            return IoResult::Failure(IoError::DeviceGone);
        std::lock_guard lock(attachment_->serial);
        return Complete(attachment_->device->HandleIn(endpoint_, buffer), buffer.size());
    }

    std::optional<DeviceAttributes> Attributes() override {
        if (!attachment_->attached)
            return std::nullopt;
        std::lock_guard lock(attachment_->serial);
        return attachment_->device->Attributes();
    }

  private:
    // Every call is one whole transfer: a peripheral that moved less than
    // asked has failed it.
    static IoResult Complete(IoResult r, size_t requested) {
        if (r.ok() && r.transferred != requested)
            return IoResult::Failure(IoError::Failed);
        return r;
    }

    std::shared_ptr<Attachment> attachment_;
    Endpoint endpoint_;
};

}  // namespace

void InProcessBackend::Shared::Broadcast(const BackendEvent& event) {
    for (auto it = watchers.begin(); it != watchers.end();) {
        if (auto watcher = it->lock()) {
            watcher->Push(event);
            ++it;
        } else {
            it = watchers.erase(it);
        }
    }
}

InProcessBackend::InProcessBackend() : shared_(std::make_shared<Shared>()) {}

InProcessBackend::~InProcessBackend() {
    std::lock_guard lock(shared_->mutex);
    for (auto& [name, attachment] : shared_->devices)
        attachment->attached = false;
    shared_->devices.clear();
}

void InProcessBackend::Attach(const std::string& name, std::shared_ptr<Peripheral> device) {
    if (!device)
        return;
    const std::string path = std::string(kPrefix) + name;
    const DeviceAttributes attributes = device->Attributes();

    std::lock_guard lock(shared_->mutex);
    auto attachment = std::make_shared<Attachment>();
    attachment->device = std::move(device);
    auto [it, inserted] = shared_->devices.try_emplace(name, attachment);
    if (!inserted) {
        // Plugging a new camera in under a name in use unplugs the old one.
        it->second->attached = false;
        it->second = attachment;
        shared_->Broadcast({BackendEvent::Kind::Removal, path, {}});
    }
    shared_->Broadcast({BackendEvent::Kind::Arrival, path, attributes});
}

void InProcessBackend::Detach(const std::string& name) {
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->devices.find(name);
    if (it == shared_->devices.end())
        return;
    it->second->attached = false;
    shared_->devices.erase(it);
    shared_->Broadcast({BackendEvent::Kind::Removal, std::string(kPrefix) + name, {}});
}

std::vector<std::string> InProcessBackend::Enumerate(const Guid& interface_class) {
    std::vector<std::string> paths;
    if (interface_class != CardInterfaceGuid)
        return paths;
    std::lock_guard lock(shared_->mutex);
    for (auto& [name, attachment] : shared_->devices)
        paths.push_back(std::string(kPrefix) + name);
    return paths;  // the map keeps them sorted
}

OpenResult InProcessBackend::Open(std::string_view device_path, Endpoint endpoint) {
    OpenResult result;
    if (device_path.substr(0, kPrefix.size()) == kPrefix) {
        const std::string name(device_path.substr(kPrefix.size()));
        std::lock_guard lock(shared_->mutex);
        auto it = shared_->devices.find(name);
        if (it != shared_->devices.end()) {
            result.handle = std::make_unique<InProcessHandle>(it->second, endpoint);
            return result;
        }
    }
    result.error = OpenError::NotFound;
    result.message = "No device is attached as \"" + std::string(device_path) + "\".";
    return result;
}

std::unique_ptr<EventSource> InProcessBackend::Watch() {
    auto source = std::make_shared<InProcessEventSource>();
    if (source->Fd() < 0)
        return nullptr;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->watchers.push_back(source);
    }
    // The monitor owns a unique_ptr; the backend keeps only a weak reference
    // to the shared state behind it.
    class Owner final : public EventSource {
      public:
        explicit Owner(std::shared_ptr<InProcessEventSource> s) : s_(std::move(s)) {}
        int Fd() const override { return s_->Fd(); }
        std::vector<BackendEvent> Drain() override { return s_->Drain(); }

      private:
        std::shared_ptr<InProcessEventSource> s_;
    };
    return std::make_unique<Owner>(std::move(source));
}

ScopedInProcessBackend::ScopedInProcessBackend() {
    SetBackends({&backend_});
}

ScopedInProcessBackend::~ScopedInProcessBackend() {
    SetBackends({});
}

}  // namespace platform
