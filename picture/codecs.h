// Picture files in and out: PNG through libpng, JPEG through libjpeg and
// bitmaps of every depth. Decoders are bounded (file size, pixel count) and
// take a damaged file as an error unless the caller asks for leniency.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture/picture.h"

namespace picture {

// The largest pictures taken in. A picture file of an accepted kind this big
// is far beyond any photo a user would put on a 322 x 242 card; the limits
// keep an endless or hostile file from taking all memory.
inline constexpr size_t kMaxPictureFileBytes = size_t{64} << 20;
inline constexpr uint64_t kMaxPicturePixels = 50'000'000;

// How a JPEG file is decoded; the defaults are libjpeg's: full size, colour,
// accurate integer DCT, fancy upsampling, block smoothing.
struct JpegOutput {
    int scale_denominator = 1;  // 1, 2, 4 or 8
    bool grayscale = false;     // grey values in all three channels
    bool fast_dct = false;      // fast integer DCT and no fancy upsampling
    bool block_smoothing = true;
};

struct DecodeOptions {
    // Strict (the default): a file that libjpeg or libpng only warns about
    // (cut short, corrupt data, a bad checksum) is refused like a broken one.
    // Lenient: such a file is decoded as far as its decoder goes, as picture
    // viewers show it (the rest grey for JPEG; a bitmap's missing rows black).
    bool lenient = false;
    uint64_t max_pixels = kMaxPicturePixels;
    JpegOutput jpeg;
};

// A PNG, JPEG or bitmap file, told by its first bytes. Nothing, with the
// reason, for anything else, a damaged file or one beyond max_pixels
// (refused before its pixels are decoded).
std::optional<Picture> Decode(std::span<const uint8_t> file, std::string* error,
                              const DecodeOptions& options = {});
std::optional<Picture> DecodePng(std::span<const uint8_t> file, std::string* error,
                                 const DecodeOptions& options = {});
// A JPEG whose header claims far more pixels than its bytes could fill (a
// decompression bomb) is refused too. *libjpeg_code, when given, receives
// libjpeg's message code of a failure (JERR_IMAGE_TOO_BIG for the limits).
std::optional<Picture> DecodeJpeg(std::span<const uint8_t> file, std::string* error,
                                  const DecodeOptions& options = {}, int* libjpeg_code = nullptr);
// Uncompressed or bit-field bitmaps of 1, 4, 8, 16, 24 or 32 bits per pixel,
// either row order, core or Windows headers.
std::optional<Picture> DecodeBmp(std::span<const uint8_t> file, std::string* error,
                                 const DecodeOptions& options = {});

bool LooksLikePng(std::span<const uint8_t> file);
bool LooksLikeJpeg(std::span<const uint8_t> file);
bool LooksLikeBmp(std::span<const uint8_t> file);

enum class PngCompression {
    kDefault,  // libpng's default level and filters: small files
    kStored,   // no compression: the file length depends only on the size
};
// An 8-bit RGB PNG; empty on failure (or for a picture that is not Whole()).
std::vector<uint8_t> EncodePng(const Picture& picture,
                               PngCompression compression = PngCompression::kDefault);
// The length of EncodePng(…, kStored) for pictures of this size (0 when none).
size_t StoredPngFileBytes(int width, int height);

// lensmere's JPEG files: libjpeg's defaults, quality 90 with baseline tables,
// colour, sequential, 4:2:0.
inline constexpr int kJpegQuality = 90;
// A baseline JPEG at the quality (1-100); empty on failure, and then
// *libjpeg_code, when given, holds libjpeg's message code (-1 for a picture
// that is not Whole()).
std::vector<uint8_t> EncodeJpeg(const Picture& picture, int quality = kJpegQuality,
                                int* libjpeg_code = nullptr);

// An uncompressed 24-bit bitmap: 54 bytes of headers, bottom-up rows padded
// to four bytes, 72 dots per inch.
std::vector<uint8_t> EncodeBmp(const Picture& picture);

// Whether width x height is a picture size that is taken in.
bool AcceptablePictureSize(uint64_t width, uint64_t height, uint64_t max_pixels,
                           std::string* error);

}  // namespace picture
