// The raw photo as the camera keeps it in a photo slot: 322 x 242 pixels,
// 4 bytes a pixel (blue, a second green, green, red), rows of 1288 bytes, top
// row first. A slot holds only the first 0x4C000 bytes; the last 400 bytes of
// the image (pixels 222-321 of the bottom row) are never stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

inline constexpr int kPhotoWidth = 322;
inline constexpr int kPhotoHeight = 242;
inline constexpr size_t kRawPixelBytes = 4;
inline constexpr size_t kRawRowBytes = kPhotoWidth * kRawPixelBytes;   // 1288
inline constexpr size_t kRawPhotoBytes = kRawRowBytes * kPhotoHeight;  // 311696
inline constexpr size_t kSlotPhotoBytes = 0x4C000;                     // 311296
// Pixels of the bottom row that still fit in a slot.
inline constexpr int kStoredPixelsOfLastRow =
    static_cast<int>((kSlotPhotoBytes - kRawRowBytes * (kPhotoHeight - 1)) / kRawPixelBytes);

// A decoded picture: 3 bytes a pixel in the order red, green, blue; rows top
// first, no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    RgbImage() = default;
    RgbImage(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 0) {}
    uint8_t* at(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// Scales a picture to fit width x height keeping its aspect ratio, centred on
// black: area averaging when shrinking, bilinear when enlarging; a picture of
// exactly that size is returned unchanged.
RgbImage ScaleToFit(const RgbImage& image, int width, int height);

// The full raw image (kRawPhotoBytes) of a picture, scaled to fit 322 x 242
// first when it has another size. The second green of a pixel is the green
// half a row lower (the mean of its row's and the next row's green), as the
// sensor's second green sits between two rows.
std::vector<uint8_t> RawPhotoFromRgb(const RgbImage& image);

// The picture a raw image (or the first bytes of one, such as a slot's
// 0x4C000) shows, green taken from byte 2; pixels the bytes do not cover are
// black.
RgbImage RgbFromRawPhoto(std::span<const uint8_t> raw);

// The second green (byte 1) of every pixel, 322 x 242, for comparing the
// program's doubled bitmap; pixels not covered are 0.
std::vector<uint8_t> SecondGreenFromRawPhoto(std::span<const uint8_t> raw);

}  // namespace sim
