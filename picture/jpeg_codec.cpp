// JPEG through libjpeg. The encoder's settings are lensmere's (libjpeg's
// defaults, quality 90, baseline tables), so that a photo saved by any of the
// programs is the same file.
#include <jerror.h>

#include <cstdlib>

#include "picture/codecs.h"
#include "picture/jpeg_errors.h"

namespace picture {
namespace {

// Beyond this many pixels a JPEG must bring at least one byte per
// kMaxPixelsPerByte pixels: no real file is sparser, a hostile header is.
constexpr uint64_t kSmallJpegPixels = uint64_t{1} << 22;
constexpr uint64_t kMaxPixelsPerByte = 4096;

j_common_ptr Common(jpeg_compress_struct* cinfo) {
    return reinterpret_cast<j_common_ptr>(cinfo);
}
j_common_ptr Common(jpeg_decompress_struct* cinfo) {
    return reinterpret_cast<j_common_ptr>(cinfo);
}

// Free of objects with destructors: errors leave through longjmp.
bool Compress(jpeg_compress_struct* cinfo, JpegErrors* errors, const Picture& picture, int quality,
              unsigned char** buffer, unsigned long* size) {
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
        // libjpeg takes rows through a non-const pointer but does not change them.
        JSAMPROW row = const_cast<JSAMPROW>(picture.rgb.data() + stride * cinfo->next_scanline);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

// Reads the header and sets the output up; true when the picture may be
// decoded (size and colours). *code gets libjpeg's code of a refusal.
bool ReadHeader(jpeg_decompress_struct* cinfo, JpegErrors* errors, std::span<const uint8_t> file,
                const DecodeOptions& options, std::string* error, int* code) {
    if (setjmp(errors->jump)) {
        *error = "not a readable JPEG file (" + JpegMessage(Common(cinfo)) + ")";
        *code = cinfo->err->msg_code;
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK) {
        *error = "a CMYK JPEG file; only colour (RGB) and grey pictures are taken";
        *code = JERR_CONVERSION_NOTIMPL;
        return false;
    }
    const JpegOutput& out = options.jpeg;
    const int denominator =
        out.scale_denominator == 2 || out.scale_denominator == 4 || out.scale_denominator == 8
            ? out.scale_denominator
            : 1;
    cinfo->out_color_space = out.grayscale ? JCS_GRAYSCALE : JCS_RGB;
    cinfo->scale_num = 1;
    cinfo->scale_denom = static_cast<unsigned>(denominator);
    cinfo->dct_method = out.fast_dct ? JDCT_IFAST : JDCT_ISLOW;
    cinfo->do_fancy_upsampling = out.fast_dct ? FALSE : TRUE;
    cinfo->do_block_smoothing = out.block_smoothing ? TRUE : FALSE;
    jpeg_calc_output_dimensions(cinfo);
    const uint64_t pixels = uint64_t{cinfo->output_width} * cinfo->output_height;
    if (!AcceptablePictureSize(cinfo->output_width, cinfo->output_height, options.max_pixels,
                               error)) {
        *code = JERR_IMAGE_TOO_BIG;
        return false;
    }
    if (pixels > kSmallJpegPixels && pixels > uint64_t{file.size()} * kMaxPixelsPerByte) {
        *error = "a JPEG file claiming " + std::to_string(cinfo->output_width) + " x " +
                 std::to_string(cinfo->output_height) + " pixels in " +
                 std::to_string(file.size()) + " bytes";
        *code = JERR_IMAGE_TOO_BIG;
        return false;
    }
    return true;
}

// grey: a row's worth of room for one-channel output, spread over the three.
bool Decompress(jpeg_decompress_struct* cinfo, JpegErrors* errors, Picture* picture, uint8_t* grey,
                std::string* error, int* code) {
    if (setjmp(errors->jump)) {
        *error = "damaged JPEG file (" + JpegMessage(Common(cinfo)) + ")";
        *code = cinfo->err->msg_code;
        return false;
    }
    jpeg_start_decompress(cinfo);
    const bool one_channel = cinfo->output_components == 1;
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = static_cast<int>(cinfo->output_scanline);
        JSAMPROW row = one_channel ? grey : picture->At(0, y);
        jpeg_read_scanlines(cinfo, &row, 1);
        if (one_channel) {
            uint8_t* out = picture->At(0, y);
            for (int x = 0; x < picture->width; ++x, out += 3)
                out[0] = out[1] = out[2] = grey[x];
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const Picture& picture, int quality, int* libjpeg_code) {
    if (!picture.Whole()) {
        if (libjpeg_code != nullptr)
            *libjpeg_code = -1;
        return {};
    }
    jpeg_compress_struct cinfo{};
    JpegErrors errors{};
    InstallJpegErrors(Common(&cinfo), &errors);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = Compress(&cinfo, &errors, picture, quality, &buffer, &size);
    if (!ok && libjpeg_code != nullptr)
        *libjpeg_code = errors.base.msg_code;
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out;
    if (ok && buffer != nullptr)
        out.assign(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::optional<Picture> DecodeJpeg(std::span<const uint8_t> file, std::string* error,
                                  const DecodeOptions& options, int* libjpeg_code) {
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    errors.warnings_are_errors = !options.lenient;
    InstallJpegErrors(Common(&cinfo), &errors);
    int code = 0;
    std::optional<Picture> picture;
    if (ReadHeader(&cinfo, &errors, file, options, error, &code)) {
        picture.emplace(static_cast<int>(cinfo.output_width),
                        static_cast<int>(cinfo.output_height));
        std::vector<uint8_t> grey(cinfo.output_width);
        if (!Decompress(&cinfo, &errors, &*picture, grey.data(), error, &code))
            picture.reset();
    }
    jpeg_destroy_decompress(&cinfo);
    if (!picture && libjpeg_code != nullptr)
        *libjpeg_code = code;
    return picture;
}

}  // namespace picture
