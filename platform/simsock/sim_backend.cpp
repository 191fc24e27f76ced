#include "platform/simsock/sim_backend.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "platform/report.h"
#include "platform/simsock/attributes_wire.h"
#include "platform/simsock/socket_util.h"
#include "platform/simsock/wire.h"

namespace platform {
namespace {

using namespace simwire;

constexpr std::string_view kPrefix = "sim:";
constexpr std::string_view kSuffix = ".sock";
// A camera answers within microseconds; a server that does not answer at all
// must not hang the program for ever.
constexpr int kTransferTimeoutMs = 10000;
constexpr int kProbeTimeoutMs = 1000;

IoError FromStatus(uint8_t status) {
    switch (status) {
        case kStatusAborted:
            return IoError::Aborted;
        case kStatusDeviceGone:
            return IoError::DeviceGone;
        default:
            return IoError::Failed;
    }
}

// Why a camera is not used, said once per process: enumeration runs again on
// every device change and timer tick.
void ReportSkipped(const std::string& text) {
    static std::mutex mutex;
    static std::set<std::string> said;
    {
        std::lock_guard lock(mutex);
        if (said.size() >= 64 || !said.insert(text).second)
            return;
    }
    ReportError("simulated cameras", text);
}

// The directory's cameras may be used; otherwise says once why not.
bool UsableDirectory(const std::string& dir) {
    std::string why;
    switch (CheckCameraDirectory(dir, &why)) {
        case DirectoryTrust::Trusted:
            return true;
        case DirectoryTrust::Missing:
            return false;
        case DirectoryTrust::Untrusted:
            break;
    }
    ReportSkipped("not using the cameras in " + dir + ": " + why);
    return false;
}

bool IsDisconnect(int err) {
    return err == EPIPE || err == ECONNRESET || err == ENOTCONN;
}

// One connection = one open handle. Requests and replies strictly alternate.
class Connection {
  public:
    explicit Connection(int fd) : fd_(fd), buffer_(kHeaderSize + kMaxTransfer) {}
    ~Connection() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends one request and receives its reply. On success *payload is the
    // reply's data part (in the connection's buffer).
    IoError Exchange(uint8_t op, uint8_t endpoint, std::span<const uint8_t> data, uint32_t length,
                     std::span<const uint8_t>* payload) {
        if (desynchronised_)
            return IoError::Failed;
        uint8_t header[kHeaderSize];
        EncodeRequest(RequestHeader{op, endpoint, 0, length}, header);
        iovec iov[2] = {{header, kHeaderSize}, {const_cast<uint8_t*>(data.data()), data.size()}};
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = data.empty() ? 1 : 2;
        ssize_t sent;
        do {
            sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0)
            return IsDisconnect(errno) ? IoError::DeviceGone : IoError::Failed;
        if (static_cast<size_t>(sent) != kHeaderSize + data.size()) {
            desynchronised_ = true;
            return IoError::Failed;
        }

        iovec in{buffer_.data(), buffer_.size()};
        msghdr reply{};
        reply.msg_iov = &in;
        reply.msg_iovlen = 1;
        ssize_t n;
        do {
            n = ::recvmsg(fd_, &reply, 0);
        } while (n < 0 && errno == EINTR);
        if (n == 0)
            return IoError::DeviceGone;
        if (n < 0) {
            if (IsDisconnect(errno))
                return IoError::DeviceGone;
            // A timed-out reply may still arrive and would answer the next
            // request: the connection cannot be trusted any more.
            desynchronised_ = true;
            return IoError::Failed;
        }
        if ((reply.msg_flags & MSG_TRUNC) || static_cast<size_t>(n) < kHeaderSize) {
            return IoError::Failed;
        }
        const ReplyHeader h = DecodeReply(buffer_.data());
        if (h.status != kStatusOk)
            return FromStatus(h.status);
        if (h.length != static_cast<size_t>(n) - kHeaderSize)
            return IoError::Failed;
        *payload = std::span<const uint8_t>(buffer_.data() + kHeaderSize, h.length);
        return IoError::None;
    }

    std::optional<DeviceAttributes> QueryAttributes() {
        std::span<const uint8_t> payload;
        if (Exchange(kOpAttributes, kEndpointInterface, {}, 0, &payload) != IoError::None) {
            return std::nullopt;
        }
        return DecodeAttributes(payload);
    }

  private:
    int fd_;
    std::vector<uint8_t> buffer_;
    bool desynchronised_ = false;
};

uint8_t WireEndpoint(Endpoint e) {
    switch (e) {
        case Endpoint::ReadPipe:
            return kEndpointReadPipe;
        case Endpoint::WritePipe:
            return kEndpointWritePipe;
        case Endpoint::Interface:
            break;
    }
    return kEndpointInterface;
}

class SocketHandle final : public DeviceHandle {
  public:
    SocketHandle(int fd, Endpoint endpoint) : connection_(fd), endpoint_(WireEndpoint(endpoint)) {}

