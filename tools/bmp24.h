// Uncompressed 24-bit Windows bitmaps: the picture files the card library
// writes and reads back. Pixels are kept top row first, three bytes each in
// blue, green, red order, whatever row order the file uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tools {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;  // width * height * 3, top row first

    Image() = default;
    Image(int w, int h) : width(w), height(h), bgr(static_cast<size_t>(w) * h * 3, 0) {}
    uint8_t* At(int x, int y) { return &bgr[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t* At(int x, int y) const { return &bgr[(static_cast<size_t>(y) * width + x) * 3]; }
    void Set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = At(x, y);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
};

// The size of a photo on the card and in the library's bitmap files.
inline constexpr int kPhotoWidth = 322;
inline constexpr int kPhotoHeight = 242;

// What the headers of a bitmap file say about it.
struct BmpInfo {
    int width = 0;
    int height = 0;  // always positive; top_down tells the row order
    bool top_down = false;
    int bits_per_pixel = 0;
    uint32_t compression = 0;
    uint32_t pixel_offset = 0;
};

// Parses the file and information headers. Returns nothing, with a reason in
// *error, when the bytes are not a bitmap this module understands.
std::optional<BmpInfo> ParseBmpHeaders(const std::vector<uint8_t>& file, std::string* error);

// Reads a whole 24-bit uncompressed bitmap, either row order.
std::optional<Image> ReadBmp24(const std::string& path, std::string* error);
std::optional<Image> DecodeBmp24(const std::vector<uint8_t>& file, std::string* error);

// Encodes bottom-up 24-bit rows padded to four bytes, 54 bytes of headers.
std::vector<uint8_t> EncodeBmp24(const Image& image);
bool WriteBmp24(const std::string& path, const Image& image, std::string* error);

// Whole-file helpers shared by the tools and their tests.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, std::string* error);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

}  // namespace tools
