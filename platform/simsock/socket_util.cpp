#include "platform/simsock/socket_util.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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

void SetReceiveTimeout(int fd, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

}  // namespace platform::simwire
