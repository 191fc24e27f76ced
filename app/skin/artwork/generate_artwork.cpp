// Draws the program's skin artwork and writes it, with the main window's stored shape, into a
// resource folder:
//
//     skin_artwork_generator <output folder>
//
// skin.bmp (579 x 363), six glyph strips (293 x 30, four 73-pixel cells: normal, disabled,
// pressed, hot), preview_placeholder.bmp (322 x 242), cable_icon.bmp (32 x 22), all 8 bits per
// pixel with their own palettes, and main_window_mask.bin (the 484-byte stored shape).

#include "app/skin/artwork/palette_quantizer.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegion>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr QRgb kGround = qRgb(2, 54, 90);  // glyph strip ground, drawn transparent
constexpr int kSkinWidth = 579;
constexpr int kSkinHeight = 363;

// The main window's outline: a rounded rectangle in 28 bands.
constexpr int kShape[28][4] = {
    {39, 7, 542, 8},     {31, 8, 550, 9},     {26, 9, 555, 10},    {22, 10, 558, 11},
    {19, 11, 561, 12},   {17, 12, 564, 13},   {14, 13, 566, 14},   {13, 14, 568, 15},
    {11, 15, 569, 16},   {10, 16, 570, 17},   {9, 17, 571, 18},    {8, 18, 572, 19},
    {7, 19, 573, 21},    {6, 21, 574, 346},   {7, 346, 574, 347},  {7, 347, 573, 348},
    {8, 348, 573, 349},  {8, 349, 572, 350},  {9, 350, 571, 351},  {11, 351, 570, 352},
    {12, 352, 568, 353}, {13, 353, 567, 354}, {16, 354, 565, 355}, {18, 355, 562, 356},
    {21, 356, 560, 357}, {24, 357, 556, 358}, {28, 358, 552, 359}, {34, 359, 546, 360},
};

QRegion ShapeRegion() {
    QRegion region;
    for (const auto& r : kShape)
        region += QRect(r[0], r[1], r[2] - r[0], r[3] - r[1]);
    return region;
}

void PutInt32(QByteArray& out, int value) {
    const auto u = static_cast<unsigned>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.append(static_cast<char>((u >> shift) & 0xFF));
}

