// PNG through libpng: written with the full interface, read with the
// simplified one (it converts every colour type and depth to 8-bit RGB).
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "tools/cli/picture_codecs.h"

namespace cli {
namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}
// libpng leaves by longjmp on errors; its default handler would also print.
void JumpOnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void NoWarning(png_structp, png_const_charp) {}

// Nothing with a destructor lives between setjmp and a longjmp back to it.
bool Write(png_structp png, png_infop info, const std::vector<uint8_t>& rgb, int width, int height,
           std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, AppendToVector, NoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(rgb.data() + stride * y));
    png_write_end(png, info);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const tools::Image& image) {
    if (image.width <= 0 || image.height <= 0)
        return {};
    const std::vector<uint8_t> rgb = RgbPixels(image);
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, NoWarning);
    if (png == nullptr)
        return {};
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> out;
    const bool ok = info != nullptr && Write(png, info, rgb, image.width, image.height, &out);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok)
        out.clear();
    return out;
}

std::optional<tools::Image> DecodePng(const std::vector<uint8_t>& file, std::string* error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, file.data(), file.size())) {
        *error = std::string("not a readable PNG file (") + png.message + ")";
        return std::nullopt;
    }
    if (!AcceptablePictureSize(png.width, png.height, error)) {
        png_image_free(&png);
        return std::nullopt;
    }
    png.format = PNG_FORMAT_BGR;
    tools::Image image(static_cast<int>(png.width), static_cast<int>(png.height));
    const png_color black = {0, 0, 0};  // transparency is composed onto black
    if (!png_image_finish_read(&png, &black, image.bgr.data(), image.width * 3, nullptr)) {
        *error = std::string("damaged PNG file (") + png.message + ")";
        png_image_free(&png);
        return std::nullopt;
    }
    return image;
}

}  // namespace cli
