#include "app/skin/button_glyph.h"

#include <QFontMetrics>

namespace lensmere::skin {
namespace {

int g_instances = 0;

QImage MaskFor(const QImage& cell, QRgb mask_color) {
    QImage mask(cell.size(), QImage::Format_Mono);
    mask.fill(0);
    for (int y = 0; y < cell.height(); ++y) {
        for (int x = 0; x < cell.width(); ++x) {
            if ((cell.pixel(x, y) & 0xFFFFFF) == (mask_color & 0xFFFFFF) ||
                qAlpha(cell.pixel(x, y)) == 0)
                mask.setPixel(x, y, 1);
        }
    }
    return mask;
}

bool SameColor(QRgb a, QRgb b) {
    return (a & 0xFFFFFF) == (b & 0xFFFFFF);
}

}  // namespace

TButtonGlyph::TButtonGlyph() {
    if (TGlyphCache::instance_ == nullptr)
        TGlyphCache::instance_ = new TGlyphCache;
    ++g_instances;
}

TButtonGlyph::~TButtonGlyph() {
    Invalidate();
    --g_instances;
    if (g_instances == 0 && TGlyphCache::instance_ != nullptr && TGlyphCache::instance_->Empty()) {
        delete TGlyphCache::instance_;
        TGlyphCache::instance_ = nullptr;
    }
}

int TButtonGlyph::InstanceCount() {
    return g_instances;
}

void TButtonGlyph::SetGlyph(const QImage& strip) {
    Invalidate();
    strip_ = strip.copy();
    if (!strip_.isNull() && strip_.height() > 0) {
        if (fixed_transparent_)
            transparent_color_ = *fixed_transparent_;
        else if (strip_.width() > 0)
            transparent_color_ = strip_.pixel(0, strip_.height() - 1);
        if (strip_.width() % strip_.height() == 0) {
            const int cells = strip_.width() / strip_.height();
            num_glyphs_ = (cells >= 1 && cells <= 4) ? cells : 1;
        }
    }
}

bool TButtonGlyph::SetNumGlyphs(int value) {
    if (value <= 0)
        return false;
    if (value > 4)
        value = 4;
    if (value == num_glyphs_)
        return false;
    Invalidate();
    num_glyphs_ = value;
    return true;
}

void TButtonGlyph::SetFixedTransparentColor(std::optional<QRgb> color) {
    Invalidate();
    fixed_transparent_ = color;
    if (color)
        transparent_color_ = *color;
    else if (!strip_.isNull() && strip_.width() > 0 && strip_.height() > 0)
        transparent_color_ = strip_.pixel(0, strip_.height() - 1);
}

QSize TButtonGlyph::CellSize() const {
    if (strip_.isNull())
        return QSize(0, 0);
    return QSize(strip_.width() / num_glyphs_, strip_.height());
}

int TButtonGlyph::SlotOf(TButtonState state) const {
    return slots_[state];
}

void TButtonGlyph::Invalidate() {
    if (list_ == nullptr)
        return;
    for (int& slot : slots_) {
        if (slot >= 0)
            list_->Delete(slot);
        slot = -1;
    }
    if (TGlyphCache::instance_ != nullptr)
        TGlyphCache::instance_->ReturnList(list_);
    list_ = nullptr;
}

QImage TButtonGlyph::MakeDisabledCell(const QImage& cell, const QPalette& palette) const {
    const QRgb highlight = palette.color(QPalette::Active, QPalette::Light).rgb();
    const QRgb shadow = palette.color(QPalette::Active, QPalette::Dark).rgb();
    const QRgb face = palette.color(QPalette::Active, QPalette::Button).rgb();
    if (num_glyphs_ > 1) {
        QImage out = cell.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < out.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < out.width(); ++x) {
                const QRgb c = row[x];
                if (SameColor(c, qRgb(255, 255, 255)))
                    row[x] = highlight;
                else if (SameColor(c, qRgb(128, 128, 128)))
                    row[x] = shadow;
                else if (SameColor(c, transparent_color_))
                    row[x] = face;
            }
        }
        return out;
    }
    // One cell: an embossed image of the cell's black pixels on the button face.
    QImage out(cell.size(), QImage::Format_RGB32);
    out.fill(face);
    for (int y = 0; y < cell.height(); ++y) {
        for (int x = 0; x < cell.width(); ++x) {
            if (SameColor(cell.pixel(x, y), qRgb(0, 0, 0)) && x + 1 < out.width() &&
                y + 1 < out.height())
                out.setPixel(x + 1, y + 1, highlight);
        }
    }
    for (int y = 0; y < cell.height(); ++y) {
        for (int x = 0; x < cell.width(); ++x) {
            if (SameColor(cell.pixel(x, y), qRgb(0, 0, 0)))
                out.setPixel(x, y, shadow);
        }
    }
    return out;
}

