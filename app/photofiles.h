// The picture files the program writes from a raw photo held in memory: the
// 322 x 242 bitmap of the preview, the 644 x 484 bitmap used for saving and
// printing, and JPEG files compressed from a bitmap file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "app/errors.h"

namespace lensmere {

// A raw photo as the camera keeps it: 322 x 242 pixels of 4 bytes (blue, a
// second green, green, red), rows of 1288 bytes, top row first.
inline constexpr int kRawWidth = 322;
inline constexpr int kRawHeight = 242;
inline constexpr size_t kRawRowBytes = 1288;
inline constexpr size_t kRawImageBytes = kRawRowBytes * kRawHeight;  // 311,696

inline constexpr size_t kBitmapFileBytes = 234310;
inline constexpr size_t kDoubledBitmapFileBytes = 935142;

// Writes the 24-bit 322 x 242 bitmap (234,310 bytes): green from raw byte 2.
// raw must hold at least kRawImageBytes. Throws InOutError.
void WriteBitmap(const std::string& path, std::span<const uint8_t> raw);

// Writes the 24-bit 644 x 484 bitmap (935,142 bytes): every raw pixel becomes
// 2 x 2 output pixels; of each pair of rows the lower one takes its green from
// raw byte 1, the upper one from raw byte 2. Throws InOutError.
void WriteDoubledBitmap(const std::string& path, std::span<const uint8_t> raw);

// Compresses an uncompressed 24- or 32-bit bitmap file into a baseline JFIF
// file (EncodeJpeg). The JPEG file is only created once the whole image has
// been compressed. Throws ConversionError or InOutError.
void ConvertToJpeg(const std::string& bitmap_path, const std::string& jpeg_path);

}  // namespace lensmere
