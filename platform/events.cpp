#include "platform/events.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "platform/backend.h"

namespace platform {
struct DeviceMonitor::Impl {
    int epoll_fd = -1;
    std::vector<std::unique_ptr<EventSource>> sources;
    // What each present device said it was at its arrival, for its removal.
    std::map<std::string, DeviceAttributes> known;
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
            DeviceEvent out;
            out.device_path = std::move(e.device_path);
            out.attributes = std::move(e.attributes);
            if (e.kind == BackendEvent::Kind::Arrival) {
                out.kind = DeviceEvent::Kind::Arrival;
                if (out.attributes)
                    impl_->known[out.device_path] = *out.attributes;
                else
                    impl_->known.erase(out.device_path);
            } else {
                out.kind = DeviceEvent::Kind::Removal;
                auto it = impl_->known.find(out.device_path);
                if (!out.attributes && it != impl_->known.end())
                    out.attributes = it->second;
                if (it != impl_->known.end())
                    impl_->known.erase(it);
            }
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
