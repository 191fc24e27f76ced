#include "sim/image_file.h"

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>

namespace sim {
namespace {

// Larger pictures than this are refused rather than risk exhausting memory
// on a hostile header.
constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

uint32_t U32(std::span<const uint8_t> f, size_t at) {
    return f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) | (static_cast<uint32_t>(f[at + 3]) << 24);
}
uint16_t U16(std::span<const uint8_t> f, size_t at) {
    return static_cast<uint16_t>(f[at] | (f[at + 1] << 8));
}

int MaskShift(uint32_t mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

uint8_t MaskedChannel(uint32_t pixel, uint32_t mask) {
    if (!mask)
        return 0;
    const int shift = MaskShift(mask);
    const uint32_t max = mask >> shift;
    return static_cast<uint8_t>(((pixel & mask) >> shift) * 255 / max);
}

}  // namespace

std::optional<RgbImage> DecodeBmp(std::span<const uint8_t> f, std::string* error) {
    if (f.size() < 14 + 40 || f[0] != 'B' || f[1] != 'M') {
        SetError(error, "not a BMP file (or too short)");
        return std::nullopt;
    }
    const uint32_t data_offset = U32(f, 10);
    const uint32_t header_size = U32(f, 14);
    if (header_size < 40 || 14ull + header_size > f.size()) {
        SetError(error, "unsupported BMP information header");
        return std::nullopt;
    }
    const int32_t width = static_cast<int32_t>(U32(f, 18));
    const int32_t raw_height = static_cast<int32_t>(U32(f, 22));
    const uint16_t bits = U16(f, 28);
    const uint32_t compression = U32(f, 30);
    if (width <= 0 || raw_height == 0 || raw_height == INT32_MIN) {
        SetError(error, "BMP has no pixels");
        return std::nullopt;
    }
    const bool top_down = raw_height < 0;
    const int64_t height = top_down ? -static_cast<int64_t>(raw_height) : raw_height;
    if (static_cast<uint64_t>(width) * height > kMaxPixels) {
        SetError(error, "BMP is too large");
        return std::nullopt;
    }
    uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};  // red, green, blue
    if (compression == 3 && bits == 32) {
        // The masks follow a 40-byte header, or sit inside a larger one.
        if (14ull + 40 + 12 > f.size()) {
            SetError(error, "BMP bit-field masks are missing");
            return std::nullopt;
        }
        for (int i = 0; i < 3; ++i)
            masks[i] = U32(f, 54 + 4 * i);
    } else if (compression != 0) {
        SetError(error, "compressed BMP files are not supported");
        return std::nullopt;
    }
    if (bits != 8 && bits != 24 && bits != 32) {
        SetError(error, "BMP with " + std::to_string(bits) +
                            " bits per pixel is not supported (8, 24 or 32)");
        return std::nullopt;
    }
    std::vector<uint8_t> palette;  // B, G, R, x per entry
    if (bits == 8) {
        uint32_t colours = U32(f, 46);
        if (colours == 0 || colours > 256)
            colours = 256;
        const uint64_t at = 14ull + header_size;
        const uint64_t available = at < f.size() ? (f.size() - at) / 4 : 0;
        if (available < colours)
            colours = static_cast<uint32_t>(available);
        palette.assign(f.begin() + at, f.begin() + at + 4ull * colours);
    }
    const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    if (data_offset > f.size() || stride * height > f.size() - data_offset) {
        SetError(error, "BMP pixel data is truncated");
        return std::nullopt;
    }
    RgbImage image(width, static_cast<int>(height));
    for (int64_t row = 0; row < height; ++row) {
        const int y = static_cast<int>(top_down ? row : height - 1 - row);
        const uint8_t* src = f.data() + data_offset + row * stride;
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image.at(x, y);
            if (bits == 24) {
                p[0] = src[3 * x + 2];
                p[1] = src[3 * x + 1];
                p[2] = src[3 * x];
            } else if (bits == 32) {
                const uint32_t v = src[4 * x] | (src[4 * x + 1] << 8) | (src[4 * x + 2] << 16) |
                                   (static_cast<uint32_t>(src[4 * x + 3]) << 24);
                p[0] = MaskedChannel(v, masks[0]);
                p[1] = MaskedChannel(v, masks[1]);
                p[2] = MaskedChannel(v, masks[2]);
            } else {
                const size_t index = src[x];
                if (4 * index + 2 < palette.size()) {
                    p[0] = palette[4 * index + 2];
                    p[1] = palette[4 * index + 1];
                    p[2] = palette[4 * index];
                }
            }
        }
    }
    return image;
}

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// libjpeg's default error_exit ends the process; this one returns to the
// decoder's setjmp instead.
[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    auto* mgr = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, mgr->message);
    std::longjmp(mgr->jump, 1);
}

void JpegQuietMessage(j_common_ptr) {}

struct JpegOutput {
    RgbImage image;
    std::string error;
};

// Kept free of objects with destructors between setjmp and longjmp: the
// output lives behind a pointer that never changes.
bool DecodeJpegInto(const uint8_t* data, unsigned long size, JpegOutput* out) {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = JpegErrorExit;
    err.base.output_message = JpegQuietMessage;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        out->error = std::string("JPEG decoding failed: ") + err.message;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    if (static_cast<uint64_t>(cinfo.image_width) * cinfo.image_height > kMaxPixels) {
        out->error = "JPEG is too large";
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        out->error = "JPEG does not decode to RGB";
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    out->image =
        RgbImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->image.at(0, static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

std::optional<RgbImage> DecodeJpeg(std::span<const uint8_t> file, std::string* error) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) {
        SetError(error, "not a JPEG file");
        return std::nullopt;
    }
    JpegOutput out;
    if (!DecodeJpegInto(file.data(), static_cast<unsigned long>(file.size()), &out)) {
        SetError(error, out.error);
        return std::nullopt;
    }
    return std::move(out.image);
}

std::optional<RgbImage> LoadImageFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        SetError(error, "cannot open picture " + path);
        return std::nullopt;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    std::string why;
    std::optional<RgbImage> image;
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        image = DecodeBmp(bytes, &why);
    } else if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
        image = DecodeJpeg(bytes, &why);
    } else {
        why = "neither a BMP nor a JPEG file";
    }
    if (!image)
        SetError(error, path + ": " + why);
    return image;
}

}  // namespace sim
