// Small previews for import dialogs: the photo at half size as a JPEG.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "gphoto/picture_codec.h"

namespace quorbit_gphoto {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

// The library's default handler exits the process; a driver must not.
void JumpOnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void NoMessage(j_common_ptr) {}

bool Compress(jpeg_compress_struct* cinfo, ErrorManager* errors, const RgbPicture& picture,
              int quality, unsigned char** buffer, unsigned long* size) {
    if (setjmp(errors->jump))
        return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, buffer, size);
    cinfo->image_width = static_cast<JDIMENSION>(picture.width);
    cinfo->image_height = static_cast<JDIMENSION>(picture.height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const size_t stride = static_cast<size_t>(picture.width) * 3;
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.rgb.data() + stride * cinfo->next_scanline);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const RgbPicture& picture, int quality) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
        return {};
    }
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JumpOnError;
    errors.base.output_message = NoMessage;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = Compress(&cinfo, &errors, picture, quality, &buffer, &size);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out;
    if (ok && buffer != nullptr)
        out.assign(buffer, buffer + size);
    std::free(buffer);
    return out;
}

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
