#include "app/skin/skin_resources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterSkinQrc() {
    Q_INIT_RESOURCE(skin);
}

namespace lensmere::skin {

void InitSkinResources() {
    static std::once_flag once;
    std::call_once(once, RegisterSkinQrc);
}

QString GlyphResourceForWord(const QString& word) {
    static const struct {
        const char* word;
        const char* path;
    } kStrips[] = {
        {"CATALOG", kCatalogGlyphResource}, {"HISTORY", kHistoryGlyphResource},
        {"BACKUP", kBackupGlyphResource},   {"DRAW", kDrawGlyphResource},
        {"EXIT", kExitGlyphResource},       {"PRE-VIEW", kPreviewGlyphResource},
    };
    for (const auto& strip : kStrips) {
        if (word == QLatin1String(strip.word))
            return QString::fromLatin1(strip.path);
    }
    return QString();
}

QImage LoadSkinImage(const QString& path) {
    InitSkinResources();
    return QImage(path);
}

}  // namespace lensmere::skin
