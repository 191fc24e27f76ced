#include "tools/bmp24.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tools {
namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

size_t RowBytes(int width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

bool Fail(std::string* error, const std::string& why) {
    if (error)
        *error = why;
    return false;
}

}  // namespace

std::optional<BmpInfo> ParseBmpHeaders(const std::vector<uint8_t>& file, std::string* error) {
    if (file.size() < 26 || file[0] != 'B' || file[1] != 'M') {
        Fail(error, "not a bitmap file");
        return std::nullopt;
    }
    const uint32_t header_size = U32(file, 14);
    if (header_size < 40 || file.size() < 14 + size_t{header_size}) {
        Fail(error, "bitmap header is truncated or of an old kind");
        return std::nullopt;
    }
    BmpInfo info;
    info.pixel_offset = U32(file, 10);
    const int32_t w = static_cast<int32_t>(U32(file, 18));
    const int32_t h = static_cast<int32_t>(U32(file, 22));
    info.bits_per_pixel = U16(file, 28);
    info.compression = U32(file, 30);
    if (w <= 0 || h == 0 || h == INT32_MIN || w > 65535 || h > 65535 || h < -65535) {
        Fail(error, "bitmap has an unusable size");
        return std::nullopt;
    }
    info.width = w;
    info.top_down = h < 0;
    info.height = h < 0 ? -h : h;
    return info;
}

std::optional<Image> DecodeBmp24(const std::vector<uint8_t>& file, std::string* error) {
    auto info = ParseBmpHeaders(file, error);
    if (!info)
        return std::nullopt;
    if (info->bits_per_pixel != 24 || info->compression != 0) {
        Fail(error, "bitmap is not uncompressed 24-bit");
        return std::nullopt;
    }
    const size_t row = RowBytes(info->width);
    const size_t need = size_t{info->pixel_offset} + row * info->height;
    if (info->pixel_offset < 54 || file.size() < need) {
        Fail(error, "bitmap pixel data is truncated");
        return std::nullopt;
    }
    Image image(info->width, info->height);
    for (int y = 0; y < info->height; ++y) {
        const int stored = info->top_down ? y : info->height - 1 - y;
        const uint8_t* src = file.data() + info->pixel_offset + row * stored;
        std::memcpy(image.At(0, y), src, static_cast<size_t>(info->width) * 3);
    }
    return image;
}

std::optional<Image> ReadBmp24(const std::string& path, std::string* error) {
    auto bytes = ReadWholeFile(path, error);
    if (!bytes)
        return std::nullopt;
    return DecodeBmp24(*bytes, error);
}

std::vector<uint8_t> EncodeBmp24(const Image& image) {
    const size_t row = RowBytes(image.width);
    const size_t pixels = row * image.height;
    std::vector<uint8_t> out(54 + pixels, 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, static_cast<uint32_t>(out.size()));
    Put32(out, 10, 54);
    Put32(out, 14, 40);
    Put32(out, 18, static_cast<uint32_t>(image.width));
    Put32(out, 22, static_cast<uint32_t>(image.height));
    Put16(out, 26, 1);
    Put16(out, 28, 24);
    Put32(out, 34, static_cast<uint32_t>(pixels));
    Put32(out, 38, 2835);  // 72 dpi
    Put32(out, 42, 2835);
    for (int y = 0; y < image.height; ++y) {
        uint8_t* dst = out.data() + 54 + row * (image.height - 1 - y);
        std::memcpy(dst, image.At(0, y), static_cast<size_t>(image.width) * 3);
    }
    return out;
}

bool WriteBmp24(const std::string& path, const Image& image, std::string* error) {
    return WriteWholeFile(path, EncodeBmp24(image), error);
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        Fail(error, path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool bad = std::ferror(f);
    std::fclose(f);
    if (bad) {
        Fail(error, path + ": read error");
        return std::nullopt;
    }
    return bytes;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return Fail(error, path + ": " + std::strerror(errno));
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        std::remove(path.c_str());
        return Fail(error, path + ": write error");
    }
    return true;
}

}  // namespace tools
