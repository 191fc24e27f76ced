// Reading the pictures that go onto a made card: uncompressed BMP (8-bit
// palette, 24 and 32 bits, either row order) and JPEG. Malformed files give a
// sentence in *error, never a crash.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sim/raw_photo.h"

namespace sim {

std::optional<RgbImage> DecodeBmp(std::span<const uint8_t> file, std::string* error);
std::optional<RgbImage> DecodeJpeg(std::span<const uint8_t> file, std::string* error);
// Chooses the decoder by the file's first bytes.
std::optional<RgbImage> LoadImageFile(const std::string& path, std::string* error);

}  // namespace sim
