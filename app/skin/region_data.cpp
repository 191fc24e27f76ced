#include "app/skin/region_data.h"

#include <climits>

namespace lensmere::skin {
namespace {

void PutInt32(QByteArray& out, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.append(static_cast<char>((u >> shift) & 0xFF));
}

std::int32_t GetInt32(const QByteArray& data, qsizetype offset) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[offset + i])) << (8 * i);
    return static_cast<std::int32_t>(u);
}

}  // namespace

QVector<QRect> RegionRects(const QRegion& region) {
    // QRegion keeps its rectangles y-x banded and non-overlapping, the order the record needs.
    QVector<QRect> rects;
    for (const QRect& r : region)
        rects.append(r);
    return rects;
}

QByteArray EncodeRegionData(const QRegion& region) {
    const QVector<QRect> rects = RegionRects(region);
    const QRect bounds = region.boundingRect();
    QByteArray out;
    out.reserve(32 + 16 * rects.size());
    PutInt32(out, 32);
    PutInt32(out, 1);
    PutInt32(out, static_cast<std::int32_t>(rects.size()));
    PutInt32(out, static_cast<std::int32_t>(16 * rects.size()));
    if (rects.isEmpty()) {
        for (int i = 0; i < 4; ++i)
            PutInt32(out, 0);
    } else {
        PutInt32(out, bounds.left());
        PutInt32(out, bounds.top());
        PutInt32(out, bounds.left() + bounds.width());
        PutInt32(out, bounds.top() + bounds.height());
    }
    for (const QRect& r : rects) {
        PutInt32(out, r.left());
        PutInt32(out, r.top());
        PutInt32(out, r.left() + r.width());
        PutInt32(out, r.top() + r.height());
    }
    return out;
}

std::optional<QRegion> DecodeRegionData(const QByteArray& data) {
    if (data.size() < 32 || data.size() > static_cast<qsizetype>(kMaxRegionDataBytes))
        return std::nullopt;
    const std::int32_t header_size = GetInt32(data, 0);
    const std::int32_t type = GetInt32(data, 4);
    const std::int32_t count = GetInt32(data, 8);
    if (header_size != 32 || type != 1 || count < 0)
        return std::nullopt;
    // The rectangle byte field may be 0 in some writers; the count is what matters, and it must
    // fit the block exactly.
    if (static_cast<qsizetype>(count) * 16 != data.size() - 32)
        return std::nullopt;
    QVector<QRect> rects;
    rects.reserve(count);
    bool banded = true;
    for (std::int32_t i = 0; i < count; ++i) {
        const qsizetype at = 32 + 16 * static_cast<qsizetype>(i);
        const std::int64_t left = GetInt32(data, at);
        const std::int64_t top = GetInt32(data, at + 4);
        const std::int64_t right = GetInt32(data, at + 8);
        const std::int64_t bottom = GetInt32(data, at + 12);
        if (right < left || bottom < top || right - left > INT_MAX || bottom - top > INT_MAX)
            return std::nullopt;
        if (right == left || bottom == top)
            continue;
        const QRect r(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                      static_cast<int>(bottom - top));
        if (!rects.isEmpty()) {
            const QRect& p = rects.last();
            const bool same_band =
                r.top() == p.top() && r.bottom() == p.bottom() && r.left() > p.right();
            banded = banded && (same_band || r.top() > p.bottom());
        }
        rects.append(r);
    }
    QRegion region;
    if (banded) {
        // Already in the region's own form: build it in one step.
        region.setRects(rects.constData(), static_cast<int>(rects.size()));
    } else {
        for (const QRect& r : rects)
            region += r;
    }
    return region;
}

}  // namespace lensmere::skin
