#include "jpegdecoder.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include "dialogerror.h"

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace lensmere {

// ---------------------------------------------------------------------------------------------
// JPEG

namespace {

struct JumpingErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void jumpOnJpegError(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JumpingErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

// Warnings and trace messages would go to stderr; a damaged stream that libjpeg can still
// decode is shown as far as it goes.
extern "C" void ignoreJpegMessage(j_common_ptr, int) {}
extern "C" void ignoreJpegOutput(j_common_ptr) {}

struct Decompressor {
    jpeg_decompress_struct cinfo{};
    JumpingErrorManager errors{};

    Decompressor() {
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = jumpOnJpegError;
        errors.pub.emit_message = ignoreJpegMessage;
        errors.pub.output_message = ignoreJpegOutput;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    [[noreturn]] void fail() const {
        throw DialogError(QStringLiteral("JPEG error #%1").arg(errors.pub.msg_code));
    }
};

// libjpeg reports errors by long-jumping back into these functions; they hold no object
// with a destructor, so nothing is skipped on the way out.
bool readHeader(Decompressor& d, const unsigned char* data, unsigned long size,
                const JpegDecodeOptions& options) {
    if (setjmp(d.errors.jump)) {
        return false;
    }
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, size);
    jpeg_read_header(&d.cinfo, TRUE);
    d.cinfo.out_color_space = options.grayscale ? JCS_GRAYSCALE : JCS_RGB;
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = static_cast<unsigned>(options.scaleDenominator);
    d.cinfo.dct_method = options.fastDct ? JDCT_IFAST : JDCT_ISLOW;
    d.cinfo.do_fancy_upsampling = options.fastDct ? FALSE : TRUE;
    d.cinfo.do_block_smoothing = options.blockSmoothing ? TRUE : FALSE;
    d.cinfo.buffered_image = FALSE;
    d.cinfo.quantize_colors = FALSE;
    jpeg_calc_output_dimensions(&d.cinfo);
    return true;
}

bool startDecompress(Decompressor& d) {
    if (setjmp(d.errors.jump)) {
        return false;
    }
    jpeg_start_decompress(&d.cinfo);
    return true;
}

bool readScanlines(Decompressor& d, unsigned char* bits, qsizetype bytesPerLine) {
    if (setjmp(d.errors.jump)) {
        return false;
    }
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = bits + static_cast<qsizetype>(d.cinfo.output_scanline) * bytesPerLine;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

constexpr uint64_t kMaxJpegPixels = uint64_t(1) << 27;
constexpr uint64_t kSmallJpegPixels = uint64_t(1) << 22;
constexpr uint64_t kMaxPixelsPerByte = 4096;

}  // namespace

QImage decodeJpeg(const QByteArray& data, const JpegDecodeOptions& options) {
    JpegDecodeOptions checked = options;
    if (checked.scaleDenominator != 2 && checked.scaleDenominator != 4 &&
        checked.scaleDenominator != 8) {
        checked.scaleDenominator = 1;
    }
    Decompressor d;
    if (!readHeader(d, reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<unsigned long>(data.size()), checked)) {
        d.fail();
    }
    // A damaged header can claim a picture of billions of pixels that the data could never
    // fill; refuse what no real file of this size holds instead of allocating it.
    const uint64_t pixels = uint64_t(d.cinfo.output_width) * d.cinfo.output_height;
    if (pixels > kMaxJpegPixels ||
        (pixels > kSmallJpegPixels && pixels > uint64_t(data.size()) * kMaxPixelsPerByte)) {
        throw DialogError(QStringLiteral("JPEG error #%1").arg(int(JERR_IMAGE_TOO_BIG)));
    }
    if (!startDecompress(d)) {
        d.fail();
    }
    const bool gray = d.cinfo.output_components == 1;
    QImage image(static_cast<int>(d.cinfo.output_width), static_cast<int>(d.cinfo.output_height),
                 gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull()) {
        throw DialogError(std::string("Out of memory"));
    }
    if (!readScanlines(d, image.bits(), image.bytesPerLine())) {
        d.fail();
    }
    if (gray) {
        image = image.convertToFormat(QImage::Format_RGB888);
    }
    return image;
}

QByteArray readPictureFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw DialogError(QStringLiteral("Cannot open file %1").arg(path));
    }
    return file.readAll();
}

QImage loadJpegFile(const QString& path, const JpegDecodeOptions& options) {
    return decodeJpeg(readPictureFile(path), options);
}

// ---------------------------------------------------------------------------------------------
// Windows bitmaps

namespace {

[[noreturn]] void invalidBitmap() {
    throw DialogError(std::string("Bitmap image is not valid"));
}

class ByteReader {
  public:
    explicit ByteReader(const QByteArray& data)
        : data_(reinterpret_cast<const uint8_t*>(data.constData())),
          size_(static_cast<uint64_t>(data.size())) {}

    uint64_t size() const { return size_; }
    bool has(uint64_t offset, uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    const uint8_t* at(uint64_t offset, uint64_t count) const {
        if (!has(offset, count)) {
            invalidBitmap();
        }
        return data_ + offset;
    }
    uint16_t u16(uint64_t offset) const {
        const uint8_t* p = at(offset, 2);
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    uint32_t u32(uint64_t offset) const {
        const uint8_t* p = at(offset, 4);
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    int32_t i32(uint64_t offset) const { return static_cast<int32_t>(u32(offset)); }

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
    int value(uint32_t pixel) const {
        if (max == 0) {
            return 0;
        }
        return static_cast<int>((uint64_t((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

struct BitmapLayout {
    int width = 0;
    int height = 0;  // absolute
    bool bottomUp = true;
    int bitCount = 0;
    uint32_t compression = kBiRgb;
    std::array<uint32_t, 3> masks{};
    std::array<QRgb, 256> palette{};
    int paletteSize = 0;
    uint64_t pixelOffset = 0;
};

BitmapLayout readLayout(const ByteReader& in) {
    BitmapLayout layout;
    if (in.u16(0) != 0x4D42) {
        invalidBitmap();
    }
    const uint32_t headerSize = in.u32(14);
    int64_t width = 0, height = 0;
    uint16_t planes = 0;
    uint64_t afterHeader = 14 + uint64_t(headerSize);
    bool core = false;
    uint32_t colorsUsed = 0;
    if (headerSize == 12) {
        core = true;
        width = in.u16(18);
        height = static_cast<int16_t>(in.u16(20));
        planes = in.u16(22);
        layout.bitCount = in.u16(24);
    } else if (headerSize >= 40 && headerSize <= 1024) {
        width = in.i32(18);
        height = in.i32(22);
        planes = in.u16(26);
        layout.bitCount = in.u16(28);
        layout.compression = in.u32(30);
        colorsUsed = in.u32(46);
    } else {
        invalidBitmap();
    }
    if (planes != 1 || width <= 0 || height == 0) {
        invalidBitmap();
    }
    layout.bottomUp = height > 0;
    if (height < 0) {
        height = -height;
    }
    if (width * height > kMaxPixels) {
        invalidBitmap();
    }
    layout.width = static_cast<int>(width);
    layout.height = static_cast<int>(height);

    const int bits = layout.bitCount;
    switch (layout.compression) {
        case kBiRgb:
            if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
                invalidBitmap();
            }
            break;
        case kBiRle8:
            if (bits != 8 || !layout.bottomUp) {
                invalidBitmap();
            }
            break;
        case kBiRle4:
            if (bits != 4 || !layout.bottomUp) {
                invalidBitmap();
            }
            break;
        case kBiBitfields:
        case kBiAlphaBitfields:
            if (bits != 16 && bits != 32) {
                invalidBitmap();
            }
            break;
        default:
            invalidBitmap();
    }

    if (bits == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F};
    } else if (bits == 32) {
        layout.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    }
    if (layout.compression == kBiBitfields || layout.compression == kBiAlphaBitfields) {
        // Masks sit inside the longer headers and after the plain 40-byte one.
        const uint64_t maskOffset = 14 + 40;
        layout.masks = {in.u32(maskOffset), in.u32(maskOffset + 4), in.u32(maskOffset + 8)};
        if (headerSize == 40) {
            afterHeader += layout.compression == kBiAlphaBitfields ? 16 : 12;
        }
    }

    if (bits <= 8) {
        const uint32_t maxColors = 1u << bits;
        const uint32_t count = (colorsUsed == 0 || colorsUsed > maxColors) ? maxColors : colorsUsed;
        const uint64_t entry = core ? 3 : 4;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t offset = afterHeader + i * entry;
            if (!in.has(offset, entry)) {
                invalidBitmap();
            }
            const uint8_t* p = in.at(offset, 3);
            layout.palette[i] = qRgb(p[2], p[1], p[0]);
        }
        layout.paletteSize = static_cast<int>(count);
        afterHeader += count * entry;
    }

    const uint32_t declaredOffset = in.u32(10);
    layout.pixelOffset = declaredOffset >= 14 + headerSize ? declaredOffset : afterHeader;
    if (layout.pixelOffset > in.size()) {
        invalidBitmap();
    }
    return layout;
}

QImage decodeUncompressed(const ByteReader& in, const BitmapLayout& layout) {
    const uint64_t stride = ((uint64_t(layout.width) * layout.bitCount + 31) / 32) * 4;
    const uint8_t* pixels = in.at(layout.pixelOffset, stride * uint64_t(layout.height));
    QImage image(layout.width, layout.height, QImage::Format_RGB32);
    if (image.isNull()) {
        throw DialogError(std::string("Out of memory"));
    }
    const Channel red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]);
    for (int row = 0; row < layout.height; ++row) {
        const uint8_t* src = pixels + stride * uint64_t(row);
        const int y = layout.bottomUp ? layout.height - 1 - row : row;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < layout.width; ++x) {
            switch (layout.bitCount) {
                case 1:
                case 4:
                case 8: {
                    const int perByte = 8 / layout.bitCount;
                    const int byte = src[x / perByte];
                    const int shift = 8 - layout.bitCount * (x % perByte + 1);
                    const int index = (byte >> shift) & ((1 << layout.bitCount) - 1);
                    dst[x] = index < layout.paletteSize ? layout.palette[index] : qRgb(0, 0, 0);
                    break;
                }
                case 16: {
                    const uint32_t p = src[2 * x] | src[2 * x + 1] << 8;
                    dst[x] = qRgb(red.value(p), green.value(p), blue.value(p));
                    break;
                }
                case 24:
                    dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                    break;
                case 32: {
                    const uint8_t* q = src + 4 * x;
                    const uint32_t p = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 |
                                       uint32_t(q[3]) << 24;
                    dst[x] = qRgb(red.value(p), green.value(p), blue.value(p));
                    break;
                }
            }
        }
    }
    return image;
}

QImage decodeRunLength(const ByteReader& in, const BitmapLayout& layout) {
    // Run-length data is small for large flat pictures, but not without bound.
    const uint64_t pixels = uint64_t(layout.width) * uint64_t(layout.height);
    if (pixels > (uint64_t(1) << 26) || pixels > (in.size() - layout.pixelOffset + 2) * 32768) {
        invalidBitmap();
    }
    QImage image(layout.width, layout.height, QImage::Format_RGB32);
    if (image.isNull()) {
        throw DialogError(std::string("Out of memory"));
    }
    image.fill(layout.paletteSize > 0 ? layout.palette[0] : qRgb(0, 0, 0));
    const bool four = layout.compression == kBiRle4;
    auto color = [&](int index) {
        return index < layout.paletteSize ? layout.palette[index] : qRgb(0, 0, 0);
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
    uint64_t pos = layout.pixelOffset;
    for (;;) {
        const uint8_t* pair = in.at(pos, 2);
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
            const uint8_t* delta = in.at(pos, 2);
            pos += 2;
            x = std::min(x + delta[0], layout.width);
            row += delta[1];
        } else {
            const int count = pair[1];
            const int bytes = four ? (count + 1) / 2 : count;
            const uint8_t* run = in.at(pos, uint64_t(bytes));
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

QImage decodeBitmap(const QByteArray& data) {
    const ByteReader in(data);
    const BitmapLayout layout = readLayout(in);
    if (layout.compression == kBiRle8 || layout.compression == kBiRle4) {
        return decodeRunLength(in, layout);
    }
    return decodeUncompressed(in, layout);
}

QImage loadBitmapFile(const QString& path) {
    return decodeBitmap(readPictureFile(path));
}

}  // namespace lensmere
