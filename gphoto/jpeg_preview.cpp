// Small previews for import dialogs: the photo at half size (as a JPEG).
#include "gphoto/picture_codec.h"

namespace quorbit_gphoto {

RgbPicture HalfSize(const RgbPicture& picture) {
    RgbPicture half((picture.width + 1) / 2, (picture.height + 1) / 2);
    for (int y = 0; y < half.height; ++y) {
        for (int x = 0; x < half.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                int n = 0;
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        const int sx = 2 * x + dx;
                        const int sy = 2 * y + dy;
                        if (sx >= picture.width || sy >= picture.height)
                            continue;
                        sum += picture.rgb[(static_cast<size_t>(sy) * picture.width + sx) * 3 + c];
                        ++n;
                    }
                }
                half.rgb[(static_cast<size_t>(y) * half.width + x) * 3 + c] =
                    static_cast<uint8_t>((sum + n / 2) / n);
            }
        }
    }
    return half;
}

}  // namespace quorbit_gphoto
