// The picture formats quorbit-cli writes photos in.
#pragma once

#include <optional>
#include <string_view>

namespace cli {

enum class PictureFormat {
    kBmp,   // the library's own 24-bit bitmap, byte for byte
    kPng,   // lossless
    kJpeg,  // 322 x 242, quality 90, lensmere's encoder settings (lensmere saves 644 x 484)
};

// "bmp", "png", "jpeg" (or "jpg"), any case.
std::optional<PictureFormat> FormatByName(std::string_view name);
// From a file name's extension: .bmp, .png, .jpg, .jpeg, any case.
std::optional<PictureFormat> FormatByExtension(std::string_view path);
// The extension files of the format get, without the dot: "bmp", "png", "jpg".
const char* FormatExtension(PictureFormat format);

}  // namespace cli
