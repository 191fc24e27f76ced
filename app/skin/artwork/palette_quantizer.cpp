#include "app/skin/artwork/palette_quantizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <utility>
#include <vector>

namespace artwork {
namespace {

struct Entry {
    std::array<int, 3> c;
    long long weight;
};

struct Box {
    std::vector<Entry> entries;
    long long weight = 0;
    int axis = 0;
    int range = 0;
    void Measure() {
        std::array<int, 3> lo{255, 255, 255};
        std::array<int, 3> hi{0, 0, 0};
        weight = 0;
        for (const Entry& e : entries) {
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], e.c[k]);
                hi[k] = std::max(hi[k], e.c[k]);
            }
            weight += e.weight;
        }
        range = 0;
        for (int k = 0; k < 3; ++k) {
            if (hi[k] - lo[k] > range) {
                range = hi[k] - lo[k];
                axis = k;
            }
        }
    }
    QRgb Mean() const {
        double sum[3] = {0, 0, 0};
        for (const Entry& e : entries)
            for (int k = 0; k < 3; ++k)
                sum[k] += static_cast<double>(e.c[k]) * static_cast<double>(e.weight);
        const double w = static_cast<double>(std::max<long long>(weight, 1));
        return qRgb(static_cast<int>(sum[0] / w + 0.5), static_cast<int>(sum[1] / w + 0.5),
                    static_cast<int>(sum[2] / w + 0.5));
    }
};

int Distance(QRgb a, QRgb b) {
    const int dr = qRed(a) - qRed(b);
    const int dg = qGreen(a) - qGreen(b);
    const int db = qBlue(a) - qBlue(b);
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

}  // namespace

QImage QuantizeTo8Bit(const QImage& source, const QuantizeOptions& options) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    std::unordered_map<QRgb, long long> histogram;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++histogram[row[x] | 0xFF000000u];
    }
    for (QRgb e : options.exact)
        histogram.erase(e | 0xFF000000u);

    // Work from a sorted colour list so that the same picture always gives the same file.
    std::vector<std::pair<QRgb, long long>> colors(histogram.begin(), histogram.end());
    std::sort(colors.begin(), colors.end());

    const int free_slots = 256 - static_cast<int>(options.exact.size());
    QVector<QRgb> palette = options.exact;
    for (QRgb& p : palette)
        p |= 0xFF000000u;
    if (static_cast<int>(histogram.size()) <= free_slots) {
        for (const auto& [color, count] : colors)
            palette.append(color);
    } else {
        std::vector<Box> boxes(1);
        for (const auto& [color, count] : colors)
            boxes[0].entries.push_back({{qRed(color), qGreen(color), qBlue(color)}, count});
        boxes[0].Measure();
        while (static_cast<int>(boxes.size()) < free_slots) {
            // Split the box whose spread matters most.
            int best = -1;
            double best_score = 0;
            for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
                if (boxes[i].entries.size() < 2)
                    continue;
                const double score = static_cast<double>(boxes[i].range) *
                                     std::sqrt(static_cast<double>(boxes[i].weight));
                if (score > best_score) {
                    best_score = score;
                    best = i;
                }
            }
            if (best < 0)
                break;
            Box& box = boxes[best];
            const int axis = box.axis;
            std::stable_sort(
                box.entries.begin(), box.entries.end(),
                [axis](const Entry& a, const Entry& b) { return a.c[axis] < b.c[axis]; });
            long long half = box.weight / 2;
            long long acc = 0;
            size_t cut = 1;
            for (size_t i = 0; i < box.entries.size() - 1; ++i) {
                acc += box.entries[i].weight;
                cut = i + 1;
                if (acc >= half)
                    break;
            }
            Box other;
            other.entries.assign(box.entries.begin() + static_cast<long>(cut), box.entries.end());
            box.entries.resize(cut);
            box.Measure();
            other.Measure();
            boxes.push_back(std::move(other));
        }
        QVector<QRgb> means;
        for (const Box& box : boxes)
            means.append(box.Mean() | 0xFF000000u);
        std::sort(means.begin(), means.end());
        palette += means;
    }
    for (QRgb& p : palette) {
        for (QRgb bad : options.forbidden) {
            if ((p & 0xFFFFFF) == (bad & 0xFFFFFF)) {
                const int r = qRed(p) > 127 ? qRed(p) - 1 : qRed(p) + 1;
                p = qRgb(r, qGreen(p), qBlue(p));
            }
        }
    }

    QImage out(image.size(), QImage::Format_Indexed8);
    out.setColorTable(palette);
    out.fill(0);  // also clears the row padding, which is written to the file
    const int exact_count = static_cast<int>(options.exact.size());
    std::unordered_map<QRgb, int> lookup;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            const QRgb color = row[x] | 0xFF000000u;
            auto found = lookup.find(color);
            if (found == lookup.end()) {
                int best = -1;
                int best_distance = 0;
                for (int i = 0; i < exact_count; ++i) {
                    if (palette[i] == color)
                        best = i;
                }
                if (best < 0) {
                    const int first = options.exact_only_from_exact ? exact_count : 0;
                    for (int i = first; i < palette.size(); ++i) {
                        const int d = Distance(color, palette[i]);
                        if (best < 0 || d < best_distance) {
                            best = i;
                            best_distance = d;
                        }
                    }
                    if (best < 0)
                        best = 0;
                }
                found = lookup.emplace(color, best).first;
            }
            dst[x] = static_cast<uchar>(found->second);
        }
    }
    return out;
}

}  // namespace artwork