int TButtonGlyph::CreateButtonGlyph(TButtonState state, const QPalette& palette) {
    if (state == StatePressed && num_glyphs_ < 3)
        state = StateUp;
    if (slots_[state] >= 0)
        return slots_[state];
    const QSize cell_size = CellSize();
    if (strip_.isNull() || cell_size.width() <= 0 || cell_size.height() <= 0)
        return -1;
    TGlyphCache* cache = TGlyphCache::instance_;
    if (cache == nullptr)
        return -1;
    if (list_ == nullptr)
        list_ = cache->GetList(cell_size.width(), cell_size.height());
    const int cell_index = (static_cast<int>(state) < num_glyphs_) ? static_cast<int>(state) : 0;
    // Copying keeps the strip's palette for indexed strips.
    const QImage cell =
        strip_.copy(cell_index * cell_size.width(), 0, cell_size.width(), cell_size.height());
    QImage picture;
    QRgb mask_color;
    if (state == StateDisabled) {
        picture = MakeDisabledCell(cell, palette);
        mask_color = picture.pixel(0, picture.height() - 1);
    } else {
        picture = cell;
        mask_color = fixed_transparent_ ? *fixed_transparent_ : cell.pixel(0, cell.height() - 1);
    }
    slots_[state] = list_->Add(picture, MaskFor(picture, mask_color));
    return slots_[state];
}

TButtonGlyph::Placement TButtonGlyph::CalcButtonLayout(const QRect& client, QSize glyph, QSize text,
                                                       TButtonLayout layout, int margin,
                                                       int spacing) {
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    const int c_main = horizontal ? client.width() : client.height();
    const int c_cross = horizontal ? client.height() : client.width();
    const int g_main = horizontal ? glyph.width() : glyph.height();
    const int t_main = horizontal ? text.width() : text.height();
    const int t_cross = horizontal ? text.height() : text.width();

    const int text_cross = (c_cross - t_cross + 1) / 2;
    const int glyph_cross = 0;

    if (text.width() == 0 || glyph.width() == 0)
        spacing = 0;
    if (margin == -1) {
        if (spacing == -1) {
            margin = (c_main - g_main - t_main) / 3;
            spacing = margin;
        } else {
            margin = (c_main - (g_main + spacing + t_main) + 1) / 2;
        }
    } else if (spacing == -1) {
        spacing = (c_main - margin - g_main - t_main) / 2;
    }

    int glyph_main;
    int text_main;
    if (layout == blGlyphLeft || layout == blGlyphTop) {
        glyph_main = margin;
        text_main = margin + g_main + spacing;
    } else {
        glyph_main = c_main - margin - g_main;
        text_main = glyph_main - spacing - t_main;
    }

    Placement placement;
    if (horizontal) {
        placement.glyph = QPoint(client.left() + glyph_main, client.top() + glyph_cross);
        placement.text = QRect(client.left() + text_main, client.top() + text_cross, text.width(),
                               text.height());
    } else {
        placement.glyph = QPoint(client.left() + glyph_cross, client.top() + glyph_main);
        placement.text = QRect(client.left() + text_cross, client.top() + text_main, text.width(),
                               text.height());
    }
    return placement;
}

QRect TButtonGlyph::Draw(QPainter& painter, const QRect& client, const QString& caption,
                         TButtonLayout layout, int margin, int spacing, TButtonState state,
                         const QPalette& palette, const QFont& font, const QColor& text_color) {
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QSize text_size = caption.isEmpty()
                                ? QSize(0, 0)
                                : metrics.size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption);
    const QSize glyph_size = strip_.isNull() ? QSize(0, 0) : CellSize();
    const Placement placement =
        CalcButtonLayout(client, glyph_size, text_size, layout, margin, spacing);

    const int slot = CreateButtonGlyph(state, palette);
    if (slot >= 0 && list_ != nullptr)
        list_->Draw(painter, placement.glyph, slot);

    if (!caption.isEmpty()) {
        const int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
        if (state == StateDisabled) {
            painter.setPen(palette.color(QPalette::Active, QPalette::Light));
            painter.drawText(placement.text.translated(1, 1), flags | Qt::AlignLeft | Qt::AlignTop,
                             caption);
            painter.setPen(palette.color(QPalette::Active, QPalette::Dark));
            painter.drawText(placement.text, flags | Qt::AlignLeft | Qt::AlignTop, caption);
        } else {
            painter.setPen(text_color);
            painter.drawText(placement.text, flags | Qt::AlignCenter, caption);
        }
    }
    return placement.text;
}

}  // namespace lensmere::skin
