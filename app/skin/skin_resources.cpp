#include "skin_resources.h"

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

QImage LoadSkinImage(const QString& path) {
    InitSkinResources();
    return QImage(path);
}

}  // namespace lensmere::skin
