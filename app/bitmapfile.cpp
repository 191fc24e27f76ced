#include "app/bitmapfile.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "app/errors.h"
#include "app/picturefile.h"

namespace lensmere {

namespace {

void PutLittleEndian(uint8_t* p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

[[noreturn]] void InvalidBitmap() {
    throw ConversionError(std::string("Bitmap image is not valid"));
}

class ByteReader {
  public:
    explicit ByteReader(const QByteArray& data)
        : data_(reinterpret_cast<const uint8_t*>(data.constData())),
          size_(static_cast<uint64_t>(data.size())) {}

    uint64_t Size() const { return size_; }
    bool Has(uint64_t offset, uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    const uint8_t* At(uint64_t offset, uint64_t count) const {
        if (!Has(offset, count)) {
            InvalidBitmap();
        }
        return data_ + offset;
    }
    uint16_t U16(uint64_t offset) const {
        const uint8_t* p = At(offset, 2);
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    uint32_t U32(uint64_t offset) const {
        const uint8_t* p = At(offset, 4);
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    int32_t I32(uint64_t offset) const { return static_cast<int32_t>(U32(offset)); }

  private:
    const uint8_t* data_;
    uint64_t size_;
};

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;
constexpr int64_t kMaxPixels = int64_t(1) << 28;

// Scales the bits selected by one colour mask to 0..255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (mask == 0) {
            return;
        }
        while (((mask >> shift) & 1u) == 0) {
            ++shift;
        }
        max = mask >> shift;
    }
    int Value(uint32_t pixel) const {
        if (max == 0) {
            return 0;
        }
        return static_cast<int>((uint64_t((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

// What decoding needs beyond the headers' description.
struct BitmapLayout : BitmapInfo {
    std::array<uint32_t, 3> masks{};
    std::array<QRgb, 256> palette{};
    int palette_size = 0;
    uint64_t pixel_offset = 0;
};

BitmapLayout ReadLayout(const ByteReader& in) {
    BitmapLayout layout;
    if (in.U16(0) != 0x4D42) {
        InvalidBitmap();
    }
    const uint32_t header_size = in.U32(14);
    int64_t width = 0, height = 0;
    uint16_t planes = 0;
    uint64_t after_header = 14 + uint64_t(header_size);
    bool core = false;
    uint32_t colors_used = 0;
    if (header_size == 12) {
        core = true;
        width = in.U16(18);
        height = static_cast<int16_t>(in.U16(20));
        planes = in.U16(22);
        layout.bit_count = in.U16(24);
    } else if (header_size >= 40 && header_size <= 1024) {
        width = in.I32(18);
        height = in.I32(22);
        planes = in.U16(26);
        layout.bit_count = in.U16(28);
        layout.compression = in.U32(30);
        colors_used = in.U32(46);
    } else {
        InvalidBitmap();
    }
    if (planes != 1 || width <= 0 || height == 0) {
        InvalidBitmap();
    }
    layout.bottom_up = height > 0;
    if (height < 0) {
        height = -height;
    }
    if (width * height > kMaxPixels) {
        InvalidBitmap();
    }
    layout.width = static_cast<int>(width);
    layout.height = static_cast<int>(height);

    const int bits = layout.bit_count;
    switch (layout.compression) {
        case kBiRgb:
            if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
                InvalidBitmap();
            }
            break;
        case kBiRle8:
            if (bits != 8 || !layout.bottom_up) {
                InvalidBitmap();
            }
            break;
        case kBiRle4:
            if (bits != 4 || !layout.bottom_up) {
                InvalidBitmap();
            }
            break;
        case kBiBitfields:
        case kBiAlphaBitfields:
            if (bits != 16 && bits != 32) {
                InvalidBitmap();
            }
            break;
        default:
            InvalidBitmap();
    }

    if (bits == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F};
    } else if (bits == 32) {
        layout.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    }
    if (layout.compression == kBiBitfields || layout.compression == kBiAlphaBitfields) {
        // Masks sit inside the longer headers and after the plain 40-byte one.
        const uint64_t mask_offset = 14 + 40;
        layout.masks = {in.U32(mask_offset), in.U32(mask_offset + 4), in.U32(mask_offset + 8)};
        if (header_size == 40) {
            after_header += layout.compression == kBiAlphaBitfields ? 16 : 12;
        }
    }

    if (bits <= 8) {
        const uint32_t max_colors = 1u << bits;
        const uint32_t count =
            (colors_used == 0 || colors_used > max_colors) ? max_colors : colors_used;
        const uint64_t entry = core ? 3 : 4;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t offset = after_header + i * entry;
            if (!in.Has(offset, entry)) {
                InvalidBitmap();
            }
            const uint8_t* p = in.At(offset, 3);
            layout.palette[i] = qRgb(p[2], p[1], p[0]);
        }
        layout.palette_size = static_cast<int>(count);
        after_header += count * entry;
    }

    const uint32_t declared_offset = in.U32(10);
    layout.header_size = header_size;
    layout.offset_declared = declared_offset >= 14 + header_size;
    layout.pixel_offset = layout.offset_declared ? declared_offset : after_header;
    if (layout.pixel_offset > in.Size()) {
        InvalidBitmap();
    }
    return layout;
}

QImage DecodeUncompressed(const ByteReader& in, const BitmapLayout& layout) {
    const uint64_t stride = ((uint64_t(layout.width) * layout.bit_count + 31) / 32) * 4;
    const uint8_t* pixels = in.At(layout.pixel_offset, stride * uint64_t(layout.height));
    QImage image(layout.width, layout.height, QImage::Format_RGB32);
    if (image.isNull()) {
        throw Error(std::string("Out of memory"));
    }
    const Channel red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]);
    for (int row = 0; row < layout.height; ++row) {
        const uint8_t* src = pixels + stride * uint64_t(row);
        const int y = layout.bottom_up ? layout.height - 1 - row : row;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < layout.width; ++x) {
            switch (layout.bit_count) {
                case 1:
                case 4:
                case 8: {
                    const int per_byte = 8 / layout.bit_count;
                    const int byte = src[x / per_byte];
                    const int shift = 8 - layout.bit_count * (x % per_byte + 1);
                    const int index = (byte >> shift) & ((1 << layout.bit_count) - 1);
                    dst[x] = index < layout.palette_size ? layout.palette[index] : qRgb(0, 0, 0);
                    break;
                }
                case 16: {
                    const uint32_t p = src[2 * x] | src[2 * x + 1] << 8;
                    dst[x] = qRgb(red.Value(p), green.Value(p), blue.Value(p));
                    break;
                }
                case 24:
                    dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                    break;
                case 32: {
                    const uint8_t* q = src + 4 * x;
                    const uint32_t p = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 |
                                       uint32_t(q[3]) << 24;
                    dst[x] = qRgb(red.Value(p), green.Value(p), blue.Value(p));
                    break;
                }
            }
        }
    }
    return image;
}

QImage DecodeRunLength(const ByteReader& in, const BitmapLayout& layout) {
    // Run-length data is small for large flat pictures, but not without bound.
    const uint64_t pixels = uint64_t(layout.width) * uint64_t(layout.height);
    if (pixels > (uint64_t(1) << 26) || pixels > (in.Size() - layout.pixel_offset + 2) * 32768) {
        InvalidBitmap();
    }
    QImage image(layout.width, layout.height, QImage::Format_RGB32);
    if (image.isNull()) {
        throw Error(std::string("Out of memory"));
    }
    image.fill(layout.palette_size > 0 ? layout.palette[0] : qRgb(0, 0, 0));
    const bool four = layout.compression == kBiRle4;
    auto color = [&](int index) {
        return index < layout.palette_size ? layout.palette[index] : qRgb(0, 0, 0);
    };
    int x = 0, row = 0;
    auto put = [&](int index) {
        if (x < layout.width && row < layout.height) {
            reinterpret_cast<QRgb*>(image.scanLine(layout.height - 1 - row))[x] = color(index);
        }
        if (x < layout.width) {
            ++x;
        }
    };
    uint64_t pos = layout.pixel_offset;
    for (;;) {
        const uint8_t* pair = in.At(pos, 2);
        pos += 2;
        if (pair[0] > 0) {
            for (int i = 0; i < pair[0]; ++i) {
                put(four ? (i % 2 == 0 ? pair[1] >> 4 : pair[1] & 15) : pair[1]);
            }
        } else if (pair[1] == 0) {
            x = 0;
            ++row;
        } else if (pair[1] == 1) {
            break;
        } else if (pair[1] == 2) {
            const uint8_t* delta = in.At(pos, 2);
            pos += 2;
            x = std::min(x + delta[0], layout.width);
            row += delta[1];
        } else {
            const int count = pair[1];
            const int bytes = four ? (count + 1) / 2 : count;
            const uint8_t* run = in.At(pos, uint64_t(bytes));
            for (int i = 0; i < count; ++i) {
                put(four ? (i % 2 == 0 ? run[i / 2] >> 4 : run[i / 2] & 15) : run[i]);
            }
            pos += uint64_t((bytes + 1) & ~1);
        }
        if (row >= layout.height) {
            break;
        }
    }
    return image;
}

}  // namespace

BitmapInfo ReadBitmapInfo(const QByteArray& data) {
    return ReadLayout(ByteReader(data));
}

QImage DecodeBitmap(const QByteArray& data) {
    const ByteReader in(data);
    const BitmapLayout layout = ReadLayout(in);
    if (layout.compression == kBiRle8 || layout.compression == kBiRle4) {
        return DecodeRunLength(in, layout);
    }
    return DecodeUncompressed(in, layout);
}

QImage LoadBitmapFile(const QString& path) {
    return DecodeBitmap(ReadPictureFile(path));
}

std::array<uint8_t, kBitmapHeaderBytes> BitmapFileHeader(int width, int height,
                                                         uint32_t pixels_per_metre) {
    const uint32_t row_bytes = (static_cast<uint32_t>(width) * 3 + 3) / 4 * 4;
    const uint32_t image_bytes = row_bytes * static_cast<uint32_t>(height);
    std::array<uint8_t, kBitmapHeaderBytes> h{};
    h[0] = 'B';
    h[1] = 'M';
    PutLittleEndian(h.data() + 2, static_cast<uint32_t>(kBitmapHeaderBytes) + image_bytes, 4);
    PutLittleEndian(h.data() + 10, kBitmapHeaderBytes, 4);
    PutLittleEndian(h.data() + 14, 40, 4);
    PutLittleEndian(h.data() + 18, static_cast<uint32_t>(width), 4);
    PutLittleEndian(h.data() + 22, static_cast<uint32_t>(height), 4);
    PutLittleEndian(h.data() + 26, 1, 2);
    PutLittleEndian(h.data() + 28, 24, 2);
    PutLittleEndian(h.data() + 34, image_bytes, 4);
    PutLittleEndian(h.data() + 38, pixels_per_metre, 4);
    PutLittleEndian(h.data() + 42, pixels_per_metre, 4);
    return h;
}

}  // namespace lensmere
