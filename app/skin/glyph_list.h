#pragma once
// Image lists shared by all skinned buttons with the same cell size.
//
// TGlyphList holds images of one size, each with its mask (pixels not to be drawn), in numbered
// slots; freed slots are taken again before new ones are appended. TGlyphCache is the single
// process-wide set of lists, at most one per cell size.

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QSize>
#include <QVector>

#include <memory>
#include <vector>

namespace lensmere::skin {

class TGlyphList {
  public:
    TGlyphList(int width, int height) : size_(width, height) {}

    int Width() const { return size_.width(); }
    int Height() const { return size_.height(); }
    QSize Size() const { return size_; }

    // Stores an image (of this list's size) with its mask; pixels where `mask` is 1 are not drawn.
    // Returns the slot taken.
    int Add(const QImage& image, const QImage& mask);
    // Frees a slot; out-of-range or free slots are ignored.
    void Delete(int index);

    // Slots in use, and all slots (used or free).
    int Count() const { return count_; }
    int SlotCount() const { return static_cast<int>(used_.size()); }
    bool IsUsed(int index) const;

    // The stored picture with the masked pixels made fully transparent.
    const QImage& Image(int index) const;
    // The mask of a slot: Format_Mono, 1 = not drawn.
    const QImage& MaskOf(int index) const;

    void Draw(QPainter& painter, QPoint at, int index) const;

  private:
    struct Slot {
        QImage image;  // ARGB32 premultiplied, masked pixels transparent
        QImage mask;
    };
    QSize size_;
    std::vector<bool> used_;
    QVector<Slot> slots_;
    int count_ = 0;
};

class TGlyphCache {
  public:
    // The list for a cell size, created when there is none yet.
    TGlyphList* GetList(int width, int height);
    // Hands a list back; a list with no slot in use is removed and freed.
    void ReturnList(TGlyphList* list);
    bool Empty() const { return lists_.empty(); }
    int ListCount() const { return static_cast<int>(lists_.size()); }
    // The list for a size if there is one (no creation).
    TGlyphList* FindList(int width, int height) const;

    // The process-wide cache: created with the first glyph, freed with the last while empty.
    static TGlyphCache* Instance() { return instance_; }

  private:
    friend class TButtonGlyph;
    std::vector<std::unique_ptr<TGlyphList>> lists_;
    static TGlyphCache* instance_;
};

}  // namespace lensmere::skin
