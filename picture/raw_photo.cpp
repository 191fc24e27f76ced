#include "picture/raw_photo.h"

#include <algorithm>

#include "picture/fit_photo.h"

namespace picture {

std::vector<uint8_t> RawFromPicture(const Picture& picture, SecondGreen second_green) {
    const Picture photo = FitToPhoto(picture);
    std::vector<uint8_t> raw(kRawPhotoBytes);
    for (int y = 0; y < kPhotoHeight; ++y) {
        const int below = std::min(y + 1, kPhotoHeight - 1);
        for (int x = 0; x < kPhotoWidth; ++x) {
            const uint8_t* p = photo.At(x, y);
            uint8_t* r = &raw[y * kRawRowBytes + x * kRawPixelBytes];
            r[0] = p[2];
            r[1] = second_green == SecondGreen::kZero
                       ? 0
                       : static_cast<uint8_t>((p[1] + photo.At(x, below)[1] + 1) / 2);
            r[2] = p[1];
            r[3] = p[0];
        }
    }
    return raw;
}

Picture PictureFromRaw(std::span<const uint8_t> raw) {
    Picture photo(kPhotoWidth, kPhotoHeight);
    const size_t pixels = std::min(raw.size(), kRawPhotoBytes) / kRawPixelBytes;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* r = &raw[i * kRawPixelBytes];
        uint8_t* p = &photo.rgb[i * 3];
        p[0] = r[3];
        p[1] = r[2];
        p[2] = r[0];
    }
    return photo;
}

}  // namespace picture