QByteArray ShapeBlock() {
    QByteArray out;
    const int count = 28;
    PutInt32(out, 32 + 16 * count);
    PutInt32(out, 32);
    PutInt32(out, 1);
    PutInt32(out, count);
    PutInt32(out, 16 * count);
    int left = 1 << 30, top = 1 << 30, right = -(1 << 30), bottom = -(1 << 30);
    for (const auto& r : kShape) {
        left = std::min(left, r[0]);
        top = std::min(top, r[1]);
        right = std::max(right, r[2]);
        bottom = std::max(bottom, r[3]);
    }
    PutInt32(out, left);
    PutInt32(out, top);
    PutInt32(out, right);
    PutInt32(out, bottom);
    for (const auto& r : kShape)
        for (int v : r)
            PutInt32(out, v);
    return out;
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QFont Font(const char* family, int pixels, bool bold, bool italic = false, double spacing = 0) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    font.setHintingPreference(QFont::PreferFullHinting);
    if (spacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

// Distance in pixels from each inside pixel to the outside of a region (capped).
std::vector<int> InsideDepth(const QImage& inside, int cap) {
    const int w = inside.width();
    const int h = inside.height();
    std::vector<int> depth(static_cast<size_t>(w * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            depth[static_cast<size_t>(y * w + x)] = inside.pixelIndex(x, y) ? cap : 0;
    for (int pass = 0; pass < cap; ++pass) {
        std::vector<int> next = depth;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int& d = next[static_cast<size_t>(y * w + x)];
                if (d == 0)
                    continue;
                int m = cap;
                const int nx[4] = {x - 1, x + 1, x, x};
                const int ny[4] = {y, y, y - 1, y + 1};
                for (int k = 0; k < 4; ++k) {
                    const int v = (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h)
                                      ? 0
                                      : depth[static_cast<size_t>(ny[k] * w + nx[k])];
                    m = std::min(m, v + 1);
                }
                d = std::min(d, m);
            }
        }
        depth = std::move(next);
    }
    return depth;
}

// A recessed well: dark bevel outside, dark face inside.
void DrawWell(QPainter& p, const QRectF& outer, double radius, const QColor& face) {
    p.setPen(Qt::NoPen);
    // Light lip below and right, dark lip above and left: the panel is cut into the plate.
    p.setBrush(QColor(90, 150, 185));
    p.drawRoundedRect(outer.adjusted(0, 0, 1, 1), radius, radius);
    p.setBrush(QColor(3, 22, 36));
    p.drawRoundedRect(outer, radius, radius);
    QLinearGradient g(outer.topLeft(), outer.bottomLeft());
    g.setColorAt(0, face.darker(135));
    g.setColorAt(0.12, face);
    g.setColorAt(1, face.lighter(108));
    p.setBrush(g);
    p.drawRoundedRect(outer.adjusted(2, 2, -1, -1), radius - 1, radius - 1);
}

void DrawSpacedText(QPainter& p, const QPointF& at, const QString& text, const QFont& font,
                    const QColor& color, const QColor& shadow) {
    p.setFont(font);
    p.setPen(shadow);
    p.drawText(at + QPointF(0, 1), text);
    p.setPen(color);
    p.drawText(at, text);
}

QImage DrawSkin() {
    const QRegion shape = ShapeRegion();
    QImage img(kSkinWidth, kSkinHeight, QImage::Format_RGB32);
    img.fill(QColor(8, 28, 44));

    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRegion(shape);

    // Body: brushed dark teal metal, lighter towards the top.
    QLinearGradient body(0, 7, 0, 360);
    body.setColorAt(0.0, QColor(44, 108, 142));
    body.setColorAt(0.18, QColor(28, 84, 118));
    body.setColorAt(0.55, QColor(14, 62, 96));
    body.setColorAt(1.0, QColor(8, 46, 74));
    p.fillRect(img.rect(), body);
    // Fine horizontal brushing.
    for (int y = 7; y < 360; ++y) {
        const double n = std::sin(y * 12.9898) * 43758.5453;
        const double v = n - std::floor(n);
        if (v > 0.6)
            p.fillRect(QRect(0, y, kSkinWidth, 1), QColor(255, 255, 255, static_cast<int>(7 * v)));
        else if (v < 0.25)
            p.fillRect(QRect(0, y, kSkinWidth, 1), QColor(0, 0, 0, 10));
    }
    // Soft sheen across the top.
    QRadialGradient sheen(QPointF(200, -60), 420);
    sheen.setColorAt(0, QColor(170, 215, 240, 70));
    sheen.setColorAt(1, QColor(170, 215, 240, 0));
    p.fillRect(img.rect(), sheen);

    // Logo.
    {
        const QFont logo = Font("Liberation Sans", 30, true, true);
        QPainterPath path;
        path.addText(QPointF(40, 50), logo, QStringLiteral("ZarvoLink"));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(4, 26, 42, 200));
        p.drawPath(path.translated(1.5, 2));
        QLinearGradient metal(0, 26, 0, 52);
        metal.setColorAt(0, QColor(240, 248, 252));
        metal.setColorAt(0.5, QColor(188, 218, 236));
        metal.setColorAt(0.52, QColor(150, 190, 215));
        metal.setColorAt(1, QColor(205, 228, 242));
        p.setBrush(metal);
        p.drawPath(path);
        // Swoosh under the name.
        QPainterPath swoosh;
        swoosh.moveTo(40, 58);
        swoosh.cubicTo(110, 52, 190, 52, 232, 56);
        swoosh.cubicTo(190, 55, 110, 56, 40, 61);
        swoosh.closeSubpath();
        QLinearGradient sg(40, 0, 232, 0);
        sg.setColorAt(0, QColor(43, 180, 253, 230));
        sg.setColorAt(1, QColor(43, 180, 253, 0));
        p.setBrush(sg);
        p.drawPath(swoosh);
        DrawSpacedText(p, QPointF(236, 50), QStringLiteral("PHOTO LINK"),
                       Font("Liberation Sans", 10, true, false, 1.6), QColor(150, 196, 222),
                       QColor(4, 26, 42, 180));
    }

    // Version plate, top right (the window writes its version label at 364, 40).
    {
        const QRectF plate(358, 18, 203, 50);
        DrawWell(p, plate, 6, QColor(6, 34, 54));
        DrawSpacedText(p, QPointF(365, 33), QStringLiteral("USB PHOTO CAMERA"),
                       Font("Liberation Sans", 9, true, false, 1.2), QColor(110, 165, 200),
                       QColor(0, 10, 20, 160));
        // A row of small display segments for a little life on the plate.
        for (int i = 0; i < 6; ++i) {
            const QRectF seg(470 + i * 13, 44, 9, 5);
            p.setPen(Qt::NoPen);
            p.setBrush(i < 4 ? QColor(43, 180, 253, 150 - i * 25) : QColor(30, 70, 95));
            p.drawRoundedRect(seg, 1.5, 1.5);
        }
    }

    // Preview screen well around 40, 78 (310 x 238).
    DrawWell(p, QRectF(35, 73, 320, 245), 5, QColor(10, 34, 50));

    // Photo list well around the count panel (366, 92) and the list (365, 106, 190 x 113).
    DrawSpacedText(p, QPointF(366, 83), QStringLiteral("PHOTOS ON CARD"),
                   Font("Liberation Sans", 9, true, false, 1.2), QColor(150, 196, 222),
                   QColor(4, 26, 42, 200));
    DrawWell(p, QRectF(361, 88, 198, 135), 5, QColor(54, 106, 134));

    // Thin engraved line between the list and the buttons.
    p.setPen(QColor(4, 30, 48));
    p.drawLine(QPointF(372, 225.5), QPointF(556, 225.5));
    p.setPen(QColor(60, 120, 155, 150));
    p.drawLine(QPointF(372, 226.5), QPointF(556, 226.5));

    // Status plate for the cable and reading labels, the cable icon and the gauge.
    {
        QPainterPath plate;
        plate.addRoundedRect(QRectF(14, 319, 362, 31), 5, 5);
        QPainterPath wide;
        wide.addRoundedRect(QRectF(14, 331, 553, 19), 5, 5);
        plate = plate.united(wide).simplified();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(3, 22, 36));
        p.drawPath(plate.translated(0, -1));
        p.setBrush(QColor(90, 150, 185));
        p.drawPath(plate.translated(0, 1));
        QLinearGradient g(0, 319, 0, 350);
        g.setColorAt(0, QColor(190, 212, 226));
        g.setColorAt(0.5, QColor(168, 196, 214));
        g.setColorAt(1, QColor(146, 178, 200));
        p.setBrush(g);
        p.drawPath(plate);
        // Gauge slot: a faint groove where the progress bar appears.
        p.setBrush(QColor(128, 164, 188));
        p.drawRoundedRect(QRectF(70.5, 330.5, 445, 16), 3, 3);
        p.setBrush(QColor(152, 186, 206));
        p.drawRoundedRect(QRectF(71.5, 332, 443, 14), 2.5, 2.5);
        DrawSpacedText(p, QPointF(524, 344), QStringLiteral("USB"),
                       Font("Liberation Sans", 9, true, false, 1.0), QColor(30, 88, 122),
                       QColor(220, 234, 242));
    }
    p.end();

    // Bevel along the outline, following the stored shape pixel for pixel.
    QImage inside(kSkinWidth, kSkinHeight, QImage::Format_Mono);
    inside.fill(0);
    for (const QRect& r : shape)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                inside.setPixel(x, y, 1);
    const std::vector<int> depth = InsideDepth(inside, 4);
    for (int y = 0; y < kSkinHeight; ++y) {
        for (int x = 0; x < kSkinWidth; ++x) {
            const int d = depth[static_cast<size_t>(y * kSkinWidth + x)];
            if (d == 0 || d >= 4)
                continue;
            const QColor base = QColor::fromRgb(img.pixel(x, y));
            const double upper = 1.0 - static_cast<double>(y) / kSkinHeight;
            QColor c;
            if (d == 1)
                c = QColor(2, 16, 28);
            else if (d == 2)
                c = Mix(QColor(40, 90, 120), QColor(160, 210, 236), upper);
            else
                c = Mix(base, Mix(QColor(20, 60, 90), QColor(110, 170, 205), upper), 0.5);
            img.setPixel(x, y, c.rgb());
        }
    }

    artwork::QuantizeOptions options;
    options.exact = {qRgb(54, 106, 134), qRgb(2, 16, 28), qRgb(8, 28, 44)};
    options.exact_only_from_exact = false;
    return artwork::QuantizeTo8Bit(img, options);
}

