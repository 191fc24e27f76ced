#include "cardlib/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

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

// Where a result for `requested` goes: the path itself, or through a
// symbolic link the regular file it names; nullopt where nothing may be
// written (see IsRegularFileOrAbsent).
struct Destination {
    std::string path;
    bool exists = false;
    mode_t mode = 0;
};
std::optional<Destination> DestinationOf(const std::string& requested) {
    if (!IsRegularFileOrAbsent(requested))
        return std::nullopt;
    Destination d{requested};
    struct stat st {};
    if (::stat(requested.c_str(), &st) == 0) {
        // Through a symbolic link: replace the file it names, keep the link.
        if (char* real = ::realpath(requested.c_str(), nullptr)) {
            d.path = real;
            std::free(real);
        }
        d.exists = true;
        d.mode = st.st_mode & 07777;
    }
    return d;
}

// A new, empty file under a short name beside path; -1 when none can be made.
int CreateTemporaryBeside(const std::string& path, std::string* temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temp = TemporaryNameBeside(path);
        const int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Puts the finished temporary file in the place of path: with the
// permissions of the file it replaces (a file the user made private stays
// private), and only when the data reached the disk (a full disk may show
// only then). Whatever took the name meanwhile must be a regular file too: a
// FIFO or device node is never replaced. Consumes fd; on failure the
// temporary file is removed.
bool FinishReplacement(int fd, const std::string& temp, const std::string& path,
                       std::optional<mode_t> mode) {
    bool ok = !mode || ::fchmod(fd, *mode) == 0;
    if (ok && ::fsync(fd) != 0 && errno != EINVAL)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (ok && (!IsRegularFileOrAbsent(path) || ::rename(temp.c_str(), path.c_str()) != 0))
        ok = false;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

// Opens path for reading only when it is a regular file: a device node is
// not even opened, as opening some has effects of its own. The open does
// not block should a FIFO take the name meanwhile; the descriptor is kept
// for a regular file only, blocking from then on.
int OpenRegularFileForReading(const std::string& path) {
    if (!IsRegularFileOrAbsent(path))
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    // Nothing there, not even a symbolic link that names nothing.
    return errno == ENOENT && ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

bool WriteWholeFile(const std::string& requested, std::span<const uint8_t> data) {
    const std::optional<Destination> d = DestinationOf(requested);
    if (!d)
        return false;
    std::string temp;
    const int fd = CreateTemporaryBeside(d->path, &temp);
    if (fd < 0)
        return false;
    if (!WriteAll(fd, data)) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    return FinishReplacement(fd, temp, d->path,
                             d->exists ? std::optional<mode_t>(d->mode) : std::nullopt);
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t max_bytes) {
    const int fd = OpenRegularFileForReading(path);
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
    Discard();
}

void OutputFile::Discard() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    fd_ = -1;
    temp_.clear();
}

bool OutputFile::Create(const std::string& requested) {
    Discard();
    // Twice: a file that appears between the look and the creation is
    // replaced, not truncated.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<Destination> d = DestinationOf(requested);
        if (!d)
            return false;
        path_ = d->path;
        if (d->exists) {
            fd_ = CreateTemporaryBeside(d->path, &temp_);
            if (fd_ < 0)
                temp_.clear();
            mode_ = d->mode;
            return fd_ >= 0;
        }
        // O_EXCL: a link, FIFO or file that took the name meanwhile is
        // never opened through.
        fd_ = ::open(requested.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST)
            return fd_ >= 0;
    }
    return false;
}

bool OutputFile::Write(std::span<const uint8_t> data) {
    return fd_ >= 0 && WriteAll(fd_, data);
}

bool OutputFile::Commit() {
    if (fd_ < 0)
        return false;
    const int fd = std::exchange(fd_, -1);
    if (!temp_.empty()) {
        const std::string temp = std::exchange(temp_, std::string());
        return FinishReplacement(fd, temp, path_, static_cast<mode_t>(mode_));
    }
    bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

}  // namespace quorbit
