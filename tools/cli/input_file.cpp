#include "tools/cli/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cli {
namespace {

std::string SizeText(uint64_t bytes) {
    if (bytes >= (uint64_t{1} << 20))
        return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadBoundedFile(const std::string& path, size_t max_bytes,
                                                    std::string* error) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::vector<uint8_t>> bytes;
    if (fstat(fd, &st) != 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file";
    } else if (static_cast<uint64_t>(st.st_size) > max_bytes) {
        *error = path + " is too large for a picture (" + SizeText(st.st_size) + "; up to " +
                 SizeText(max_bytes) + " are taken)";
    } else {
        // Reads until the end, or one byte past what is taken, so that a file
        // that grew after fstat is still caught.
        bytes.emplace();
        bytes->reserve(static_cast<size_t>(st.st_size));
        uint8_t chunk[65536];
        while (bytes->size() <= max_bytes) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                *error = "cannot read " + path + ": " + std::strerror(errno);
                bytes.reset();
                break;
            }
            if (n == 0)
                break;
            bytes->insert(bytes->end(), chunk, chunk + n);
        }
        if (bytes && bytes->size() > max_bytes) {
            *error = path + " is too large for a picture (over " + SizeText(max_bytes) + ")";
            bytes.reset();
        }
    }
    close(fd);
    return bytes;
}

}  // namespace cli