    IoResult Write(std::span<const uint8_t> data) override {
        if (data.size() > kMaxTransfer)
            return IoResult::Failure(IoError::Failed);
        std::span<const uint8_t> payload;
        IoError e = connection_.Exchange(kOpOut, endpoint_, data,
                                         static_cast<uint32_t>(data.size()), &payload);
        if (e != IoError::None)
            return IoResult::Failure(e);
        if (!payload.empty())
            return IoResult::Failure(IoError::Failed);
        return IoResult::Success(data.size());
    }

    IoResult Read(std::span<uint8_t> buffer) override {
        if (buffer.size() > kMaxTransfer)
            return IoResult::Failure(IoError::Failed);
        std::span<const uint8_t> payload;
        IoError e = connection_.Exchange(kOpIn, endpoint_, {}, static_cast<uint32_t>(buffer.size()),
                                         &payload);
        if (e != IoError::None)
            return IoResult::Failure(e);
        if (payload.size() != buffer.size())
            return IoResult::Failure(IoError::Failed);
        std::copy(payload.begin(), payload.end(), buffer.begin());
        return IoResult::Success(buffer.size());
    }

    std::optional<DeviceAttributes> Attributes() override { return connection_.QueryAttributes(); }

  private:
    Connection connection_;
    uint8_t endpoint_;
};

// "kitchen" from "kitchen.sock"; empty when the file is not a camera socket name.
std::string CameraNameOf(std::string_view file) {
    if (file.size() <= kSuffix.size() || file.substr(file.size() - kSuffix.size()) != kSuffix) {
        return {};
    }
    std::string name(file.substr(0, file.size() - kSuffix.size()));
    return IsValidCameraName(name) ? name : std::string();
}

struct Probe {
    bool live = false;
    std::optional<DeviceAttributes> attributes;
};

// Connects to a camera's socket and asks for its identity. A socket file that
// refuses connections has no server behind it; with remove_stale it is
// deleted (unless it was replaced meanwhile by a new server's socket).
Probe ProbeCamera(const std::string& dir, const std::string& name, bool remove_stale) {
    Probe probe;
    const std::string path = dir + "/" + name + std::string(kSuffix);
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0 || !S_ISSOCK(before.st_mode))
        return probe;
    std::string why;
    int fd = ConnectTrustedSeqpacket(path, &why);
    if (fd < 0 && !why.empty()) {
        ReportSkipped("not using the camera " + std::string(kPrefix) + name + " (" + path +
                      "): " + why);
        return probe;
    }
    if (fd < 0) {
        struct stat now {};
        if (errno == ECONNREFUSED && remove_stale && ::lstat(path.c_str(), &now) == 0 &&
            now.st_ino == before.st_ino && now.st_dev == before.st_dev) {
            ::unlink(path.c_str());
        }
        return probe;
    }
    SetReceiveTimeout(fd, kProbeTimeoutMs);
    Connection connection(fd);
    probe.live = true;
    probe.attributes = connection.QueryAttributes();
    return probe;
}

std::string PathFor(const std::string& name) {
    return std::string(kPrefix) + name;
}

// Live cameras in a directory by name, with what they say they are; stale
// sockets are removed.
using Cameras = std::map<std::string, std::optional<DeviceAttributes>>;
Cameras ScanDirectory(const std::string& dir) {
    Cameras cameras;
    if (!UsableDirectory(dir))
        return cameras;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return cameras;
    std::vector<std::string> candidates;
    while (dirent* entry = ::readdir(d)) {
        std::string name = CameraNameOf(entry->d_name);
        if (!name.empty())
            candidates.push_back(std::move(name));
    }
    ::closedir(d);
    for (const std::string& name : candidates) {
        Probe probe = ProbeCamera(dir, name, /*remove_stale=*/true);
        if (probe.live)
            cameras.emplace(name, probe.attributes);
    }
    return cameras;
}

class DirectoryWatcher final : public EventSource {
  public:
    explicit DirectoryWatcher(std::string dir) : dir_(std::move(dir)) {
        // A missing directory is made (mode 0700) so that it can be watched;
        // an existing one is left as it is, and used only if it is trusted.
        if (CheckCameraDirectory(dir_, nullptr) == DirectoryTrust::Missing)
            EnsurePrivateDirectory(dir_, nullptr);
        if (!UsableDirectory(dir_))
            return;
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0)
            return;
        // Watch first, then list: a camera arriving in between is in the
        // listing and its event is then recognised as already known.
        if (::inotify_add_watch(fd_, dir_.c_str(),
                                IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR) <
            0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        for (auto& camera : ScanDirectory(dir_))
            present_.insert(camera.first);
    }
    ~DirectoryWatcher() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Fd() const override { return fd_; }

