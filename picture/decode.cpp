// What the decoders share: telling files apart and the size limit.
#include <cstring>

#include "picture/codecs.h"

namespace picture {

bool AcceptablePictureSize(uint64_t width, uint64_t height, uint64_t max_pixels,
                           std::string* error) {
    if (width == 0 || height == 0 || width * height > max_pixels) {
        *error = "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels; pictures of up to " + std::to_string(max_pixels / 1000000) +
                 " million pixels are taken";
        return false;
    }
    return true;
}

bool LooksLikePng(std::span<const uint8_t> file) {
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return file.size() >= sizeof kPng && std::memcmp(file.data(), kPng, sizeof kPng) == 0;
}

bool LooksLikeJpeg(std::span<const uint8_t> file) {
    return file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF;
}

bool LooksLikeBmp(std::span<const uint8_t> file) {
    return file.size() >= 2 && file[0] == 'B' && file[1] == 'M';
}

std::optional<Picture> Decode(std::span<const uint8_t> file, std::string* error,
                              const DecodeOptions& options) {
    if (LooksLikePng(file))
        return DecodePng(file, error, options);
    if (LooksLikeJpeg(file))
        return DecodeJpeg(file, error, options);
    if (LooksLikeBmp(file))
        return DecodeBmp(file, error, options);
    *error = "not a picture (PNG, JPEG or BMP)";
    return std::nullopt;
}

}  // namespace picture
