#include "app/skin/button_glyph.h"
#include "app/skin/glyph_list.h"
#include "app/skin/tests/strip_fixtures.h"

#include <QPalette>

#include <gtest/gtest.h>

#include <memory>

using namespace lensmere::skin;
using skin_test::kCellColors;
using skin_test::kGround;
using skin_test::MakeStrip;

namespace {

QPalette TestPalette() {
    QPalette palette;
    palette.setColor(QPalette::Light, QColor(250, 240, 230));
    palette.setColor(QPalette::Dark, QColor(100, 90, 80));
    palette.setColor(QPalette::Button, QColor(200, 190, 180));
    return palette;
}

TEST(GlyphCache, LivesFromTheFirstGlyphToTheLast) {
    ASSERT_EQ(TButtonGlyph::InstanceCount(), 0);
    EXPECT_EQ(TGlyphCache::Instance(), nullptr);
    {
        TButtonGlyph a;
        EXPECT_NE(TGlyphCache::Instance(), nullptr);
        TButtonGlyph b;
        a.SetGlyph(MakeStrip(4, 73, 30, 1));
        a.CreateButtonGlyph(StateUp, TestPalette());
        EXPECT_EQ(TGlyphCache::Instance()->ListCount(), 1);
    }
    EXPECT_EQ(TGlyphCache::Instance(), nullptr);
}

TEST(GlyphCache, OneListPerCellSizeAndFreedSlotsAreReused) {
    const QPalette palette = TestPalette();
    auto first = std::make_unique<TButtonGlyph>();
    auto second = std::make_unique<TButtonGlyph>();
    TButtonGlyph small;
    first->SetGlyph(MakeStrip(4, 73, 30, 1));
    second->SetGlyph(MakeStrip(4, 73, 30, 1));
    small.SetGlyph(MakeStrip(4, 16, 16));
    first->CreateButtonGlyph(StateUp, palette);
    first->CreateButtonGlyph(StateHot, palette);
    second->CreateButtonGlyph(StateUp, palette);
    small.CreateButtonGlyph(StateUp, palette);

    TGlyphCache* cache = TGlyphCache::Instance();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->ListCount(), 2);
    TGlyphList* list = cache->FindList(73, 30);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(first->List(), list);
    EXPECT_EQ(second->List(), list);
    EXPECT_EQ(list->Count(), 3);
    // Preparing the same look again reuses its image.
    EXPECT_EQ(first->CreateButtonGlyph(StateUp, palette), first->SlotOf(StateUp));
    EXPECT_EQ(list->Count(), 3);

    const int freed_up = first->SlotOf(StateUp);
    const int freed_hot = first->SlotOf(StateHot);
    first.reset();
    EXPECT_EQ(list->Count(), 1);
    EXPECT_EQ(list->SlotCount(), 3);
    auto third = std::make_unique<TButtonGlyph>();
    third->SetGlyph(MakeStrip(4, 73, 30, 1));
    const int reused = third->CreateButtonGlyph(StateUp, palette);
    EXPECT_EQ(reused, std::min(freed_up, freed_hot));
    EXPECT_EQ(list->SlotCount(), 3);

    // A list with no used slot left is removed.
    second.reset();
    third.reset();
    EXPECT_EQ(cache->ListCount(), 1);
    EXPECT_EQ(cache->FindList(73, 30), nullptr);
}

TEST(GlyphList, SlotsAndMasks) {
    TGlyphList list(4, 2);
    QImage image(4, 2, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    QImage mask(4, 2, QImage::Format_Mono);
    mask.fill(0);
    mask.setPixel(1, 1, 1);
    EXPECT_EQ(list.Add(image, mask), 0);
    EXPECT_EQ(list.Add(image, mask), 1);
    EXPECT_EQ(list.Add(image, mask), 2);
    list.Delete(1);
    list.Delete(1);  // already free
    list.Delete(7);  // no such slot
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Add(image, mask), 1);
    EXPECT_EQ(qAlpha(list.Image(0).pixel(1, 1)), 0);
    EXPECT_EQ(qAlpha(list.Image(0).pixel(0, 0)), 255);
}

