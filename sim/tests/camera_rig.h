// A camera of one variant on an in-memory card, with its log captured.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "sim/camera.h"

namespace sim::testing {

using Block = std::array<uint8_t, 16>;

// A command block from its first bytes; the rest are 0.
inline Block Cmd(std::initializer_list<uint8_t> head) {
    Block b{};
    size_t i = 0;
    for (uint8_t v : head)
        b[i++] = v;
    return b;
}

struct CameraRig {
    explicit CameraRig(Variant v) : variant(v) {
        std::string error;
        auto card = CardImage::CreateInMemory(GeometryOf(v).card_bytes, &error);
        EXPECT_TRUE(card) << error;
        camera =
            std::make_shared<Camera>(v, std::move(card), DefaultAttributes(),
                                     [this](std::string_view line) { log.emplace_back(line); });
    }

    platform::IoResult Out(std::span<const uint8_t> data,
                           platform::Endpoint ep = platform::Endpoint::Interface) {
        return camera->HandleOut(ep, data);
    }
    platform::IoResult Out(const Block& b, platform::Endpoint ep = platform::Endpoint::Interface) {
        return camera->HandleOut(ep, b);
    }
    std::vector<uint8_t> In(size_t n, platform::Endpoint ep = platform::Endpoint::Interface) {
        std::vector<uint8_t> buf(n, 0xA5);
        last_in = camera->HandleIn(ep, buf);
        return buf;
    }

    Variant variant;
    std::shared_ptr<Camera> camera;
    std::vector<std::string> log;
    platform::IoResult last_in;
};

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

}  // namespace sim::testing
