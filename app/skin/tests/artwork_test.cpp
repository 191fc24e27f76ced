// The compiled-in artwork has the sizes, depth and colours the main window relies on.
#include "app/skin/cool_button.h"
#include "app/skin/cool_form.h"
#include "app/skin/skin_resources.h"

#include <QRegion>

#include <gtest/gtest.h>

using namespace lensmere::skin;

namespace {

TEST(Artwork, GlyphStripsAreFourCellStripsOnTheTealGround) {
    for (const char* path : {kCatalogGlyphResource, kHistoryGlyphResource, kBackupGlyphResource,
                             kDrawGlyphResource, kExitGlyphResource, kPreviewGlyphResource}) {
        SCOPED_TRACE(path);
        const QImage strip = LoadSkinImage(QString::fromLatin1(path));
        ASSERT_FALSE(strip.isNull());
        EXPECT_EQ(strip.size(), QSize(293, 30));
        EXPECT_EQ(strip.format(), QImage::Format_Indexed8);
        EXPECT_EQ(strip.pixel(0, 29) & 0xFFFFFF, qRgb(2, 54, 90) & 0xFFFFFF);
        // Every cell has a face (drawn pixels) and ground at its corners.
        for (int cell = 0; cell < 4; ++cell) {
            EXPECT_EQ(strip.pixel(cell * 73, 29), strip.pixel(0, 29));
            EXPECT_NE(strip.pixel(cell * 73 + 36, 14), strip.pixel(0, 29));
        }
        // The disabled look recolours pure white and mid grey: the artwork has neither.
        for (int y = 0; y < strip.height(); ++y) {
            for (int x = 0; x < strip.width(); ++x) {
                const QRgb c = strip.pixel(x, y) & 0xFFFFFF;
                ASSERT_NE(c, qRgb(255, 255, 255) & 0xFFFFFF) << x << "," << y;
                ASSERT_NE(c, qRgb(128, 128, 128) & 0xFFFFFF) << x << "," << y;
            }
        }
        TCoolButton button;
        button.SetGlyph(strip);
        EXPECT_EQ(button.NumGlyphs(), 4);
    }
}

TEST(Artwork, EveryButtonWordHasItsStrip) {
    for (const char* word : {"CATALOG", "HISTORY", "BACKUP", "DRAW", "EXIT", "PRE-VIEW"}) {
        SCOPED_TRACE(word);
        TCoolButton button;
        EXPECT_TRUE(button.SetGlyph(GlyphResourceForWord(QString::fromLatin1(word))));
        EXPECT_EQ(button.Glyph().size(), QSize(293, 30));
    }
    EXPECT_TRUE(GlyphResourceForWord(QStringLiteral("PRINT")).isEmpty());
    TCoolButton button;
    EXPECT_FALSE(button.SetGlyph(QStringLiteral(":/skin/no_such_strip.bmp")));
    EXPECT_TRUE(button.Glyph().isNull());
}

TEST(Artwork, PicturesHaveTheirSizesAndEightBits) {
    const struct {
        const char* path;
        QSize size;
    } pictures[] = {
        {kMainSkinResource, QSize(579, 363)},
        {kPreviewPlaceholderResource, QSize(322, 242)},
        {kCableIconResource, QSize(32, 22)},
    };
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.path);
        const QImage image = LoadSkinImage(QString::fromLatin1(p.path));
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), p.size);
        EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    }
}

TEST(Artwork, SkinOutlineFollowsTheStoredShape) {
    // The darkest outline colour runs along the inside of the shape's edge.
    const QImage skin = LoadSkinImage(QString::fromLatin1(kMainSkinResource));
    const QRgb outline = skin.pixel(6, 200);
    EXPECT_EQ(skin.pixel(573, 200), outline);
    EXPECT_EQ(skin.pixel(300, 7), outline);
    EXPECT_EQ(skin.pixel(300, 359), outline);
    EXPECT_NE(skin.pixel(20, 200), outline);
}

}  // namespace
