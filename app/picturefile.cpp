#include "app/picturefile.h"

#include <QFile>

#include "app/errors.h"

namespace lensmere {

QByteArray ReadPictureFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw ConversionError(QStringLiteral("Cannot open file %1").arg(path));
    }
    return file.readAll();
}

}  // namespace lensmere
