// Uncompressed 24-bit bitmaps as the tools write them.
#include "picture/codecs.h"

namespace picture {
namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

size_t RowBytes(int width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

}  // namespace

std::vector<uint8_t> EncodeBmp(const Picture& picture) {
    if (!picture.Whole())
        return {};
    const size_t row = RowBytes(picture.width);
    const size_t pixels = row * picture.height;
    std::vector<uint8_t> out(54 + pixels, 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, static_cast<uint32_t>(out.size()));
    Put32(out, 10, 54);
    Put32(out, 14, 40);
    Put32(out, 18, static_cast<uint32_t>(picture.width));
    Put32(out, 22, static_cast<uint32_t>(picture.height));
    Put16(out, 26, 1);
    Put16(out, 28, 24);
    Put32(out, 34, static_cast<uint32_t>(pixels));
    Put32(out, 38, 2835);  // 72 dpi
    Put32(out, 42, 2835);
    for (int y = 0; y < picture.height; ++y) {
        uint8_t* dst = out.data() + 54 + row * (picture.height - 1 - y);
        const uint8_t* src = picture.At(0, y);
        for (int x = 0; x < picture.width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    return out;
}

}  // namespace picture
