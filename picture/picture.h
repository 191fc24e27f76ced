// A decoded picture: 8-bit red, green, blue, rows top first, no padding.
// Every picture file the programs read or write passes through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace picture {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 0) {}
    uint8_t* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    void Set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = At(x, y);
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
    // Whether the pixels fill exactly width x height (an encoder's input).
    bool Whole() const {
        return width > 0 && height > 0 && rgb.size() == static_cast<size_t>(width) * height * 3;
    }
};

// The size of a photo on the card.
inline constexpr int kPhotoWidth = 322;
inline constexpr int kPhotoHeight = 242;

}  // namespace picture
