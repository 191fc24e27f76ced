// The picture files the program writes from a raw photo held in memory: the
// 322 x 242 bitmap of the preview, the 644 x 484 bitmap used for saving and
// printing, and JPEG files compressed from a bitmap file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace lensmere {

// A raw photo as the camera keeps it: 322 x 242 pixels of 4 bytes (blue, a
// second green, green, red), rows of 1288 bytes, top row first.
inline constexpr int kRawWidth = 322;
inline constexpr int kRawHeight = 242;
inline constexpr size_t kRawRowBytes = 1288;
inline constexpr size_t kRawImageBytes = kRawRowBytes * kRawHeight;  // 311,696

inline constexpr size_t kBitmapFileBytes = 234310;
inline constexpr size_t kDoubledBitmapFileBytes = 935142;

// A file that could not be created or written; the message is the text a
// user sees ("File access denied", "Disk full", "I/O error 5", ...).
class InOutError : public std::runtime_error {
  public:
    InOutError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// A bitmap that could not be read or a JPEG that could not be made
// ("Cannot open file …", "Bitmap image is not valid", "JPEG error #…").
class ConversionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The text of an errno value as the program reports it.
std::string InOutErrorText(int code);

// Writes the 24-bit 322 x 242 bitmap (234,310 bytes): green from raw byte 2.
// raw must hold at least kRawImageBytes. Throws InOutError.
void WriteBitmap(const std::string& path, std::span<const uint8_t> raw);

// Writes the 24-bit 644 x 484 bitmap (935,142 bytes): every raw pixel becomes
// 2 x 2 output pixels; of each pair of rows the lower one takes its green from
// raw byte 1, the upper one from raw byte 2. Throws InOutError.
void WriteDoubledBitmap(const std::string& path, std::span<const uint8_t> raw);

// Compresses an uncompressed 24- or 32-bit bitmap file into a baseline JFIF
// file: libjpeg defaults, quality 90, colour, sequential. The JPEG file is
// only created once the whole image has been compressed. Throws
// ConversionError or InOutError.
void ConvertToJpeg(const std::string& bitmap_path, const std::string& jpeg_path);

// A decoded bitmap file, top row first, 3 bytes a pixel in R, G, B order.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// Reads a bitmap file (throws ConversionError).
RgbImage LoadBitmapFile(const std::string& path);

// Compresses pixels into JPEG bytes (throws ConversionError).
std::vector<uint8_t> CompressJpeg(const RgbImage& image);

}  // namespace lensmere