enum class Look { Normal, Sunken, Light, Faded };

void DrawCell(QImage& out, int cell_x, const QString& word, Look look) {
    // Face on a layer of its own; thresholded against the ground so the edge stays crisp.
    QImage layer(73, 30, QImage::Format_ARGB32);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF outer(2.5, 2.5, 68, 24);
        QColor top, mid, bottom, rim, lip, text, text_shadow;
        switch (look) {
            case Look::Normal:
                top = QColor(132, 182, 210);
                mid = QColor(70, 128, 164);
                bottom = QColor(44, 98, 136);
                rim = QColor(3, 24, 40);
                lip = QColor(190, 224, 240);
                text = QColor(244, 249, 252);
                text_shadow = QColor(12, 46, 72);
                break;
            case Look::Sunken:
                top = QColor(16, 50, 74);
                mid = QColor(26, 66, 94);
                bottom = QColor(40, 84, 112);
                rim = QColor(3, 22, 36);
                lip = QColor(8, 36, 56);
                text = QColor(92, 130, 156);
                text_shadow = QColor(10, 38, 58);
                break;
            case Look::Light:
                top = QColor(214, 236, 246);
                mid = QColor(168, 208, 230);
                bottom = QColor(132, 184, 214);
                rim = QColor(3, 24, 40);
                lip = QColor(246, 251, 253);
                text = QColor(6, 52, 84);
                text_shadow = QColor(236, 246, 250);
                break;
            case Look::Faded:
                top = QColor(170, 208, 228);
                mid = QColor(120, 168, 198);
                bottom = QColor(96, 150, 184);
                rim = QColor(8, 40, 62);
                lip = QColor(214, 236, 246);
                text = QColor(252, 253, 254);
                text_shadow = QColor(40, 90, 124);
                break;
        }
        p.setPen(Qt::NoPen);
        p.setBrush(rim);
        p.drawRoundedRect(outer.adjusted(-1, -1, 1, 1), 6, 6);
        QLinearGradient g(0, outer.top(), 0, outer.bottom());
        g.setColorAt(0, top);
        g.setColorAt(0.48, mid);
        g.setColorAt(0.52, mid.darker(106));
        g.setColorAt(1, bottom);
        p.setBrush(g);
        p.drawRoundedRect(outer, 5, 5);
        // Inner lip: light along the top for raised faces, dark for the sunken one.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(lip, 1));
        p.drawRoundedRect(outer.adjusted(1, 1, -1, -1), 4, 4);
        QLinearGradient fade(0, outer.top(), 0, outer.bottom());
        fade.setColorAt(0, QColor(0, 0, 0, 0));
        fade.setColorAt(0.3, QColor(0, 0, 0, 0));
        fade.setColorAt(1, bottom);
        p.setPen(QPen(QBrush(fade), 1.2));
        p.drawRoundedRect(outer.adjusted(1, 1, -1, -1), 4, 4);

        // Long words close up their letters to keep clear of the face's rim.
        QFont font = Font("Liberation Sans", 11, true, false, 0.6);
        if (QFontMetricsF(font).horizontalAdvance(word) > 56)
            font = Font("Liberation Sans", 11, true, false, -0.2);
        p.setFont(font);
        const QFontMetricsF metrics(font);
        const double w = metrics.horizontalAdvance(word);
        const double baseline = outer.center().y() + (metrics.capHeight() / 2.0) +
                                (look == Look::Light || look == Look::Sunken ? 1 : 0);
        const QPointF at(outer.center().x() - w / 2.0 + 0.3, std::round(baseline));
        p.setPen(text_shadow);
        p.drawText(at + QPointF(0, 1), word);
        p.setPen(text);
        p.drawText(at, word);
    }
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 73; ++x) {
            const QRgb c = layer.pixel(x, y);
            const int a = qAlpha(c);
            QRgb result = kGround;
            if (a >= 100) {
                const double t = a / 255.0;
                const auto over = [t](int fg, int bg) {
                    return std::min(255, static_cast<int>(std::lround(fg * t + bg * (1 - t))));
                };
                result = qRgb(over(qRed(c), qRed(kGround)), over(qGreen(c), qGreen(kGround)),
                              over(qBlue(c), qBlue(kGround)));
                if (result == kGround)
                    result = qRgb(3, 54, 90);
            }
            out.setPixel(cell_x + x, y, result);
        }
    }
}

