#include "picture/fit_photo.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace picture {
namespace {

// For each of `out` cells over `in` source cells: which source cells it
// covers and with what weight.
struct Span {
    int first = 0;
    std::vector<double> weights;
};

std::vector<Span> Spans(int in, int out) {
    std::vector<Span> spans(static_cast<size_t>(out));
    const double scale = static_cast<double>(in) / out;
    for (int o = 0; o < out; ++o) {
        const double begin = o * scale;
        const double end = (o + 1) * scale;
        Span& s = spans[static_cast<size_t>(o)];
        s.first = static_cast<int>(std::floor(begin));
        const int last = std::min(in - 1, static_cast<int>(std::ceil(end)) - 1);
        double total = 0;
        for (int i = s.first; i <= last; ++i) {
            const double w = std::min(end, i + 1.0) - std::max(begin, static_cast<double>(i));
            s.weights.push_back(std::max(0.0, w));
            total += s.weights.back();
        }
        for (double& w : s.weights)
            w /= total;
    }
    return spans;
}

Picture Resample(const Picture& in, int width, int height) {
    const auto columns = Spans(in.width, width);
    const auto rows = Spans(in.height, height);
    // Columns first, into doubles, then rows.
    std::vector<double> wide(static_cast<size_t>(width) * in.height * 3, 0.0);
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Span& s = columns[static_cast<size_t>(x)];
            double* dst = &wide[(static_cast<size_t>(y) * width + x) * 3];
            for (size_t k = 0; k < s.weights.size(); ++k) {
                const uint8_t* src = in.At(s.first + static_cast<int>(k), y);
                for (int c = 0; c < 3; ++c)
                    dst[c] += s.weights[k] * src[c];
            }
        }
    }
    Picture out(width, height);
    for (int y = 0; y < height; ++y) {
        const Span& s = rows[static_cast<size_t>(y)];
        for (int x = 0; x < width; ++x) {
            double sum[3] = {0, 0, 0};
            for (size_t k = 0; k < s.weights.size(); ++k) {
                const double* src =
                    &wide[(static_cast<size_t>(s.first + static_cast<int>(k)) * width + x) * 3];
                for (int c = 0; c < 3; ++c)
                    sum[c] += s.weights[k] * src[c];
            }
            uint8_t* dst = out.At(x, y);
            for (int c = 0; c < 3; ++c)
                dst[c] = static_cast<uint8_t>(std::clamp(std::lround(sum[c]), 0L, 255L));
        }
    }
    return out;
}

}  // namespace

Picture FitToPhoto(const Picture& picture) {
    if (picture.width == kPhotoWidth && picture.height == kPhotoHeight)
        return picture;
    // The larger of the two scales that keep the picture inside the photo.
    int width = kPhotoWidth;
    int height = static_cast<int>(
        std::lround(static_cast<double>(picture.height) * kPhotoWidth / picture.width));
    if (height > kPhotoHeight) {
        height = kPhotoHeight;
        width = static_cast<int>(
            std::lround(static_cast<double>(picture.width) * kPhotoHeight / picture.height));
    }
    width = std::max(width, 1);
    height = std::max(height, 1);
    const Picture scaled = Resample(picture, width, height);
    Picture photo(kPhotoWidth, kPhotoHeight);
    const int left = (kPhotoWidth - width) / 2;
    const int top = (kPhotoHeight - height) / 2;
    for (int y = 0; y < height; ++y)
        std::copy_n(scaled.At(0, y), static_cast<size_t>(width) * 3, photo.At(left, top + y));
    return photo;
}

}  // namespace picture
