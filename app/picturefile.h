// The bytes of a picture file, read whole before it is decoded.
#pragma once

#include <QByteArray>
#include <QString>

namespace lensmere {

// A file that cannot be opened raises "Cannot open file <path>".
QByteArray ReadPictureFile(const QString& path);

}  // namespace lensmere