QImage DrawGlyphStrip(const QString& word) {
    QImage strip(293, 30, QImage::Format_RGB32);
    strip.fill(kGround);
    const Look looks[4] = {Look::Normal, Look::Sunken, Look::Light, Look::Faded};
    for (int cell = 0; cell < 4; ++cell)
        DrawCell(strip, cell * 73, word, looks[cell]);
    artwork::QuantizeOptions options;
    options.exact = {kGround};
    // Disabled looks change these two colours; the artwork avoids them.
    options.forbidden = {qRgb(255, 255, 255), qRgb(128, 128, 128)};
    return artwork::QuantizeTo8Bit(strip, options);
}

QImage DrawPreviewPlaceholder() {
    QImage img(322, 242, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Only 310 x 238 of the picture is seen; centre the drawing on that part.
    const QPointF centre(155, 117);
    QRadialGradient screen(centre, 230);
    screen.setColorAt(0, QColor(30, 74, 102));
    screen.setColorAt(0.6, QColor(16, 46, 68));
    screen.setColorAt(1, QColor(8, 26, 40));
    p.fillRect(img.rect(), screen);
    // Faint scan lines.
    for (int y = 0; y < 242; y += 3)
        p.fillRect(QRect(0, y, 322, 1), QColor(0, 0, 0, 18));
    // Camera outline.
    const QColor line(78, 140, 176);
    p.setPen(QPen(line, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(22, 58, 84));
    QPainterPath body;
    body.addRoundedRect(QRectF(centre.x() - 48, centre.y() - 38, 96, 62), 10, 10);
    QPainterPath hump;
    hump.addRoundedRect(QRectF(centre.x() - 20, centre.y() - 50, 40, 18), 5, 5);
    p.drawPath(body.united(hump));
    p.setBrush(QColor(12, 36, 54));
    p.drawEllipse(centre + QPointF(0, -7), 21, 21);
    p.setPen(QPen(QColor(43, 180, 253, 200), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre + QPointF(0, -7), 13, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(170, 215, 240, 160));
    p.drawEllipse(centre + QPointF(-5, -12), 3.5, 3.5);
    p.setBrush(line);
    p.drawEllipse(QPointF(centre.x() + 34, centre.y() - 27), 3, 3);
    // Caption.
    const QFont font = Font("Liberation Sans", 11, true, false, 2.0);
    p.setFont(font);
    const QString text = QStringLiteral("NO PICTURE");
    const double w = QFontMetricsF(font).horizontalAdvance(text);
    p.setPen(QColor(110, 165, 200));
    p.drawText(QPointF(centre.x() - w / 2, centre.y() + 50), text);
    const QFont small = Font("Liberation Sans", 9, false, false, 0.6);
    p.setFont(small);
    const QString hint = QStringLiteral("Select a photo and press PRE-VIEW");
    const double hw = QFontMetricsF(small).horizontalAdvance(hint);
    p.setPen(QColor(70, 120, 152));
    p.drawText(QPointF(centre.x() - hw / 2, centre.y() + 66), hint);
    p.end();
    artwork::QuantizeOptions options;
    options.exact_only_from_exact = false;
    return artwork::QuantizeTo8Bit(img, options);
}

QImage DrawCableIcon(const QImage& skin) {
    // The icon is drawn opaque over the status plate, so it carries the plate behind it.
    QImage img = skin.copy(22, 322, 32, 22).convertToFormat(QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor dark(1, 69, 105);
    const QColor metal(120, 150, 170);
    // Cable from the left edge.
    p.setPen(QPen(dark, 3, Qt::SolidLine, Qt::RoundCap));
    QPainterPath cable;
    cable.moveTo(0, 16);
    cable.cubicTo(5, 16, 7, 11, 12, 11);
    p.setBrush(Qt::NoBrush);
    p.drawPath(cable);
    // Plug body.
    p.setPen(Qt::NoPen);
    p.setBrush(dark);
    p.drawRoundedRect(QRectF(11, 6.5, 11, 9), 2, 2);
    // Metal connector.
    p.setBrush(metal);
    p.drawRect(QRectF(22, 7.5, 8, 7));
    p.setBrush(dark);
    p.drawRect(QRectF(24, 9.5, 1.6, 1.6));
    p.drawRect(QRectF(27, 9.5, 1.6, 1.6));
    p.setPen(QPen(QColor(43, 180, 253), 1));
    p.drawLine(QPointF(13, 18.5), QPointF(20, 18.5));
    p.end();
    artwork::QuantizeOptions options;
    options.exact_only_from_exact = false;
    return artwork::QuantizeTo8Bit(img, options);
}

void PutUint32(QByteArray& out, quint32 v) {
    PutInt32(out, static_cast<int>(v));
}
void PutUint16(QByteArray& out, quint16 v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}

// An uncompressed 8-bit bitmap file with a 40-byte info header, written here rather than by Qt
// so that the row padding is zero and the same picture always gives the same bytes.
QByteArray EightBitBmp(const QImage& image) {
    const int width = image.width();
    const int height = image.height();
    const int stride = (width + 3) & ~3;
    const QVector<QRgb> colors = image.colorTable();
    const quint32 palette_bytes = static_cast<quint32>(4 * colors.size());
    const quint32 offset = 14 + 40 + palette_bytes;
    const quint32 size = offset + static_cast<quint32>(stride * height);
    QByteArray out;
    out.append("BM");
    PutUint32(out, size);
    PutUint32(out, 0);
    PutUint32(out, offset);
    PutUint32(out, 40);
    PutInt32(out, width);
    PutInt32(out, height);
    PutUint16(out, 1);
    PutUint16(out, 8);
    PutUint32(out, 0);
    PutUint32(out, static_cast<quint32>(stride * height));
    PutInt32(out, 2835);
    PutInt32(out, 2835);
    PutUint32(out, static_cast<quint32>(colors.size()));
    PutUint32(out, 0);
    for (QRgb c : colors) {
        out.append(static_cast<char>(qBlue(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qRed(c)));
        out.append('\0');
    }
    for (int y = height - 1; y >= 0; --y) {
        out.append(reinterpret_cast<const char*>(image.constScanLine(y)), width);
        out.append(QByteArray(stride - width, '\0'));
    }
    return out;
}

bool Save(const QImage& image, const QString& path) {
    QFile file(path);
    if (image.format() != QImage::Format_Indexed8 || !file.open(QIODevice::WriteOnly) ||
        file.write(EightBitBmp(image)) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    const QImage skin = DrawSkin();
    ok &= Save(skin, dir.filePath(QStringLiteral("skin.bmp")));
    const struct {
        const char* file;
        const char* word;
    } strips[] = {
        {"glyph_catalog.bmp", "CATALOG"}, {"glyph_history.bmp", "HISTORY"},
        {"glyph_backup.bmp", "BACKUP"},   {"glyph_draw.bmp", "DRAW"},
        {"glyph_exit.bmp", "EXIT"},       {"glyph_preview.bmp", "PRE-VIEW"},
    };
    for (const auto& s : strips)
        ok &= Save(DrawGlyphStrip(QString::fromLatin1(s.word)),
                   dir.filePath(QString::fromLatin1(s.file)));
    ok &= Save(DrawPreviewPlaceholder(), dir.filePath(QStringLiteral("preview_placeholder.bmp")));
    ok &= Save(DrawCableIcon(skin.convertToFormat(QImage::Format_RGB32)),
               dir.filePath(QStringLiteral("cable_icon.bmp")));
    QFile mask(dir.filePath(QStringLiteral("main_window_mask.bin")));
    if (!mask.open(QIODevice::WriteOnly) || mask.write(ShapeBlock()) != 484) {
        std::fprintf(stderr, "cannot write the shape block\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
