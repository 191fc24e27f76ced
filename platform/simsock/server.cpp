#include "platform/simsock/server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/simsock/attributes_wire.h"
#include "platform/simsock/socket_util.h"
#include "platform/simsock/wire.h"

namespace platform::simsock {
namespace {

using namespace simwire;

constexpr size_t kMaxConnections = 256;
// Identity strings are short; cut them so the attributes fit one message.
constexpr size_t kMaxAttributeString = 4096;

void Log(const std::string& line) {
    std::string text = line + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

uint8_t ToStatus(IoError e) {
    switch (e) {
        case IoError::None:
            return kStatusOk;
        case IoError::Aborted:
            return kStatusAborted;
        case IoError::DeviceGone:
            return kStatusDeviceGone;
        case IoError::Failed:
            break;
    }
    return kStatusFailed;
}

}  // namespace

Server::Server(std::string name, std::shared_ptr<Peripheral> device)
    : name_(std::move(name)),
      device_(std::move(device)),
      wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      in_(kHeaderSize + kMaxTransfer),
      out_(kHeaderSize + kMaxTransfer) {}

Server::~Server() {
    for (int fd : connections_)
        ::close(fd);
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
    RemoveSocketFile();
    if (wake_fd_ >= 0)
        ::close(wake_fd_);
}

bool Server::Start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!device_)
        return fail("no camera to serve");
    if (listen_fd_ >= 0)
        return fail("the camera \"" + name_ + "\" is already being served");
    if (!IsValidCameraName(name_))
        return fail("\"" + name_ + "\" is not a usable camera name");
    if (wake_fd_ < 0)
        return fail(std::string("cannot create an eventfd: ") + std::strerror(errno));
    const std::string dir = CamsimDirectory();
    std::string why;
    if (!EnsurePrivateDirectory(dir, &why))
        return fail(why);

    path_ = dir + "/" + name_ + ".sock";
    const std::string temp = dir + "/." + name_ + ".sock.tmp" + std::to_string(::getpid());
    sockaddr_un address;
    socklen_t length;
    if (!MakeAddress(path_, &address, &length) || !MakeAddress(temp, &address, &length)) {
        return fail("the socket path " + temp + " is too long for a Unix socket");
    }
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(std::string("cannot create a socket: ") + std::strerror(errno));
    auto abandon = [&](const std::string& what) {
        const std::string message = what + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(message);
    };
    ::unlink(temp.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return abandon("cannot bind " + temp);
    }
    if (::listen(fd, 64) != 0)
        return abandon("cannot listen on " + temp);
    struct stat st {};
    if (::stat(temp.c_str(), &st) != 0)
        return abandon("cannot examine " + temp);

    // A live server of the same name keeps its socket; a dead one's file is
    // replaced by the rename, and so is one served by another user, whose
    // camera no client of ours would use.
    std::string foreign;
    int probe = ConnectTrustedSeqpacket(path_, &foreign);
    if (probe < 0 && !foreign.empty())
        Log("camsim " + name_ + ": replacing " + path_ + ": " + foreign);
    if (probe >= 0) {
        ::close(probe);
        errno = EADDRINUSE;
        return abandon("a camera named \"" + name_ + "\" is already being served at " + path_);
    }
    if (::rename(temp.c_str(), path_.c_str()) != 0)
        return abandon("cannot rename to " + path_);

    listen_fd_ = fd;
    socket_dev_ = st.st_dev;
    socket_ino_ = st.st_ino;
    socket_linked_ = true;
    return true;
}

void Server::Run() {
    std::vector<pollfd> fds;
    while (!stop_.load()) {
        if (unplugged_.load() && listen_fd_ >= 0) {
            // A client whose connect() returned before the unplug holds an
            // open handle: take it from the backlog before closing.
            AcceptPending();
            ::close(listen_fd_);
            listen_fd_ = -1;
        }
        fds.clear();
        fds.push_back({wake_fd_, POLLIN, 0});
        const size_t first_connection = listen_fd_ >= 0 ? 2 : 1;
        if (listen_fd_ >= 0)
            fds.push_back({listen_fd_, POLLIN, 0});
        for (int c : connections_)
            fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            Log("camsim " + name_ + ": poll failed: " + std::strerror(errno));
            break;
        }
        if (fds[0].revents) {
            uint64_t count;
            ssize_t ignored = ::read(wake_fd_, &count, sizeof count);
            (void)ignored;
            continue;  // re-examine the flags first
        }
        // Serve the connections in place, dropping the ones that closed.
        size_t kept = 0;
        for (size_t i = 0; i < connections_.size(); ++i) {
            const int c = connections_[i];
            const short revents = fds[first_connection + i].revents;
            if (revents == 0 || ServeOne(c)) {
                connections_[kept++] = c;
            } else {
                ::close(c);
            }
        }
        connections_.resize(kept);
        if (first_connection == 2 && (fds[1].revents & POLLIN))
            AcceptPending();
    }
    for (int c : connections_)
        ::close(c);
    connections_.clear();
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        listen_fd_ = -1;
    }
    RemoveSocketFile();
}

