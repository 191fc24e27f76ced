#include "app/jpegfile.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/errors.h"
#include "app/picturefile.h"

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace lensmere {

namespace {

struct JumpingErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void JumpOnJpegError(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JumpingErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

// Warnings and trace messages would go to stderr; a damaged stream that libjpeg can still
// decode is shown as far as it goes.
extern "C" void IgnoreJpegMessage(j_common_ptr, int) {}
extern "C" void IgnoreJpegOutput(j_common_ptr) {}

struct Decompressor {
    jpeg_decompress_struct cinfo{};
    JumpingErrorManager errors{};

    Decompressor() {
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = JumpOnJpegError;
        errors.pub.emit_message = IgnoreJpegMessage;
        errors.pub.output_message = IgnoreJpegOutput;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    [[noreturn]] void Fail() const {
        throw ConversionError(QStringLiteral("JPEG error #%1").arg(errors.pub.msg_code));
    }
};

// libjpeg reports errors by long-jumping back into these functions; they hold no object
// with a destructor, so nothing is skipped on the way out.
bool ReadHeader(Decompressor& d, const unsigned char* data, unsigned long size,
                const JpegDecodeOptions& options) {
    if (setjmp(d.errors.jump)) {
        return false;
    }
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, size);
    jpeg_read_header(&d.cinfo, TRUE);
    d.cinfo.out_color_space = options.grayscale ? JCS_GRAYSCALE : JCS_RGB;
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = static_cast<unsigned>(options.scale_denominator);
    d.cinfo.dct_method = options.fast_dct ? JDCT_IFAST : JDCT_ISLOW;
    d.cinfo.do_fancy_upsampling = options.fast_dct ? FALSE : TRUE;
    d.cinfo.do_block_smoothing = options.block_smoothing ? TRUE : FALSE;
    d.cinfo.buffered_image = FALSE;
    d.cinfo.quantize_colors = FALSE;
    jpeg_calc_output_dimensions(&d.cinfo);
    return true;
}

bool StartDecompress(Decompressor& d) {
    if (setjmp(d.errors.jump)) {
        return false;
    }
    jpeg_start_decompress(&d.cinfo);
    return true;
}

bool ReadScanlines(Decompressor& d, unsigned char* bits, qsizetype bytes_per_line) {
    if (setjmp(d.errors.jump)) {
        return false;
    }
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = bits + static_cast<qsizetype>(d.cinfo.output_scanline) * bytes_per_line;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

constexpr uint64_t kMaxJpegPixels = uint64_t(1) << 27;
constexpr uint64_t kSmallJpegPixels = uint64_t(1) << 22;
constexpr uint64_t kMaxPixelsPerByte = 4096;

}  // namespace

QImage DecodeJpeg(const QByteArray& data, const JpegDecodeOptions& options) {
    JpegDecodeOptions checked = options;
    if (checked.scale_denominator != 2 && checked.scale_denominator != 4 &&
        checked.scale_denominator != 8) {
        checked.scale_denominator = 1;
    }
    Decompressor d;
    if (!ReadHeader(d, reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<unsigned long>(data.size()), checked)) {
        d.Fail();
    }
    // A damaged header can claim a picture of billions of pixels that the data could never
    // fill; refuse what no real file of this size holds instead of allocating it.
    const uint64_t pixels = uint64_t(d.cinfo.output_width) * d.cinfo.output_height;
    if (pixels > kMaxJpegPixels ||
        (pixels > kSmallJpegPixels && pixels > uint64_t(data.size()) * kMaxPixelsPerByte)) {
        throw ConversionError(QStringLiteral("JPEG error #%1").arg(int(JERR_IMAGE_TOO_BIG)));
    }
    if (!StartDecompress(d)) {
        d.Fail();
    }
    const bool gray = d.cinfo.output_components == 1;
    QImage image(static_cast<int>(d.cinfo.output_width), static_cast<int>(d.cinfo.output_height),
                 gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull()) {
        throw Error(std::string("Out of memory"));
    }
    if (!ReadScanlines(d, image.bits(), image.bytesPerLine())) {
        d.Fail();
    }
    if (gray) {
        image = image.convertToFormat(QImage::Format_RGB888);
    }
    return image;
}

QImage LoadJpegFile(const QString& path, const JpegDecodeOptions& options) {
    return DecodeJpeg(ReadPictureFile(path), options);
}

namespace {

// Runs the compressor on 24-bit RGB rows. Kept free of objects with destructors, since an
// error inside libjpeg leaves through longjmp. Returns 0 or libjpeg's message code.
int Compress(const QImage& rgb, unsigned char** out, unsigned long* out_size) {
    jpeg_compress_struct cinfo;
    JumpingErrorManager errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JumpOnJpegError;
    errors.pub.output_message = IgnoreJpegOutput;
    if (setjmp(errors.jump)) {
        const int code = errors.pub.msg_code;
        jpeg_destroy_compress(&cinfo);
        return code == 0 ? -1 : code;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, out_size);
    cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPLE*>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

}  // namespace

QByteArray EncodeJpeg(const QImage& picture) {
    if (picture.isNull())
        throw ConversionError(std::string("Bitmap image is not valid"));
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    unsigned char* out = nullptr;
    unsigned long out_size = 0;
    const int code = Compress(rgb, &out, &out_size);
    QByteArray bytes;
    if (code == 0 && out != nullptr)
        bytes = QByteArray(reinterpret_cast<const char*>(out), static_cast<qsizetype>(out_size));
    std::free(out);
    if (code != 0)
        throw ConversionError("JPEG error #" + std::to_string(code));
    return bytes;
}

}  // namespace lensmere
