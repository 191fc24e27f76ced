#include "cardlib/bitmap.h"

#include <cstring>

namespace quorbit {
namespace {

constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kNoCompression = 0;

}  // namespace

std::vector<uint8_t> EncodeBitmap(std::span<const uint8_t> raw) {
    std::vector<uint8_t> file(kBitmapFileBytes, 0);
    if (raw.size() < kRawPhotoBytes)
        return {};
    uint8_t* h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    StoreLe32(h + 2, kBitmapFileBytes);
    StoreLe32(h + 10, kBitmapHeaderBytes);
    StoreLe32(h + 14, kInfoHeaderBytes);
    StoreLe32(h + 18, kPhotoWidth);
    StoreLe32(h + 22, kPhotoHeight);
    StoreLe16(h + 26, 1);
    StoreLe16(h + 28, 24);
    StoreLe32(h + 30, kNoCompression);
    StoreLe32(h + 34, kBitmapPixelBytes);
    StoreLe32(h + 38, kBitmapPixelsPerMetre);
    StoreLe32(h + 42, kBitmapPixelsPerMetre);
    uint8_t* out = file.data() + kBitmapHeaderBytes;
    for (int r = kPhotoHeight - 1; r >= 0; --r, out += kBitmapRowBytes) {
        const uint8_t* src = raw.data() + size_t(r) * kRawRowBytes;
        for (int x = 0; x < kPhotoWidth; ++x, src += kRawPixelBytes) {
            out[3 * x + 0] = src[0];
            out[3 * x + 1] = src[2];
            out[3 * x + 2] = src[3];
        }
    }
    return file;
}

std::optional<std::vector<uint8_t>> DecodeBitmap(std::span<const uint8_t> file) {
    if (file.size() < kBitmapHeaderBytes || file.size() > kMaxBitmapFileBytes)
        return std::nullopt;
    const uint8_t* h = file.data();
    if (h[0] != 'B' || h[1] != 'M')
        return std::nullopt;
    const uint32_t pixel_offset = LoadLe32(h + 10);
    const uint32_t info_bytes = LoadLe32(h + 14);
    // Only the info headers with 32-bit dimensions (40 bytes and the later,
    // longer ones); the old 12-byte core header is not taken.
    if (info_bytes < kInfoHeaderBytes || info_bytes > file.size() - 14)
        return std::nullopt;
    const auto width = static_cast<int32_t>(LoadLe32(h + 18));
    const auto height = static_cast<int32_t>(LoadLe32(h + 22));
    if (width != kPhotoWidth || (height != kPhotoHeight && height != -kPhotoHeight))
        return std::nullopt;
    if (LoadLe16(h + 26) != 1 || LoadLe16(h + 28) != 24 || LoadLe32(h + 30) != kNoCompression)
        return std::nullopt;
    if (pixel_offset < 14 + info_bytes || pixel_offset > file.size() ||
        file.size() - pixel_offset < kBitmapPixelBytes)
        return std::nullopt;

    const bool bottom_up = height > 0;
    std::vector<uint8_t> raw(kRawPhotoBytes, 0);
    const uint8_t* rows = file.data() + pixel_offset;
    for (int k = 0; k < kPhotoHeight; ++k) {
        const uint8_t* src = rows + size_t(k) * kBitmapRowBytes;
        const int r = bottom_up ? kPhotoHeight - 1 - k : k;
        uint8_t* dst = raw.data() + size_t(r) * kRawRowBytes;
        for (int x = 0; x < kPhotoWidth; ++x, src += 3, dst += kRawPixelBytes) {
            dst[0] = src[0];
            dst[1] = 0;
            dst[2] = src[1];
            dst[3] = src[2];
        }
    }
    return raw;
}

}  // namespace quorbit
