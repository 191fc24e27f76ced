#include "sim/raw_photo.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

// Area average of the source box [x0, x1) x [y0, y1) in source pixels.
void AreaSample(const RgbImage& src, double x0, double x1, double y0, double y1, uint8_t* out) {
    double sum[3] = {0, 0, 0};
    double total = 0;
    const int ix0 = static_cast<int>(std::floor(x0));
    const int iy0 = static_cast<int>(std::floor(y0));
    const int ix1 = std::min(src.width, static_cast<int>(std::ceil(x1)));
    const int iy1 = std::min(src.height, static_cast<int>(std::ceil(y1)));
    for (int y = iy0; y < iy1; ++y) {
        const double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
        if (wy <= 0)
            continue;
        for (int x = ix0; x < ix1; ++x) {
            const double wx = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
            if (wx <= 0)
                continue;
            const double w = wx * wy;
            const uint8_t* p = src.at(x, y);
            for (int c = 0; c < 3; ++c)
                sum[c] += w * p[c];
            total += w;
        }
    }
    for (int c = 0; c < 3; ++c) {
        out[c] = total > 0 ? static_cast<uint8_t>(std::lround(sum[c] / total)) : 0;
    }
}

void BilinearSample(const RgbImage& src, double fx, double fy, uint8_t* out) {
    fx = std::clamp(fx, 0.0, static_cast<double>(src.width - 1));
    fy = std::clamp(fy, 0.0, static_cast<double>(src.height - 1));
    const int x0 = static_cast<int>(fx);
    const int y0 = static_cast<int>(fy);
    const int x1 = std::min(x0 + 1, src.width - 1);
    const int y1 = std::min(y0 + 1, src.height - 1);
    const double ax = fx - x0;
    const double ay = fy - y0;
    for (int c = 0; c < 3; ++c) {
        const double top = src.at(x0, y0)[c] * (1 - ax) + src.at(x1, y0)[c] * ax;
        const double bottom = src.at(x0, y1)[c] * (1 - ax) + src.at(x1, y1)[c] * ax;
        out[c] = static_cast<uint8_t>(std::lround(top * (1 - ay) + bottom * ay));
    }
}

}  // namespace

RgbImage ScaleToFit(const RgbImage& image, int width, int height) {
    if (image.width == width && image.height == height)
        return image;
    RgbImage out(width, height);
    if (image.width <= 0 || image.height <= 0 || width <= 0 || height <= 0)
        return out;
    const double scale = std::min(static_cast<double>(width) / image.width,
                                  static_cast<double>(height) / image.height);
    const int w = std::clamp(static_cast<int>(std::lround(image.width * scale)), 1, width);
    const int h = std::clamp(static_cast<int>(std::lround(image.height * scale)), 1, height);
    const int left = (width - w) / 2;
    const int top = (height - h) / 2;
    // Per-axis steps so that the picture fills exactly w x h.
    const double sx = static_cast<double>(image.width) / w;
    const double sy = static_cast<double>(image.height) / h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = out.at(left + x, top + y);
            if (sx > 1.0 || sy > 1.0) {
                AreaSample(image, x * sx, (x + 1) * sx, y * sy, (y + 1) * sy, p);
            } else {
                BilinearSample(image, (x + 0.5) * sx - 0.5, (y + 0.5) * sy - 0.5, p);
            }
        }
    }
    return out;
}

std::vector<uint8_t> RawPhotoFromRgb(const RgbImage& image) {
    const RgbImage fitted = ScaleToFit(image, kPhotoWidth, kPhotoHeight);
    std::vector<uint8_t> raw(kRawPhotoBytes);
    for (int y = 0; y < kPhotoHeight; ++y) {
        const int below = std::min(y + 1, kPhotoHeight - 1);
        for (int x = 0; x < kPhotoWidth; ++x) {
            const uint8_t* p = fitted.at(x, y);
            const uint8_t* q = fitted.at(x, below);
            uint8_t* r = &raw[y * kRawRowBytes + x * kRawPixelBytes];
            r[0] = p[2];
            r[1] = static_cast<uint8_t>((p[1] + q[1] + 1) / 2);
            r[2] = p[1];
            r[3] = p[0];
        }
    }
    return raw;
}

RgbImage RgbFromRawPhoto(std::span<const uint8_t> raw) {
    RgbImage out(kPhotoWidth, kPhotoHeight);
    const size_t pixels = std::min(raw.size(), kRawPhotoBytes) / kRawPixelBytes;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* r = &raw[i * kRawPixelBytes];
        uint8_t* p = &out.rgb[i * 3];
        p[0] = r[3];
        p[1] = r[2];
        p[2] = r[0];
    }
    return out;
}

std::vector<uint8_t> SecondGreenFromRawPhoto(std::span<const uint8_t> raw) {
    std::vector<uint8_t> out(static_cast<size_t>(kPhotoWidth) * kPhotoHeight, 0);
    const size_t pixels = std::min(raw.size(), kRawPhotoBytes) / kRawPixelBytes;
    for (size_t i = 0; i < pixels; ++i)
        out[i] = raw[i * kRawPixelBytes + 1];
    return out;
}

}  // namespace sim
