// PNG through libpng: writing with the full interface (for the compression
// level), reading with the simplified one (it converts every colour type).
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "gphoto/picture_codec.h"

namespace quorbit_gphoto {
namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

// libpng reports errors by longjmp; the default handler also prints to
// stderr, which a host program of the driver does not want.
void SilentError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void SilentWarning(png_structp, png_const_charp) {}

// Runs the write on already-allocated state, so that nothing with a
// destructor lives between setjmp and a longjmp back to it.
bool WritePng(png_structp png, png_infop info, const RgbPicture& picture,
              std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, AppendToVector, NoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 0);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(picture.width) * 3;
    for (int y = 0; y < picture.height; ++y) {
        // libpng takes rows through a non-const pointer but does not change them.
        png_write_row(png, const_cast<png_bytep>(picture.rgb.data() + stride * y));
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const RgbPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
        return {};
    }
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning);
    if (png == nullptr)
        return {};
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> out;
    const bool ok = info != nullptr && WritePng(png, info, picture, &out);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok)
        out.clear();
    return out;
}

size_t PngFileBytes(int width, int height) {
    if (width <= 0 || height <= 0)
        return 0;
    return EncodePng(RgbPicture(width, height)).size();
}

bool LooksLikePng(std::span<const uint8_t> file) {
    return file.size() >= 8 && png_sig_cmp(file.data(), 0, 8) == 0;
}

std::optional<RgbPicture> DecodePng(std::span<const uint8_t> file, int width, int height) {
    if (!LooksLikePng(file))
        return std::nullopt;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return std::nullopt;
    if (image.width != static_cast<png_uint_32>(width) ||
        image.height != static_cast<png_uint_32>(height)) {
        png_image_free(&image);
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    RgbPicture picture(width, height);
    const png_color black = {0, 0, 0};
    if (!png_image_finish_read(&image, &black, picture.rgb.data(), width * 3, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    return picture;
}

}  // namespace quorbit_gphoto