void Server::AcceptPending() {
    for (;;) {
        int c = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        if (connections_.size() >= kMaxConnections) {
            Log("camsim " + name_ + ": too many connections; refusing one");
            ::close(c);
            continue;
        }
        connections_.push_back(c);
    }
}

void Server::Stop() {
    stop_.store(true);
    Wake();
}

void Server::Unplug() {
    if (unplugged_.exchange(true))
        return;
    RemoveSocketFile();
    Wake();
}

void Server::Wake() {
    if (wake_fd_ < 0)
        return;
    const uint64_t one = 1;
    ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
    (void)ignored;
}

void Server::RemoveSocketFile() {
    if (!socket_linked_.exchange(false))
        return;
    // A new server may have taken the name over since; leave its socket be.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == socket_dev_ && st.st_ino == socket_ino_) {
        ::unlink(path_.c_str());
    }
}

// Reads one request and answers it; false when the connection is over.
bool Server::ServeOne(int fd) {
    iovec iov{in_.data(), in_.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0)
        return false;
    const size_t reply = Process(static_cast<size_t>(n), (msg.msg_flags & MSG_TRUNC) != 0);
    ssize_t sent;
    do {
        sent = ::send(fd, out_.data(), reply, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        // A client that sends requests without reading the replies gets
        // dropped rather than blocking every other connection.
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            Log("camsim " + name_ + ": a client does not read its replies; closing it");
        }
        return false;
    }
    return true;
}

size_t Server::Malformed(const std::string& what) {
    Log("camsim " + name_ + ": malformed request: " + what);
    EncodeReply(ReplyHeader{kStatusFailed, {0, 0, 0}, 0}, out_.data());
    return kHeaderSize;
}

// Builds the reply to the request in in_[0, n) into out_; returns its size.
size_t Server::Process(size_t n, bool truncated) {
    if (truncated) {
        return Malformed("message longer than " + std::to_string(kHeaderSize + kMaxTransfer) +
                         " bytes");
    }
    if (n < kHeaderSize)
        return Malformed("message of " + std::to_string(n) + " bytes");
    const RequestHeader h = DecodeRequest(in_.data());
    if (h.reserved != 0)
        return Malformed("reserved bytes are not zero");
    if (h.endpoint > kEndpointWritePipe) {
        return Malformed("unknown endpoint " + std::to_string(h.endpoint));
    }
    const Endpoint endpoint = h.endpoint == kEndpointReadPipe    ? Endpoint::ReadPipe
                              : h.endpoint == kEndpointWritePipe ? Endpoint::WritePipe
                                                                 : Endpoint::Interface;
    const size_t data = n - kHeaderSize;
    ReplyHeader reply{kStatusOk, {0, 0, 0}, 0};
    try {
        switch (h.op) {
            case kOpOut: {
                if (h.length != data) {
                    return Malformed("OUT length " + std::to_string(h.length) + " with " +
                                     std::to_string(data) + " bytes of data");
                }
                if (endpoint == Endpoint::ReadPipe)
                    return Malformed("OUT transfer on the read pipe");
                IoResult r =
                    device_->HandleOut(endpoint, std::span(in_.data() + kHeaderSize, data));
                reply.status = r.ok() && r.transferred != data ? kStatusFailed : ToStatus(r.error);
                break;
            }
            case kOpIn: {
                if (data != 0)
                    return Malformed("IN request carries data");
                if (h.length > kMaxTransfer) {
                    return Malformed("IN transfer of " + std::to_string(h.length) + " bytes");
                }
                if (endpoint == Endpoint::WritePipe)
                    return Malformed("IN transfer on the write pipe");
                IoResult r =
                    device_->HandleIn(endpoint, std::span(out_.data() + kHeaderSize, h.length));
                reply.status =
                    r.ok() && r.transferred != h.length ? kStatusFailed : ToStatus(r.error);
                if (reply.status == kStatusOk)
                    reply.length = h.length;
                break;
            }
            case kOpAttributes: {
                if (data != 0 || h.length != 0)
                    return Malformed("attributes request carries data");
                DeviceAttributes a = device_->Attributes();
                for (std::string* s : {&a.manufacturer, &a.product, &a.serial_number}) {
                    if (s->size() > kMaxAttributeString)
                        s->resize(kMaxAttributeString);
                }
                const std::vector<uint8_t> payload = EncodeAttributes(a);
                std::copy(payload.begin(), payload.end(), out_.begin() + kHeaderSize);
                reply.length = static_cast<uint32_t>(payload.size());
                break;
            }
            default:
                return Malformed("unknown operation " + std::to_string(h.op));
        }
    } catch (const std::exception& e) {
        Log("camsim " + name_ + ": the camera failed a transfer: " + e.what());
        reply = ReplyHeader{kStatusFailed, {0, 0, 0}, 0};
    } catch (...) {
        Log("camsim " + name_ + ": the camera failed a transfer");
        reply = ReplyHeader{kStatusFailed, {0, 0, 0}, 0};
    }
    EncodeReply(reply, out_.data());
    return kHeaderSize + reply.length;
}

}  // namespace platform::simsock
