#include "platform/events.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/backend.h"

namespace platform {
namespace {

struct NodeRegistry {
    std::mutex mutex;
    std::map<std::string, uint32_t> node_of_path;
    std::map<uint32_t, std::string> key_of_node;
    uint32_t next_node = 1;

    uint32_t NodeLocked(const std::string& path) {
        auto [it, inserted] = node_of_path.try_emplace(path, next_node);
        if (inserted)
            ++next_node;
        return it->second;
    }
};

NodeRegistry& Registry() {
    static NodeRegistry registry;
    return registry;
}

}  // namespace

uint32_t NodeForPath(const std::string& device_path) {
    NodeRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    return r.NodeLocked(device_path);
}

std::string HardwareKey(uint32_t node) {
    NodeRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    auto it = r.key_of_node.find(node);
    return it == r.key_of_node.end() ? std::string() : it->second;
}

void RememberHardwareKey(const std::string& device_path, const std::string& key) {
    NodeRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    r.key_of_node[r.NodeLocked(device_path)] = key;
}

std::string MakeHardwareKey(uint16_t vendor_id, uint16_t product_id, const std::string& instance) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "USB\\VID_%04X&PID_%04X\\",
                  static_cast<unsigned>(vendor_id), static_cast<unsigned>(product_id));
    return prefix + instance;
}

struct DeviceMonitor::Impl {
    int epoll_fd = -1;
    std::vector<std::unique_ptr<EventSource>> sources;
};

DeviceMonitor::DeviceMonitor() : impl_(std::make_unique<Impl>()) {
    impl_->epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
    for (Backend* backend : Backends()) {
        std::unique_ptr<EventSource> source = backend->Watch();
        if (!source)
            continue;
        if (impl_->epoll_fd >= 0 && source->Fd() >= 0) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = impl_->sources.size();
            ::epoll_ctl(impl_->epoll_fd, EPOLL_CTL_ADD, source->Fd(), &ev);
        }
        impl_->sources.push_back(std::move(source));
    }
}

DeviceMonitor::~DeviceMonitor() {
    impl_->sources.clear();
    if (impl_->epoll_fd >= 0)
        ::close(impl_->epoll_fd);
}

int DeviceMonitor::Fd() const {
    return impl_->epoll_fd;
}

std::vector<DeviceEvent> DeviceMonitor::TakeEvents() {
    std::vector<DeviceEvent> events;
    for (auto& source : impl_->sources) {
        for (BackendEvent& e : source->Drain()) {
            if (!e.hardware_key.empty())
                RememberHardwareKey(e.device_path, e.hardware_key);
            DeviceEvent out;
            out.kind = e.kind == BackendEvent::Kind::Arrival ? DeviceEvent::Kind::Arrival
                                                             : DeviceEvent::Kind::Removal;
            out.node = NodeForPath(e.device_path);
            out.device_path = std::move(e.device_path);
            events.push_back(std::move(out));
        }
    }
    return events;
}

bool DeviceMonitor::WaitForEvents(int timeout_ms) {
    if (impl_->epoll_fd < 0)
        return false;
    pollfd p{impl_->epoll_fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeout_ms);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

}  // namespace platform
