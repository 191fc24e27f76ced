#pragma once
// Reduces a true-colour picture to an 8-bit picture with its own 256-colour palette (median cut),
// keeping given colours exact.

#include <QImage>
#include <QRgb>
#include <QVector>

namespace artwork {

struct QuantizeOptions {
    QVector<QRgb> exact;                // colours that must stay exact (always in the palette)
    QVector<QRgb> forbidden;            // colours that must not appear (nudged by one step)
    bool exact_only_from_exact = true;  // only pixels of an exact colour map to it
};

QImage QuantizeTo8Bit(const QImage& source, const QuantizeOptions& options);

}  // namespace artwork
