// Picture files in and out of quorbit-cli: PNG through libpng, JPEG through
// libjpeg, and bitmaps of every depth. Pixels are tools::Image (blue, green,
// red; top row first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/bmp24.h"

namespace cli {

// The largest pictures taken in. A picture file of an accepted kind this big
// is far beyond any photo a user would put on a 322 x 242 card; the limits
// keep an endless or hostile file from taking all memory.
inline constexpr size_t kMaxPictureFileBytes = size_t{64} << 20;
inline constexpr uint64_t kMaxPicturePixels = 50'000'000;

// Lossless PNG (8-bit RGB, libpng's default compression); empty on failure.
std::vector<uint8_t> EncodePng(const tools::Image& image);

// JPEG with lensmere's encoder settings: libjpeg's defaults, quality 90 with
// baseline tables, colour, sequential. The same pixels give lensmere's bytes,
// but lensmere encodes the photo doubled (644 x 484) and quorbit-cli as it is
// on the card (322 x 242), so their files differ. Empty on failure.
std::vector<uint8_t> EncodeJpeg(const tools::Image& image);

// A PNG, JPEG or bitmap file, told by its first bytes. Nothing, with the
// reason, for anything else, a damaged file or one beyond kMaxPicturePixels
// (refused before its pixels are decoded).
std::optional<tools::Image> DecodePicture(const std::vector<uint8_t>& file, std::string* error);

std::optional<tools::Image> DecodePng(const std::vector<uint8_t>& file, std::string* error);
std::optional<tools::Image> DecodeJpeg(const std::vector<uint8_t>& file, std::string* error);
// Uncompressed or bit-field bitmaps of 1, 4, 8, 16, 24 or 32 bits per pixel,
// either row order.
std::optional<tools::Image> DecodeAnyBmp(const std::vector<uint8_t>& file, std::string* error);

// The pixels in red, green, blue order, as the encoders take them.
std::vector<uint8_t> RgbPixels(const tools::Image& image);

// Whether width x height is a picture size that is taken in.
bool AcceptablePictureSize(uint64_t width, uint64_t height, std::string* error);

}  // namespace cli