    std::vector<BackendEvent> Drain() override {
        std::vector<BackendEvent> events;
        if (fd_ < 0)
            return events;
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->mask & IN_Q_OVERFLOW) {
                    Rescan(events);
                } else if (ev->len > 0) {
                    Handle(ev->mask, CameraNameOf(ev->name), events);
                }
            }
        }
        return events;
    }

  private:
    void Handle(uint32_t mask, const std::string& name, std::vector<BackendEvent>& events) {
        if (name.empty())
            return;
        if (mask & (IN_CREATE | IN_MOVED_TO)) {
            if (present_.count(name))
                return;
            // camsim renames a listening socket into place, so it answers now;
            // a file that does not is no camera.
            Probe probe = ProbeCamera(dir_, name, /*remove_stale=*/false);
            if (!probe.live)
                return;
            present_.insert(name);
            events.push_back({BackendEvent::Kind::Arrival, PathFor(name), probe.attributes});
        } else if (mask & (IN_DELETE | IN_MOVED_FROM)) {
            if (present_.erase(name) == 0)
                return;
            events.push_back({BackendEvent::Kind::Removal, PathFor(name), {}});
        }
    }

    // Events were lost: compare with what is there now.
    void Rescan(std::vector<BackendEvent>& events) {
        const Cameras now = ScanDirectory(dir_);
        std::set<std::string> now_set;
        for (const auto& [name, attributes] : now)
            now_set.insert(name);
        for (const std::string& name : present_) {
            if (!now_set.count(name))
                events.push_back({BackendEvent::Kind::Removal, PathFor(name), {}});
        }
        for (const auto& [name, attributes] : now) {
            if (!present_.count(name))
                events.push_back({BackendEvent::Kind::Arrival, PathFor(name), attributes});
        }
        present_ = std::move(now_set);
    }

    std::string dir_;
    int fd_ = -1;
    std::set<std::string> present_;
};

OpenResult NotFound(std::string_view path) {
    OpenResult r;
    r.error = OpenError::NotFound;
    r.message = "The camera \"" + std::string(path) + "\" is not plugged in.";
    return r;
}

OpenResult NotUsed(std::string_view path, const std::string& why) {
    OpenResult r;
    r.error = OpenError::AccessDenied;
    r.message = "Not using the camera \"" + std::string(path) + "\": " + why + ".";
    return r;
}

}  // namespace

std::vector<std::string> SimSocketBackend::Enumerate(const Guid& interface_class) {
    std::vector<std::string> paths;
    if (interface_class != CardInterfaceGuid)
        return paths;
    for (const auto& camera : ScanDirectory(CamsimDirectory()))
        paths.push_back(PathFor(camera.first));
    return paths;
}

OpenResult SimSocketBackend::Open(std::string_view device_path, Endpoint endpoint) {
    if (device_path.substr(0, kPrefix.size()) != kPrefix)
        return NotFound(device_path);
    const std::string name(device_path.substr(kPrefix.size()));
    if (!IsValidCameraName(name))
        return NotFound(device_path);
    const std::string dir = CamsimDirectory();
    std::string why;
    switch (CheckCameraDirectory(dir, &why)) {
        case DirectoryTrust::Trusted:
            break;
        case DirectoryTrust::Missing:
            return NotFound(device_path);
        case DirectoryTrust::Untrusted:
            return NotUsed(device_path, "its folder " + dir + " is not yours alone: " + why);
    }
    const std::string socket_path = SocketPathFor(name);
    std::string refused;
    int fd = ConnectTrustedSeqpacket(socket_path, &refused);
    if (fd < 0 && !refused.empty())
        return NotUsed(device_path, refused);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ECONNREFUSED || err == ENOTDIR)
            return NotFound(device_path);
        OpenResult r;
        r.error = (err == EACCES || err == EPERM) ? OpenError::AccessDenied : OpenError::Failed;
        r.message =
            "Cannot connect to the camera at " + socket_path + ": " + std::strerror(err) + ".";
        return r;
    }
    SetReceiveTimeout(fd, kTransferTimeoutMs);
    OpenResult r;
    r.handle = std::make_unique<SocketHandle>(fd, endpoint);
    return r;
}

std::unique_ptr<EventSource> SimSocketBackend::Watch() {
    auto watcher = std::make_unique<DirectoryWatcher>(CamsimDirectory());
    if (watcher->Fd() < 0)
        return nullptr;
    return watcher;
}

Backend& SimBackend() {
    static SimSocketBackend backend;
    return backend;
}

}  // namespace platform
