// The program's JPEG files through the picture wing (libjpeg): the album and
// the print dialog decode with libjpeg's warnings ignored, so that a damaged
// file is shown as far as it goes.
#include "app/jpegfile.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "app/errors.h"
#include "app/picturefile.h"
#include "picture/codecs.h"

namespace lensmere {

namespace {

// A damaged header can claim a picture of billions of pixels that the data
// could never fill: no more than this is allocated.
constexpr uint64_t kMaxJpegPixels = uint64_t(1) << 27;

[[noreturn]] void Fail(int libjpeg_code) {
    throw ConversionError(QStringLiteral("JPEG error #%1").arg(libjpeg_code));
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data, const JpegDecodeOptions& options) {
    picture::DecodeOptions decoding;
    decoding.lenient = true;
    decoding.max_pixels = kMaxJpegPixels;
    decoding.jpeg.scale_denominator = options.scale_denominator;
    decoding.jpeg.grayscale = options.grayscale;
    decoding.jpeg.fast_dct = options.fast_dct;
    decoding.jpeg.block_smoothing = options.block_smoothing;
    std::string why;
    int code = 0;
    const std::optional<picture::Picture> decoded = picture::DecodeJpeg(
        std::span(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())), &why,
        decoding, &code);
    if (!decoded)
        Fail(code);
    QImage image(decoded->width, decoded->height, QImage::Format_RGB888);
    if (image.isNull())
        throw Error(std::string("Out of memory"));
    const size_t row_bytes = size_t(decoded->width) * 3;
    for (int y = 0; y < decoded->height; ++y)
        std::copy_n(decoded->At(0, y), row_bytes, image.scanLine(y));
    return image;
}

QImage LoadJpegFile(const QString& path, const JpegDecodeOptions& options) {
    return DecodeJpeg(ReadPictureFile(path), options);
}

QByteArray EncodeJpeg(const QImage& picture) {
    if (picture.isNull())
        throw ConversionError(std::string("Bitmap image is not valid"));
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    picture::Picture pixels(rgb.width(), rgb.height());
    const size_t row_bytes = size_t(rgb.width()) * 3;
    for (int y = 0; y < rgb.height(); ++y)
        std::copy_n(rgb.constScanLine(y), row_bytes, pixels.At(0, y));
    int code = 0;
    const std::vector<uint8_t> jpeg = picture::EncodeJpeg(pixels, picture::kJpegQuality, &code);
    if (jpeg.empty())
        Fail(code);
    return QByteArray(reinterpret_cast<const char*>(jpeg.data()), qsizetype(jpeg.size()));
}

}  // namespace lensmere
