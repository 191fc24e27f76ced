#include "app/temporary_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lensmere {
namespace {

// $XDG_RUNTIME_DIR when it is what the session gives: an absolute path to a
// folder of this user that nobody else can write to.
QString RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (!runtime || runtime[0] != '/' || ::stat(runtime, &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        return {};
    }
    return QString::fromLocal8Bit(runtime);
}

// ~/.cache/lensmere (or under $XDG_CACHE_HOME), made if missing.
QString CacheFolder() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return {};
    const QString folder = cache + QStringLiteral("/lensmere");
    if (!QDir().mkpath(folder))
        return {};
    return folder;
}

}  // namespace

std::unique_ptr<PrivateTemporaryFolder> PrivateTemporaryFolder::Create(std::string* error) {
    QString base = RuntimeFolder();
    if (base.isEmpty())
        base = CacheFolder();
    if (base.isEmpty()) {
        *error = "neither a runtime folder ($XDG_RUNTIME_DIR) nor a cache folder is usable";
        return nullptr;
    }
    QByteArray name = QFile::encodeName(base + QStringLiteral("/lensmere-XXXXXX"));
    if (::mkdtemp(name.data()) == nullptr) {  // mode 0700
        *error = "cannot create a folder in " + base.toStdString() + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<PrivateTemporaryFolder>(
        new PrivateTemporaryFolder(QFile::decodeName(name)));
}

PrivateTemporaryFolder::~PrivateTemporaryFolder() {
    QDir folder(path_);
    folder.remove(QStringLiteral("TEMP.BMP"));
    folder.remove(QStringLiteral("TEMP.jpg"));
    folder.rmdir(path_);
}

}  // namespace lensmere
