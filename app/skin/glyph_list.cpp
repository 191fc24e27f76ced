#include "app/skin/glyph_list.h"

#include <algorithm>

namespace lensmere::skin {

TGlyphCache* TGlyphCache::instance_ = nullptr;

int TGlyphList::Add(const QImage& image, const QImage& mask) {
    QImage picture = image.convertToFormat(QImage::Format_ARGB32);
    QImage bits = mask.convertToFormat(QImage::Format_Mono);
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (x < bits.width() && y < bits.height() && bits.pixelIndex(x, y) != 0)
                row[x] = qRgba(0, 0, 0, 0);
        }
    }
    Slot slot{picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), bits};
    auto free_slot = std::find(used_.begin(), used_.end(), false);
    int index;
    if (free_slot != used_.end()) {
        index = static_cast<int>(free_slot - used_.begin());
        slots_[index] = std::move(slot);
        used_[index] = true;
    } else {
        index = static_cast<int>(used_.size());
        slots_.append(std::move(slot));
        used_.push_back(true);
    }
    ++count_;
    return index;
}

void TGlyphList::Delete(int index) {
    if (!IsUsed(index))
        return;
    used_[index] = false;
    slots_[index] = Slot{};
    --count_;
}

bool TGlyphList::IsUsed(int index) const {
    return index >= 0 && index < static_cast<int>(used_.size()) && used_[index];
}

const QImage& TGlyphList::Image(int index) const {
    static const QImage none;
    return IsUsed(index) ? slots_[index].image : none;
}

const QImage& TGlyphList::MaskOf(int index) const {
    static const QImage none;
    return IsUsed(index) ? slots_[index].mask : none;
}

void TGlyphList::Draw(QPainter& painter, QPoint at, int index) const {
    if (IsUsed(index))
        painter.drawImage(at, slots_[index].image);
}

TGlyphList* TGlyphCache::FindList(int width, int height) const {
    for (const auto& list : lists_) {
        if (list->Width() == width && list->Height() == height)
            return list.get();
    }
    return nullptr;
}

TGlyphList* TGlyphCache::GetList(int width, int height) {
    if (TGlyphList* found = FindList(width, height))
        return found;
    lists_.push_back(std::make_unique<TGlyphList>(width, height));
    return lists_.back().get();
}

void TGlyphCache::ReturnList(TGlyphList* list) {
    if (list == nullptr || list->Count() != 0)
        return;
    lists_.erase(std::remove_if(lists_.begin(), lists_.end(),
                                [list](const auto& held) { return held.get() == list; }),
                 lists_.end());
}

}  // namespace lensmere::skin
