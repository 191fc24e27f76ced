#include "app/pictures_folder.h"

#include <QDir>
#include <QStandardPaths>
#include <cstdio>
#include <cstring>

namespace lensmere {

std::string UserPicturesFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString();
}

bool EnterPicturesFolderIfAsked(int& argc, char** argv, bool* asked_out) {
    bool asked = false;
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], kPicturesFolderOption) == 0) {
            asked = true;
            continue;
        }
        argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    if (asked_out)
        *asked_out = asked;
    if (!asked)
        return true;
    const QString folder = QString::fromStdString(UserPicturesFolder());
    if (folder.isEmpty() || !QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
        std::fprintf(stderr, "lensmere: cannot work in the pictures folder %s; working in %s\n",
                     folder.toLocal8Bit().constData(),
                     QDir::currentPath().toLocal8Bit().constData());
        return false;
    }
    return true;
}

}  // namespace lensmere
