#include "platform/simsock/socket_util.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace platform::simwire {

bool EnsurePrivateDirectory(const std::string& dir, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (dir.empty())
        return fail("the camera socket directory is not set");
    // Parents first, each with mode 0700 when this creates it.
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1)) {
        const std::string parent = dir.substr(0, slash);
        if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
            return fail("cannot create " + parent + ": " + std::strerror(errno));
        }
    }
    bool created = ::mkdir(dir.c_str(), 0700) == 0;
    if (!created && errno != EEXIST) {
        return fail("cannot create " + dir + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        return fail("cannot examine " + dir + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return fail(dir + " is not a directory");
    if (st.st_uid != ::geteuid())
        return fail(dir + " belongs to another user");
    // mkdir's mode is cut by the umask, and a directory made by someone else's
    // tool may be open to the group or the world.
    if ((st.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) {
        return fail("cannot restrict " + dir + " to its owner: " + std::strerror(errno));
    }
    return true;
}

DirectoryTrust CheckCameraDirectory(const std::string& dir, std::string* why) {
    auto untrusted = [&](const std::string& reason) {
        if (why)
            *why = reason;
        return DirectoryTrust::Untrusted;
    };
    struct stat st {};
    // stat() follows a symbolic link: what counts is the directory the name
    // leads to. (A swap after this check is caught by the peer check.)
    if (::stat(dir.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return DirectoryTrust::Missing;
        return untrusted(std::string("it cannot be examined: ") + std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode))
        return untrusted("it is not a directory");
    if (st.st_uid != ::geteuid()) {
        return untrusted("it belongs to user " + std::to_string(st.st_uid) + " (you are user " +
                         std::to_string(::geteuid()) + ")");
    }
    // The group bits carry the mask of an ACL, so a write grant to a named
    // user or group shows here too.
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return untrusted(std::string("other users can write to it (mode ") + mode + ")");
    }
    return DirectoryTrust::Trusted;
}

bool PeerIsTrusted(int fd, std::string* why) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) {
        if (why)
            *why = std::string("cannot tell who serves it: ") + std::strerror(errno);
        return false;
    }
    if (peer.uid == ::geteuid() || peer.uid == 0)
        return true;
    if (why) {
        *why = "its server (process " + std::to_string(peer.pid) + ") runs as user " +
               std::to_string(peer.uid) + " (you are user " + std::to_string(::geteuid()) + ")";
    }
    return false;
}

bool MakeAddress(const std::string& path, sockaddr_un* address, socklen_t* length) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.data(), path.size());
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

bool IsValidCameraName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.')
        return false;
    for (char c : name) {
        if (c == '/' || c == '\0' || static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

int ConnectSeqpacket(const std::string& path) {
    sockaddr_un address;
    socklen_t length;
    if (!MakeAddress(path, &address, &length)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int ConnectTrustedSeqpacket(const std::string& path, std::string* why) {
    int fd = ConnectSeqpacket(path);
    if (fd < 0 || PeerIsTrusted(fd, why))
        return fd;
    ::close(fd);
    errno = EPERM;
    return -1;
}

void SetReceiveTimeout(int fd, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

}  // namespace platform::simwire
