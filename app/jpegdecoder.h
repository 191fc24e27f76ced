// Picture decoding for the album and the print dialog: JPEG through libjpeg, and Windows
// bitmaps. Failures raise DialogError with the text the user sees.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace lensmere {

// How a JPEG picture is decoded. The defaults are the program's: full size, colour,
// accurate integer DCT, block smoothing, 24-bit RGB output.
struct JpegDecodeOptions {
    int scaleDenominator = 1;  // 1, 2, 4 or 8
    bool grayscale = false;
    bool fastDct = false;  // true: fast integer DCT and no fancy upsampling
    bool blockSmoothing = true;

    bool operator==(const JpegDecodeOptions&) const = default;
};

// Decodes JPEG data into a Format_RGB888 image. libjpeg errors raise
// "JPEG error #<message code>"; warnings (e.g. a truncated stream) are not errors.
QImage decodeJpeg(const QByteArray& data, const JpegDecodeOptions& options = {});

// Reads a whole file; a file that cannot be opened raises "Cannot open file <path>".
QByteArray readPictureFile(const QString& path);

// Decodes a Windows bitmap file (BITMAPCOREHEADER, BITMAPINFOHEADER and its V4/V5
// extensions; 1, 4, 8, 16, 24 and 32 bits; uncompressed, bit fields, RLE4 and RLE8).
// Anything inconsistent or truncated raises "Bitmap image is not valid".
QImage decodeBitmap(const QByteArray& data);

// File forms of the two decoders.
QImage loadJpegFile(const QString& path, const JpegDecodeOptions& options = {});
QImage loadBitmapFile(const QString& path);

}  // namespace lensmere
