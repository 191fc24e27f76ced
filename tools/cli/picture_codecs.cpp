// What the picture codecs share: telling files apart, the size limit and the
// encoders' pixel order.
#include "tools/cli/picture_codecs.h"

#include <cstring>

namespace cli {

std::vector<uint8_t> RgbPixels(const tools::Image& image) {
    std::vector<uint8_t> rgb(image.bgr.size());
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        rgb[i] = image.bgr[i + 2];
        rgb[i + 1] = image.bgr[i + 1];
        rgb[i + 2] = image.bgr[i];
    }
    return rgb;
}

bool AcceptablePictureSize(uint64_t width, uint64_t height, std::string* error) {
    if (width == 0 || height == 0 || width * height > kMaxPicturePixels) {
        *error = "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels; pictures of up to " + std::to_string(kMaxPicturePixels / 1000000) +
                 " million pixels are taken";
        return false;
    }
    return true;
}

std::optional<tools::Image> DecodePicture(const std::vector<uint8_t>& file, std::string* error) {
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() >= sizeof kPng && std::memcmp(file.data(), kPng, sizeof kPng) == 0)
        return DecodePng(file, error);
    if (file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF)
        return DecodeJpeg(file, error);
    if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M')
        return DecodeAnyBmp(file, error);
    *error = "not a picture (PNG, JPEG or BMP)";
    return std::nullopt;
}

}  // namespace cli
