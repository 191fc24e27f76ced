// The raw photo as the camera keeps it in a photo slot: 322 x 242 pixels,
// 4 bytes a pixel (blue, a second green, green, red), rows of 1288 bytes, top
// row first. A slot holds only the first 0x4C000 bytes; the last 400 bytes of
// the image (pixels 222-321 of the bottom row) are never stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "picture/picture.h"

namespace picture {

inline constexpr size_t kRawPixelBytes = 4;
inline constexpr size_t kRawRowBytes = kPhotoWidth * kRawPixelBytes;   // 1288
inline constexpr size_t kRawPhotoBytes = kRawRowBytes * kPhotoHeight;  // 311696
inline constexpr size_t kSlotPhotoBytes = 0x4C000;                     // 311296
// Pixels of the bottom row that still fit in a slot.
inline constexpr int kStoredPixelsOfLastRow =
    static_cast<int>((kSlotPhotoBytes - kRawRowBytes * (kPhotoHeight - 1)) / kRawPixelBytes);

// What goes into a raw pixel's second green (byte 1).
enum class SecondGreen {
    kZero,          // as the library's upload writes it
    kHalfRowLower,  // as the sensor sees it: the mean of this row's green and the next row's
};

// The full raw image (kRawPhotoBytes) of a picture, fitted to 322 x 242
// first (FitToPhoto) when it has another size.
std::vector<uint8_t> RawFromPicture(const Picture& picture, SecondGreen second_green);

// The photo a raw image (or the first bytes of one, such as a slot's
// 0x4C000) shows, green taken from byte 2, as the library's bitmap export
// takes it; pixels the bytes do not cover are black.
Picture PictureFromRaw(std::span<const uint8_t> raw);

}  // namespace picture
