#pragma once
// TButtonGlyph: a skinned button's glyph strip, cut into cells, with one prepared masked image per
// look kept in the shared image list for the cell size.

#include "app/skin/glyph_list.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QRect>
#include <QString>

#include <array>
#include <optional>

namespace lensmere::skin {

// The looks of a button; the value is also the strip cell it normally uses.
enum TButtonState { StateUp = 0, StateDisabled = 1, StatePressed = 2, StateHot = 3 };

enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// Colour before any glyph is set.
inline constexpr QRgb kDefaultTransparentColor = qRgb(128, 128, 0);

class TButtonGlyph {
  public:
    TButtonGlyph();
    ~TButtonGlyph();
    TButtonGlyph(const TButtonGlyph&) = delete;
    TButtonGlyph& operator=(const TButtonGlyph&) = delete;

    // Copies the strip and takes its transparent colour; sets NumGlyphs from its shape when its
    // width is a whole multiple of its height.
    void SetGlyph(const QImage& strip);
    const QImage& Glyph() const { return strip_; }

    int NumGlyphs() const { return num_glyphs_; }
    // Values above 4 count as 4; 0 and negative values are ignored. Returns true when it changed.
    bool SetNumGlyphs(int value);

    // A fixed transparent colour overrides the bottom-left pixel rule.
    void SetFixedTransparentColor(std::optional<QRgb> color);
    QRgb TransparentColor() const { return transparent_color_; }

    QSize CellSize() const;

    // Prepares (once) the image of a look and returns its slot, or -1 when there is nothing to
    // draw.
    int CreateButtonGlyph(TButtonState state, const QPalette& palette);
    // The list holding the prepared images (null while none is prepared).
    TGlyphList* List() const { return list_; }
    int SlotOf(TButtonState state) const;

    // Drops every prepared image; an image list left without used slots is freed.
    void Invalidate();

    // Places glyph and caption in `client` and draws them; returns the caption's rectangle.
    QRect Draw(QPainter& painter, const QRect& client, const QString& caption, TButtonLayout layout,
               int margin, int spacing, TButtonState state, const QPalette& palette,
               const QFont& font, const QColor& text_color);

    // Glyph position and caption rectangle for the given client rectangle.
    struct Placement {
        QPoint glyph;
        QRect text;
    };
    static Placement CalcButtonLayout(const QRect& client, QSize glyph, QSize text,
                                      TButtonLayout layout, int margin, int spacing);

    // Number of TButtonGlyph objects alive (the cache lives while there is one).
    static int InstanceCount();

  private:
    QImage MakeDisabledCell(const QImage& cell, const QPalette& palette) const;

    QImage strip_;
    int num_glyphs_ = 4;
    std::optional<QRgb> fixed_transparent_;
    QRgb transparent_color_ = kDefaultTransparentColor;
    TGlyphList* list_ = nullptr;
    std::array<int, 4> slots_{-1, -1, -1, -1};
};

}  // namespace lensmere::skin
