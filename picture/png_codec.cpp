// PNG through libpng: written with the full interface (for the compression
// level), read with the simplified one (it converts every colour type and
// depth to 8-bit RGB).
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "picture/codecs.h"

namespace picture {
namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}
// libpng leaves by longjmp on errors; its default handler would also print
// to stderr, which the driver's host programs do not want.
void JumpOnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void NoWarning(png_structp, png_const_charp) {}

// Nothing with a destructor lives between setjmp and a longjmp back to it.
bool Write(png_structp png, png_infop info, const Picture& picture, PngCompression compression,
           std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, AppendToVector, NoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (compression == PngCompression::kStored) {
        png_set_compression_level(png, 0);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    }
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(picture.width) * 3;
    for (int y = 0; y < picture.height; ++y) {
        // libpng takes rows through a non-const pointer but does not change them.
        png_write_row(png, const_cast<png_bytep>(picture.rgb.data() + stride * y));
    }
    png_write_end(png, info);
    return true;
}

bool Warned(const png_image& png) {
    return (png.warning_or_error & PNG_IMAGE_WARNING) != 0;
}

}  // namespace

std::vector<uint8_t> EncodePng(const Picture& picture, PngCompression compression) {
    if (!picture.Whole())
        return {};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, NoWarning);
    if (png == nullptr)
        return {};
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> out;
    const bool ok = info != nullptr && Write(png, info, picture, compression, &out);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok)
        out.clear();
    return out;
}

size_t StoredPngFileBytes(int width, int height) {
    if (width <= 0 || height <= 0)
        return 0;
    return EncodePng(Picture(width, height), PngCompression::kStored).size();
}

std::optional<Picture> DecodePng(std::span<const uint8_t> file, std::string* error,
                                 const DecodeOptions& options) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, file.data(), file.size())) {
        *error = std::string("not a readable PNG file (") + png.message + ")";
        return std::nullopt;
    }
    if (!AcceptablePictureSize(png.width, png.height, options.max_pixels, error)) {
        png_image_free(&png);
        return std::nullopt;
    }
    png.format = PNG_FORMAT_RGB;
    Picture picture(static_cast<int>(png.width), static_cast<int>(png.height));
    const png_color black = {0, 0, 0};  // transparency is composed onto black
    if (!png_image_finish_read(&png, &black, picture.rgb.data(), picture.width * 3, nullptr)) {
        *error = std::string("damaged PNG file (") + png.message + ")";
        png_image_free(&png);
        return std::nullopt;
    }
    // libpng only warns about a bad checksum of an ancillary chunk or data
    // after the picture: damage all the same.
    if (!options.lenient && Warned(png)) {
        *error = std::string("damaged PNG file (") + png.message + ")";
        return std::nullopt;
    }
    return picture;
}

}  // namespace picture