TEST(ButtonGlyphImages, MaskComesFromEachCellsBottomLeftPixel) {
    TButtonGlyph glyph;
    glyph.SetGlyph(MakeStrip(4, 73, 30, 1));
    const int slot = glyph.CreateButtonGlyph(StateHot, TestPalette());
    const QImage& image = glyph.List()->Image(slot);
    EXPECT_EQ(qAlpha(image.pixel(0, 29)), 0);
    EXPECT_EQ(qAlpha(image.pixel(1, 5)), 0);
    EXPECT_EQ(image.pixel(10, 10), kCellColors[3]);
}

TEST(ButtonGlyphImages, DisabledCellConvertsWhiteGreyAndGround) {
    const QPalette palette = TestPalette();
    QImage strip = MakeStrip(4, 73, 30, 1);
    strip.setPixel(73 + 10, 5, qRgb(255, 255, 255));
    strip.setPixel(73 + 11, 5, qRgb(128, 128, 128));
    TButtonGlyph glyph;
    glyph.SetGlyph(strip);
    const int slot = glyph.CreateButtonGlyph(StateDisabled, palette);
    const QImage& image = glyph.List()->Image(slot);
    EXPECT_EQ(image.pixel(10, 5), palette.color(QPalette::Light).rgb());
    EXPECT_EQ(image.pixel(11, 5), palette.color(QPalette::Dark).rgb());
    EXPECT_EQ(image.pixel(20, 10), kCellColors[1]);
    // The ground became the button face, which is the mask colour of the converted cell.
    EXPECT_EQ(qAlpha(image.pixel(0, 29)), 0);
}

TEST(ButtonGlyphImages, OneCellDisabledLookIsEmbossedFromBlackPixels) {
    const QPalette palette = TestPalette();
    QImage strip(30, 30, QImage::Format_RGB32);  // square: one cell
    strip.fill(kGround);
    strip.setPixel(5, 5, qRgb(0, 0, 0));
    strip.setPixel(12, 12, qRgb(200, 0, 0));  // not black: not drawn when disabled
    TButtonGlyph glyph;
    glyph.SetGlyph(strip);
    ASSERT_EQ(glyph.NumGlyphs(), 1);
    const int slot = glyph.CreateButtonGlyph(StateDisabled, palette);
    const QImage& image = glyph.List()->Image(slot);
    EXPECT_EQ(image.pixel(5, 5), palette.color(QPalette::Dark).rgb());
    EXPECT_EQ(image.pixel(6, 6), palette.color(QPalette::Light).rgb());
    EXPECT_EQ(qAlpha(image.pixel(12, 12)), 0);
    EXPECT_EQ(qAlpha(image.pixel(0, 29)), 0);
}

TEST(ButtonGlyphImages, FixedTransparentColourOverridesTheCorner) {
    QImage strip = MakeStrip(4, 73, 30, 1);
    TButtonGlyph glyph;
    glyph.SetFixedTransparentColor(kCellColors[0]);
    glyph.SetGlyph(strip);
    const int slot = glyph.CreateButtonGlyph(StateUp, TestPalette());
    const QImage& image = glyph.List()->Image(slot);
    EXPECT_EQ(qAlpha(image.pixel(10, 10)), 0);
    EXPECT_EQ(qAlpha(image.pixel(0, 29)), 255);
}

TEST(ButtonGlyphImages, EmptyStripIsNeverDrawn) {
    TButtonGlyph glyph;
    EXPECT_EQ(glyph.CreateButtonGlyph(StateUp, TestPalette()), -1);
    glyph.SetGlyph(QImage(0, 30, QImage::Format_RGB32));
    EXPECT_EQ(glyph.CreateButtonGlyph(StateUp, TestPalette()), -1);
}

}  // namespace
