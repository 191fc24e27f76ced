// The 24-bit bitmap files the library writes from a raw photo and reads back
// for an upload. The library keeps this code of its own rather than use the
// picture wing (picture/), so that libquorbit.so.1 needs neither libjpeg nor
// libpng: it only ever reads and writes this one kind of bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cardlib/card_layout.h"

namespace quorbit {

inline constexpr size_t kBitmapHeaderBytes = 54;
inline constexpr size_t kBitmapRowBytes = 968;  // 322 x 3 bytes and 2 bytes of padding
inline constexpr size_t kBitmapPixelBytes = kBitmapRowBytes * kPhotoHeight;         // 234256
inline constexpr size_t kBitmapFileBytes = kBitmapHeaderBytes + kBitmapPixelBytes;  // 234310
inline constexpr int32_t kBitmapPixelsPerMetre = 50190;

// The whole bitmap file of a raw photo (kRawPhotoBytes): blue, green (byte 2)
// and red of each pixel, bottom row first.
std::vector<uint8_t> EncodeBitmap(std::span<const uint8_t> raw);

// The raw photo (kRawPhotoBytes) of a bitmap file: only an uncompressed
// 24-bit 322 x 242 bitmap is taken, stored bottom-up or top-down, with its
// pixel data where the header says. Raw byte 1 of each pixel is 0.
std::optional<std::vector<uint8_t>> DecodeBitmap(std::span<const uint8_t> file);

// Upload files larger than this are not bitmaps of the photo size.
inline constexpr size_t kMaxBitmapFileBytes = 4 * 1024 * 1024;

}  // namespace quorbit
