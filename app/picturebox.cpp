#include "picturebox.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include "dialogerror.h"

namespace lensmere {

namespace {

QImage decodeIcon(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QImage image = reader.read();
    if (image.isNull()) {
        throw DialogError(std::string("Icon image is not valid"));
    }
    return image;
}

}  // namespace

void Picture::loadFromFile(const QString& path) {
    const QString extension = QFileInfo(path).suffix();
    const QString lower = extension.toLower();
    if (lower == QLatin1String("bmp")) {
        QImage image = loadBitmapFile(path);
        kind_ = Kind::Bitmap;
        image_ = std::move(image);
        jpegData_.clear();
    } else if (lower == QLatin1String("jpg") || lower == QLatin1String("jpeg")) {
        QByteArray data = readPictureFile(path);
        QImage image = decodeJpeg(data);
        kind_ = Kind::Jpeg;
        image_ = std::move(image);
        jpegData_ = std::move(data);
    } else if (lower == QLatin1String("ico")) {
        QImage image = decodeIcon(readPictureFile(path));
        kind_ = Kind::Icon;
        image_ = std::move(image);
        jpegData_.clear();
    } else if (lower == QLatin1String("emf") || lower == QLatin1String("wmf")) {
        readPictureFile(path);
        throw DialogError(std::string("Metafile is not valid"));
    } else {
        throw DialogError(QStringLiteral("Unknown picture file extension (.%1)").arg(extension));
    }
    jpegOptions_ = JpegDecodeOptions{};
    progressiveDisplay_ = false;
}

void Picture::clear() {
    kind_ = Kind::Empty;
    image_ = QImage();
    jpegData_.clear();
    jpegOptions_ = JpegDecodeOptions{};
    progressiveDisplay_ = false;
}

void Picture::setJpegOptions(const JpegDecodeOptions& options) {
    if (kind_ != Kind::Jpeg || options == jpegOptions_) {
        return;
    }
    // The old image is dropped first, as a changed option discards it whatever the outcome.
    image_ = QImage();
    jpegOptions_ = options;
    image_ = decodeJpeg(jpegData_, jpegOptions_);
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

void PictureBox::loadFromFile(const QString& path) {
    picture_.loadFromFile(path);
    update();
}

void PictureBox::setStretch(bool on) {
    stretch_ = on;
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    if (picture_.isEmpty()) {
        return;
    }
    QPainter painter(this);
    if (stretch_) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), picture_.image());
    } else {
        painter.drawImage(QPoint(0, 0), picture_.image());
    }
}

}  // namespace lensmere
