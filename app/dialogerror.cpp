#include "dialogerror.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <cerrno>
#include <utility>

#include "dialogstyle.h"

namespace lensmere {

DialogError::DialogError(const QString& message) : std::runtime_error(message.toStdString()) {}

QString ioErrorText(int errnoValue) {
    switch (errnoValue) {
        case ENOENT:
            return QStringLiteral("File not found");
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
            return QStringLiteral("Invalid filename");
        case EMFILE:
        case ENFILE:
            return QStringLiteral("Too many open files");
        case EACCES:
        case EPERM:
        case EROFS:
            return QStringLiteral("File access denied");
        case ENOSPC:
            return QStringLiteral("Disk full");
        default:
            return QStringLiteral("I/O error %1").arg(errnoValue);
    }
}

namespace {
ErrorReport& currentReport() {
    static ErrorReport report;
    return report;
}
}  // namespace

void setErrorReport(ErrorReport report) {
    currentReport() = std::move(report);
}

void reportError(QWidget* parent, const std::exception& error) {
    if (currentReport()) {
        currentReport()(parent, error);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                    QString::fromUtf8(error.what()), QMessageBox::Ok, parent);
    styleMessageBox(box);
    box.exec();
}

}  // namespace lensmere
