// Bitmaps as users have them: core (12-byte) and Windows (40- to 124-byte)
// headers; 1, 4 and 8 bits through a palette, 16 and 32 bits with the
// default or given bit fields, 24 bits; either row order.
#include <algorithm>

#include "picture/codecs.h"

namespace picture {
namespace {

constexpr uint32_t kRgb = 0;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kAlphaBitFields = 6;

uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (mask == 0)
            return;
        while (((mask >> shift) & 1) == 0)
            ++shift;
        max = mask >> shift;
    }
    uint8_t Of(uint32_t pixel) const {
        if (max == 0)
            return 0;
        return static_cast<uint8_t>((((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

struct Layout {
    int64_t width = 0;
    int64_t height = 0;
    bool top_down = false;
    int bits = 0;
    uint32_t compression = kRgb;
    uint32_t masks[3] = {};  // red, green, blue
    size_t palette_at = 0;
    size_t palette_entry = 4;
    size_t palette_count = 0;
    size_t pixels_at = 0;
};

bool Fail(std::string* error, const char* why) {
    *error = why;
    return false;
}

bool ReadLayout(std::span<const uint8_t> f, Layout* l, std::string* error) {
    if (f.size() < 26)
        return Fail(error, "truncated bitmap file");
    const uint32_t header = U32(f, 14);
    if (header != 12 && (header < 40 || header > 124))
        return Fail(error, "bitmap header of an unknown kind");
    if (f.size() < 14 + size_t{header})
        return Fail(error, "truncated bitmap header");
    l->pixels_at = U32(f, 10);
    l->palette_at = 14 + header;
    if (header == 12) {
        l->width = U16(f, 18);
        l->height = U16(f, 20);
        l->bits = U16(f, 24);
        l->palette_entry = 3;
    } else {
        l->width = static_cast<int32_t>(U32(f, 18));
        const int64_t h = static_cast<int32_t>(U32(f, 22));
        l->top_down = h < 0;
        l->height = h < 0 ? -h : h;
        l->bits = U16(f, 28);
        l->compression = U32(f, 30);
        l->palette_count = U32(f, 46);
        if (l->compression == kBitFields || l->compression == kAlphaBitFields) {
            // The masks follow a 40-byte header, or are part of a longer one.
            if (f.size() < 54 + 12)
                return Fail(error, "truncated bitmap bit fields");
            for (int i = 0; i < 3; ++i)
                l->masks[i] = U32(f, 40 + 14 + 4 * i);
            if (header == 40)
                l->palette_at += l->compression == kAlphaBitFields ? 16 : 12;
        }
    }
    if (l->bits == 16 && l->compression == kRgb) {
        l->masks[0] = 0x7C00, l->masks[1] = 0x03E0, l->masks[2] = 0x001F;
    } else if (l->bits == 32 && l->compression == kRgb) {
        l->masks[0] = 0xFF0000, l->masks[1] = 0x00FF00, l->masks[2] = 0x0000FF;
    }
    const bool fields = l->compression == kBitFields || l->compression == kAlphaBitFields;
    if (l->compression != kRgb && !(fields && (l->bits == 16 || l->bits == 32)))
        return Fail(
            error,
            "a compressed bitmap (run-length or embedded); only uncompressed ones are taken");
    if (l->bits != 1 && l->bits != 4 && l->bits != 8 && l->bits != 16 && l->bits != 24 &&
        l->bits != 32)
        return Fail(error, "a bitmap of a depth other than 1, 4, 8, 16, 24 or 32 bits");
    if (l->bits <= 8) {
        const size_t most = size_t{1} << l->bits;
        if (l->palette_count == 0 || l->palette_count > most)
            l->palette_count = most;
        if (l->palette_at + l->palette_count * l->palette_entry > f.size())
            return Fail(error, "truncated bitmap palette");
    }
    return true;
}

// A palette entry or 24-bit pixel (blue, green, red) as red, green, blue.
void FromBgr(const uint8_t* bgr, uint8_t* rgb) {
    rgb[0] = bgr[2];
    rgb[1] = bgr[1];
    rgb[2] = bgr[0];
}

}  // namespace

std::optional<Picture> DecodeBmp(std::span<const uint8_t> file, std::string* error,
                                 const DecodeOptions& options) {
    Layout l;
    if (!ReadLayout(file, &l, error))
        return std::nullopt;
    if (l.width <= 0 || l.height <= 0) {
        *error = "a bitmap without pixels";
        return std::nullopt;
    }
    if (!AcceptablePictureSize(static_cast<uint64_t>(l.width), static_cast<uint64_t>(l.height),
                               options.max_pixels, error))
        return std::nullopt;
    const size_t row = ((static_cast<size_t>(l.width) * l.bits + 31) / 32) * 4;
    if (l.pixels_at < 26 || l.pixels_at > file.size()) {
        *error = "truncated bitmap pixel data";
        return std::nullopt;
    }
    // Rows stored whole; a lenient decode leaves the missing ones black.
    const size_t rows = std::min((file.size() - l.pixels_at) / row, static_cast<size_t>(l.height));
    if (rows < static_cast<size_t>(l.height) && !options.lenient) {
        *error = "truncated bitmap pixel data";
        return std::nullopt;
    }
    const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]);
    Picture picture(static_cast<int>(l.width), static_cast<int>(l.height));
    for (int y = 0; y < picture.height; ++y) {
        const int stored = l.top_down ? y : picture.height - 1 - y;
        if (static_cast<size_t>(stored) >= rows)
            continue;
        const size_t row_at = l.pixels_at + row * stored;
        const uint8_t* src = file.data() + row_at;
        for (int x = 0; x < picture.width; ++x) {
            uint8_t* dst = picture.At(x, y);
            if (l.bits <= 8) {
                const int per_byte = 8 / l.bits;
                const int shift = 8 - l.bits * (x % per_byte + 1);
                const size_t index = (src[x / per_byte] >> shift) & ((1 << l.bits) - 1);
                if (index < l.palette_count)
                    FromBgr(file.data() + l.palette_at + index * l.palette_entry, dst);
            } else if (l.bits == 24) {
                FromBgr(src + 3 * x, dst);
            } else {
                const uint32_t pixel =
                    l.bits == 16 ? src[2 * x] | (src[2 * x + 1] << 8) : U32(file, row_at + 4 * x);
                dst[0] = red.Of(pixel);
                dst[1] = green.Of(pixel);
                dst[2] = blue.Of(pixel);
            }
        }
    }
    return picture;
}

}  // namespace picture
