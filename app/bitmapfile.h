// Windows bitmap files: the program's one reader of them (the album, the print dialog and
// the JPEG conversion all read through it) and the header of the 24-bit bitmaps it writes.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace lensmere {

// What a bitmap file's headers say about its pixels.
struct BitmapInfo {
    int width = 0;
    int height = 0;  // rows, whichever way they are stored
    bool bottom_up = true;
    int bit_count = 0;
    uint32_t compression = 0;      // 0 none, 1 RLE8, 2 RLE4, 3 and 6 bit fields
    uint32_t header_size = 0;      // 12 for the old core header, 40 and more for the others
    bool offset_declared = false;  // the pixel offset in the file lies past the headers
};

// Reads and checks the headers (and the palette); raises "Bitmap image is not valid".
BitmapInfo ReadBitmapInfo(const QByteArray& data);

// Decodes a Windows bitmap file (BITMAPCOREHEADER, BITMAPINFOHEADER and its V4/V5
// extensions; 1, 4, 8, 16, 24 and 32 bits; uncompressed, bit fields, RLE4 and RLE8) into a
// Format_RGB32 image. Anything inconsistent or truncated raises "Bitmap image is not valid".
QImage DecodeBitmap(const QByteArray& data);
// The same for a file; one that cannot be opened raises "Cannot open file <path>".
QImage LoadBitmapFile(const QString& path);

inline constexpr size_t kBitmapHeaderBytes = 54;

// The file and information headers of a bottom-up 24-bit bitmap whose rows are padded to
// four bytes.
std::array<uint8_t, kBitmapHeaderBytes> BitmapFileHeader(int width, int height,
                                                         uint32_t pixels_per_metre);

}  // namespace lensmere
