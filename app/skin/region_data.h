#pragma once
// The stored window shape: a 4-byte little-endian length N followed by N bytes of region data,
// a 32-byte header {header size 32, type 1 = rectangles, count R, 16 * R, bounds} and R rectangles
// (left, top, right, bottom as signed 32-bit little-endian; right and bottom exclusive), in
// horizontal bands from top to bottom and left to right within a band.

#include <QByteArray>
#include <QRect>
#include <QRegion>
#include <QVector>

#include <cstdint>
#include <optional>

namespace lensmere::skin {

// Largest region data block that is accepted: far above any real window shape, and it keeps a
// corrupt length from allocating gigabytes.
inline constexpr std::uint32_t kMaxRegionDataBytes = 32 + 16 * 16384;

// Region data record (without the leading length) for the given region.
QByteArray EncodeRegionData(const QRegion& region);

// Parses a region data record; nullopt when it is malformed (wrong header size or type, count and
// size not agreeing, a rectangle with right < left or bottom < top).
std::optional<QRegion> DecodeRegionData(const QByteArray& data);

// The rectangles of a region in stored order (right and bottom exclusive, as QRect values).
QVector<QRect> RegionRects(const QRegion& region);

}  // namespace lensmere::skin
