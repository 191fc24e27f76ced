// The picture files the driver hands out and takes in: lossless PNG photos,
// small JPEG previews, and PNG uploads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorbit_gphoto {

// 8-bit red, green, blue, rows top first, no padding.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    RgbPicture() = default;
    RgbPicture(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 0) {}
};

// A PNG file of the picture, stored without compression: its length then
// depends only on the picture's size, so that a file's size can be told
// before the photo is read from the card (file managers and gphotofs ask for
// it when they list the folder). Empty on failure.
std::vector<uint8_t> EncodePng(const RgbPicture& picture);

// The PNG file length EncodePng gives for pictures of this size (0 on failure).
size_t PngFileBytes(int width, int height);

// Whether the bytes start like a PNG file.
bool LooksLikePng(std::span<const uint8_t> file);

// The picture of a PNG file of exactly width x height pixels (any colour type
// and depth; transparency is composed onto black). Nullopt for anything else,
// without decoding pixel data of a file of another size.
std::optional<RgbPicture> DecodePng(std::span<const uint8_t> file, int width, int height);

// A baseline JPEG file of the picture at the quality (1-100); empty on failure.
std::vector<uint8_t> EncodeJpeg(const RgbPicture& picture, int quality);

// The picture at half its width and height (rounded up), each pixel the mean
// of the two-by-two block it covers.
RgbPicture HalfSize(const RgbPicture& picture);

}  // namespace quorbit_gphoto
