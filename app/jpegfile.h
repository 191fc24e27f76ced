// JPEG files through libjpeg: decoding for the album and the print dialog, and the
// compression the program's JPEG files are made with.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace lensmere {

// How a JPEG picture is decoded. The defaults are the program's: full size, colour,
// accurate integer DCT, block smoothing, 24-bit RGB output.
struct JpegDecodeOptions {
    int scale_denominator = 1;  // 1, 2, 4 or 8
    bool grayscale = false;
    bool fast_dct = false;  // true: fast integer DCT and no fancy upsampling
    bool block_smoothing = true;

    bool operator==(const JpegDecodeOptions&) const = default;
};

// Decodes JPEG data into a Format_RGB888 image. libjpeg errors raise
// "JPEG error #<message code>"; warnings (e.g. a truncated stream) are not errors.
QImage DecodeJpeg(const QByteArray& data, const JpegDecodeOptions& options = {});
// The same for a file; one that cannot be opened raises "Cannot open file <path>".
QImage LoadJpegFile(const QString& path, const JpegDecodeOptions& options = {});

// Compresses a picture into a baseline JFIF stream: 24-bit RGB input, libjpeg's default
// parameters, quality 90 with baseline tables, colour, sequential. libjpeg errors raise
// "JPEG error #<message code>"; an empty picture raises "Bitmap image is not valid".
QByteArray EncodeJpeg(const QImage& picture);

}  // namespace lensmere
