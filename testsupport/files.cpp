#include "testsupport/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace testsupport {
namespace {

bool Fail(std::string* error, const std::string& why) {
    if (error)
        *error = why;
    return false;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        Fail(error, path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool bad = std::ferror(f);
    std::fclose(f);
    if (bad) {
        Fail(error, path + ": read error");
        return std::nullopt;
    }
    return bytes;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return Fail(error, path + ": " + std::strerror(errno));
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        std::remove(path.c_str());
        return Fail(error, path + ": write error");
    }
    return true;
}

}  // namespace testsupport
