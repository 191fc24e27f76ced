#pragma once
// The skin's compiled-in pictures. The resources live in a static library, so they are
// registered explicitly before first use.

#include <QImage>
#include <QString>

namespace lensmere::skin {

// Registers the skin resources; cheap and safe to call any number of times.
void InitSkinResources();

// Resource paths of the artwork.
inline constexpr const char* kPreviewPlaceholderResource = ":/skin/preview_placeholder.bmp";
inline constexpr const char* kCableIconResource = ":/skin/cable_icon.bmp";
inline constexpr const char* kCatalogGlyphResource = ":/skin/glyph_catalog.bmp";
inline constexpr const char* kHistoryGlyphResource = ":/skin/glyph_history.bmp";
inline constexpr const char* kBackupGlyphResource = ":/skin/glyph_backup.bmp";
inline constexpr const char* kDrawGlyphResource = ":/skin/glyph_draw.bmp";
inline constexpr const char* kExitGlyphResource = ":/skin/glyph_exit.bmp";
inline constexpr const char* kPreviewGlyphResource = ":/skin/glyph_preview.bmp";

// The glyph strip resource for a main window button's word ("CATALOG", "HISTORY", "BACKUP",
// "DRAW", "EXIT", "PRE-VIEW"); empty for any other word.
QString GlyphResourceForWord(const QString& word);

// Loads one of the pictures above (registering the resources first); null image if missing.
QImage LoadSkinImage(const QString& path);

}  // namespace lensmere::skin
