#pragma once
// Small synthetic glyph strips for the button tests: each cell is a face of its own colour on a
// ground of the strip's transparent colour (the left two columns and the bottom row of each cell).

#include <QColor>
#include <QImage>

namespace skin_test {

inline constexpr QRgb kGround = qRgb(2, 54, 90);
inline constexpr QRgb kCellColors[4] = {qRgb(200, 40, 40), qRgb(40, 200, 40), qRgb(40, 40, 200),
                                        qRgb(200, 200, 40)};

inline QImage MakeStrip(int cells, int cell_width, int height, int extra_columns = 0) {
    QImage strip(cells * cell_width + extra_columns, height, QImage::Format_RGB32);
    strip.fill(kGround);
    for (int c = 0; c < cells; ++c)
        for (int y = 0; y < height - 1; ++y)
            for (int x = 2; x < cell_width; ++x)
                strip.setPixel(c * cell_width + x, y, kCellColors[c]);
    return strip;
}

}  // namespace skin_test
