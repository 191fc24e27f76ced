// JPEG through libjpeg. The encoder's settings are lensmere's (libjpeg's
// defaults, quality 90, baseline tables), so that a photo saved by either
// program is the same file.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "tools/cli/picture_codecs.h"

namespace cli {
namespace {

constexpr int kQuality = 90;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

// libjpeg's default handler ends the process.
void JumpOnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void NoMessage(j_common_ptr) {}

void InstallErrors(j_common_ptr cinfo, ErrorManager* errors) {
    cinfo->err = jpeg_std_error(&errors->base);
    errors->base.error_exit = JumpOnError;
    errors->base.output_message = NoMessage;
}

std::string Message(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX] = {};
    cinfo->err->format_message(cinfo, text);
    return text;
}

// Free of objects with destructors: errors leave through longjmp.
bool Compress(jpeg_compress_struct* cinfo, ErrorManager* errors, const uint8_t* rgb, int width,
              int height, unsigned char** buffer, unsigned long* size) {
    if (setjmp(errors->jump))
        return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, buffer, size);
    cinfo->image_width = static_cast<JDIMENSION>(width);
    cinfo->image_height = static_cast<JDIMENSION>(height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, kQuality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const size_t stride = static_cast<size_t>(width) * 3;
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + stride * cinfo->next_scanline);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

// Reads the header; true when the picture may be decoded (size and colours).
bool ReadHeader(jpeg_decompress_struct* cinfo, ErrorManager* errors,
                const std::vector<uint8_t>& file, std::string* error) {
    if (setjmp(errors->jump)) {
        *error =
            "not a readable JPEG file (" + Message(reinterpret_cast<j_common_ptr>(cinfo)) + ")";
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK) {
        *error = "a CMYK JPEG file; only colour (RGB) and grey pictures are taken";
        return false;
    }
    if (!AcceptablePictureSize(cinfo->image_width, cinfo->image_height, error))
        return false;
    cinfo->out_color_space = JCS_EXT_BGR;
    return true;
}

bool Decompress(jpeg_decompress_struct* cinfo, ErrorManager* errors, tools::Image* image,
                std::string* error) {
    if (setjmp(errors->jump)) {
        *error = "damaged JPEG file (" + Message(reinterpret_cast<j_common_ptr>(cinfo)) + ")";
        return false;
    }
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = image->At(0, static_cast<int>(cinfo->output_scanline));
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const tools::Image& image) {
    if (image.width <= 0 || image.height <= 0)
        return {};
    const std::vector<uint8_t> rgb = RgbPixels(image);
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    InstallErrors(reinterpret_cast<j_common_ptr>(&cinfo), &errors);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok =
        Compress(&cinfo, &errors, rgb.data(), image.width, image.height, &buffer, &size);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out;
    if (ok && buffer != nullptr)
        out.assign(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::optional<tools::Image> DecodeJpeg(const std::vector<uint8_t>& file, std::string* error) {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    InstallErrors(reinterpret_cast<j_common_ptr>(&cinfo), &errors);
    std::optional<tools::Image> image;
    if (ReadHeader(&cinfo, &errors, file, error)) {
        image.emplace(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));
        if (!Decompress(&cinfo, &errors, &*image, error))
            image.reset();
    }
    jpeg_destroy_decompress(&cinfo);
    return image;
}

}  // namespace cli
