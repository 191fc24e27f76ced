// Any sequence of transfers: the camera refuses what it must and never
// misbehaves. Input: records of [kind, length low, length high, payload...];
// kind bit 0 = IN, bits 1-2 = endpoint, bits 4-6 = variant.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/camera.h"

namespace {

sim::Camera& CameraFor(int index) {
    // One camera per variant for the whole run: making cards is the slow part.
    static std::array<std::unique_ptr<sim::Camera>, 7> cameras;
    auto& c = cameras[index];
    if (!c) {
        const auto v = sim::kAllVariants[index];
        // A sparse anonymous file: only the pages the input touches use memory.
        const int fd = ::memfd_create("fuzz-card", MFD_CLOEXEC);
        if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(sim::GeometryOf(v).card_bytes)) != 0) {
            __builtin_trap();
        }
        std::string error;
        auto card = sim::CardImage::Open("/proc/self/fd/" + std::to_string(fd),
                                         sim::GeometryOf(v).card_bytes, &error);
        ::close(fd);
        if (!card)
            __builtin_trap();
        c = std::make_unique<sim::Camera>(v, std::move(card), sim::DefaultAttributes(),
                                          [](std::string_view) {});
    }
    return *c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    std::vector<uint8_t> buffer;
    while (at + 3 <= size) {
        const uint8_t kind = data[at];
        const size_t length = std::min<size_t>(data[at + 1] | (data[at + 2] << 8), 4096);
        at += 3;
        sim::Camera& camera = CameraFor(((kind >> 4) & 7) % 7);
        const auto endpoint = static_cast<platform::Endpoint>(((kind >> 1) & 3) % 3);
        if (kind & 1) {
            buffer.assign(length, 0);
            const platform::IoResult r = camera.HandleIn(endpoint, buffer);
            if (r.ok() && r.transferred != length)
                __builtin_trap();
        } else {
            const size_t n = std::min(length, size - at);
            const platform::IoResult r =
                camera.HandleOut(endpoint, std::span<const uint8_t>(data + at, n));
            if (r.ok() && r.transferred != n)
                __builtin_trap();
            at += n;
        }
    }
    return 0;
}
