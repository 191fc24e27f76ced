#include "cardlib/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quorbit {
namespace {

bool WriteAll(int fd, std::span<const uint8_t> data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::atomic<unsigned> g_temp_counter{0};

// A short name in the folder of path: any name that can be created there
// can be written, however close its own length is to the limit of 255.
std::string TemporaryNameBeside(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const unsigned n = g_temp_counter.fetch_add(1);
    const auto tag = static_cast<unsigned>(::getpid()) * 2654435761u + n;
    char name[20];
    std::snprintf(name, sizeof name, ".quorbit-%08x", tag);
    return folder + name;
}

// Opens path only when it is (or, with O_CREAT, may become) a regular file:
// a device node is not even opened, as opening some has effects of its own.
// The open does not block should a FIFO take the name meanwhile; the
// descriptor is kept for a regular file only, blocking from then on.
int OpenRegularFile(const std::string& path, int flags) {
    if (!IsRegularFileOrAbsent(path))
        return -1;
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool IsRegularFileOrAbsent(const std::string& path) {
    struct stat st {};
    if (path.empty())
        return false;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode);
    return errno == ENOENT;
}

bool WriteWholeFile(const std::string& requested, std::span<const uint8_t> data) {
    if (!IsRegularFileOrAbsent(requested))
        return false;
    std::string path = requested;
    struct stat st {};
    bool replacing = false;
    if (::stat(requested.c_str(), &st) == 0) {
        // Through a symbolic link: replace the file it names, keep the link.
        if (char* real = ::realpath(requested.c_str(), nullptr)) {
            path = real;
            std::free(real);
        }
        replacing = true;
    }
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TemporaryNameBeside(path);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data);
    // The finished file takes the place of the old one: it keeps the old
    // one's permissions (a file the user made private stays private).
    if (ok && replacing && ::fchmod(fd, st.st_mode & 07777) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    // Whatever took the name meanwhile must be a regular file too: a FIFO
    // or device node is never replaced.
    if (ok && (!IsRegularFileOrAbsent(path) || ::rename(temp.c_str(), path.c_str()) != 0))
        ok = false;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t max_bytes) {
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::vector<uint8_t>> result;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) <= max_bytes) {
        std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
        size_t done = 0;
        bool ok = true;
        while (done < data.size()) {
            const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = false;
                break;
            }
            done += static_cast<size_t>(n);
        }
        if (ok)
            result = std::move(data);
    }
    ::close(fd);
    return result;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool OutputFile::Create(const std::string& path) {
    if (path.empty())
        return false;
    // Truncated only once it is known to be a regular file.
    fd_ = OpenRegularFile(path, O_WRONLY | O_CREAT);
    if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
    return fd_ >= 0;
}

bool OutputFile::Write(std::span<const uint8_t> data) {
    return fd_ >= 0 && WriteAll(fd_, data);
}

bool OutputFile::Close() {
    if (fd_ < 0)
        return false;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

}  // namespace quorbit
