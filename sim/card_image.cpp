#include "sim/card_image.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace sim {
namespace {

// Bounded pieces keep the stack and heap use of one transfer small whatever
// length an in-process caller passes.
constexpr uint64_t kPieceBytes = 64 * 1024;

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

bool PreadAll(int fd, uint8_t* data, size_t length, uint64_t offset) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;  // the file is shorter than the card
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool PwriteAll(int fd, const uint8_t* data, size_t length, uint64_t offset) {
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool FillFd(int fd, uint64_t offset, uint64_t length, uint8_t value) {
    std::vector<uint8_t> buf(static_cast<size_t>(std::min(length, uint64_t{1} << 20)), value);
    while (length > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, buf.size()));
        if (!PwriteAll(fd, buf.data(), n, offset))
            return false;
        offset += n;
        length -= n;
    }
    return true;
}

}  // namespace

CardImage::CardImage(int fd, uint64_t size, std::string path, uint8_t* memory)
    : fd_(fd), size_(size), path_(std::move(path)), memory_(memory) {}

CardImage::~CardImage() {
    if (memory_ != nullptr)
        ::munmap(memory_, size_);
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<CardImage> CardImage::Open(const std::string& path, uint64_t expected_bytes,
                                           std::string* error, bool exclusive) {
    return OpenFile(path, expected_bytes, error, exclusive, O_RDWR);
}

std::unique_ptr<CardImage> CardImage::OpenReadOnly(const std::string& path, uint64_t expected_bytes,
                                                   std::string* error) {
    return OpenFile(path, expected_bytes, error, false, O_RDONLY);
}

std::unique_ptr<CardImage> CardImage::OpenFile(const std::string& path, uint64_t expected_bytes,
                                               std::string* error, bool exclusive, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, Errno("cannot open card file " + path));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetError(error, "card file " + path + " is not a regular file");
        ::close(fd);
        return nullptr;
    }
    if (static_cast<uint64_t>(st.st_size) != expected_bytes) {
        SetError(error, "card file " + path + " has " + std::to_string(st.st_size) +
                            " bytes; this card needs exactly " + std::to_string(expected_bytes));
        ::close(fd);
        return nullptr;
    }
    if (exclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        SetError(error, "card file " + path + " is already in use by another camera");
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CardImage>(new CardImage(fd, expected_bytes, path));
}

std::unique_ptr<CardImage> CardImage::Create(const std::string& path, uint64_t bytes,
                                             std::string* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetError(error, Errno("cannot create card file " + path));
        return nullptr;
    }
    if (!FillFd(fd, 0, bytes, 0xFF)) {
        SetError(error, Errno("cannot write card file " + path));
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CardImage>(new CardImage(fd, bytes, path));
}

std::unique_ptr<CardImage> CardImage::CreateInMemory(uint64_t bytes, std::string* error) {
    const int fd = ::memfd_create("camsim-card", MFD_CLOEXEC);
    if (fd < 0) {
        SetError(error, Errno("cannot create an in-memory card"));
        return nullptr;
    }
    if (!FillFd(fd, 0, bytes, 0xFF)) {
        SetError(error, Errno("cannot fill an in-memory card"));
        ::close(fd);
        return nullptr;
    }
    void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        SetError(error, Errno("cannot map an in-memory card"));
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CardImage>(
        new CardImage(fd, bytes, "(memory)", static_cast<uint8_t*>(memory)));
}

// Calls fn(file_offset, piece_length, offset_within_request) for the pieces
// of [address, address + length) after wrapping, each at most kPieceBytes.
template <typename Fn>
bool CardImage::ForEachPiece(uint64_t address, uint64_t length, Fn&& fn) const {
    if (size_ == 0)
        return length == 0;
    uint64_t pos = address % size_;
    uint64_t done = 0;
    while (done < length) {
        const uint64_t n = std::min({length - done, size_ - pos, kPieceBytes});
        if (!fn(pos, static_cast<size_t>(n), static_cast<size_t>(done)))
            return false;
        done += n;
        pos = (pos + n) % size_;
    }
    return true;
}

bool CardImage::Read(uint64_t address, std::span<uint8_t> out, std::string* error) const {
    const bool ok = ForEachPiece(address, out.size(), [&](uint64_t off, size_t n, size_t at) {
        if (memory_ != nullptr) {
            std::memcpy(out.data() + at, memory_ + off, n);
            return true;
        }
        return PreadAll(fd_, out.data() + at, n, off);
    });
    if (!ok)
        SetError(error, Errno("card read failed"));
    return ok;
}

bool CardImage::Program(uint64_t address, std::span<const uint8_t> data, std::string* error) {
    std::vector<uint8_t> old(
        memory_ != nullptr ? 0 : static_cast<size_t>(std::min<uint64_t>(data.size(), kPieceBytes)));
    const bool ok = ForEachPiece(address, data.size(), [&](uint64_t off, size_t n, size_t at) {
        if (memory_ != nullptr) {
            uint8_t* cells = memory_ + off;
            const uint8_t* bits = data.data() + at;
            for (size_t i = 0; i < n; ++i)
                cells[i] &= bits[i];
            return true;
        }
        if (!PreadAll(fd_, old.data(), n, off))
            return false;
        for (size_t i = 0; i < n; ++i)
            old[i] &= data[at + i];
        return PwriteAll(fd_, old.data(), n, off);
    });
    if (!ok)
        SetError(error, Errno("card programming failed"));
    return ok;
}

bool CardImage::Fill(uint64_t address, uint64_t length, uint8_t value, std::string* error) {
    const bool ok = ForEachPiece(address, length, [&](uint64_t off, size_t n, size_t) {
        if (memory_ != nullptr) {
            std::memset(memory_ + off, value, n);
            return true;
        }
        return FillFd(fd_, off, n, value);
    });
    if (!ok)
        SetError(error, Errno("card erase failed"));
    return ok;
}

bool CardImage::Overwrite(uint64_t address, std::span<const uint8_t> data, std::string* error) {
    const bool ok = ForEachPiece(address, data.size(), [&](uint64_t off, size_t n, size_t at) {
        if (memory_ != nullptr) {
            std::memcpy(memory_ + off, data.data() + at, n);
            return true;
        }
        return PwriteAll(fd_, data.data() + at, n, off);
    });
    if (!ok)
        SetError(error, Errno("card write failed"));
    return ok;
}

}  // namespace sim
