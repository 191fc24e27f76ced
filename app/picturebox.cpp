#include "app/picturebox.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include "app/bitmapfile.h"
#include "app/errors.h"
#include "app/picturefile.h"

namespace lensmere {

namespace {

QImage DecodeIcon(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QImage image = reader.read();
    if (image.isNull()) {
        throw ConversionError(std::string("Icon image is not valid"));
    }
    return image;
}

}  // namespace

void TPicture::LoadFromFile(const QString& path) {
    const QString extension = QFileInfo(path).suffix();
    const QString lower = extension.toLower();
    if (lower == QLatin1String("bmp")) {
        QImage image = LoadBitmapFile(path);
        kind_ = Format::Bitmap;
        image_ = std::move(image);
        jpeg_data_.clear();
    } else if (lower == QLatin1String("jpg") || lower == QLatin1String("jpeg")) {
        QByteArray data = ReadPictureFile(path);
        QImage image = DecodeJpeg(data);
        kind_ = Format::Jpeg;
        image_ = std::move(image);
        jpeg_data_ = std::move(data);
    } else if (lower == QLatin1String("ico")) {
        QImage image = DecodeIcon(ReadPictureFile(path));
        kind_ = Format::Icon;
        image_ = std::move(image);
        jpeg_data_.clear();
    } else if (lower == QLatin1String("emf") || lower == QLatin1String("wmf")) {
        ReadPictureFile(path);
        throw ConversionError(std::string("Metafile is not valid"));
    } else {
        throw ConversionError(
            QStringLiteral("Unknown picture file extension (.%1)").arg(extension));
    }
    jpeg_options_ = JpegDecodeOptions{};
    progressive_display_ = false;
}

void TPicture::Clear() {
    kind_ = Format::Empty;
    image_ = QImage();
    jpeg_data_.clear();
    jpeg_options_ = JpegDecodeOptions{};
    progressive_display_ = false;
}

void TPicture::SetJpegOptions(const JpegDecodeOptions& options) {
    if (kind_ != Format::Jpeg || options == jpeg_options_) {
        return;
    }
    // The old image is dropped first, as a changed option discards it whatever the outcome.
    image_ = QImage();
    jpeg_options_ = options;
    image_ = DecodeJpeg(jpeg_data_, jpeg_options_);
}

TPictureBox::TPictureBox(QWidget* parent) : QWidget(parent) {}

void TPictureBox::LoadFromFile(const QString& path) {
    picture_.LoadFromFile(path);
    update();
}

void TPictureBox::SetStretch(bool on) {
    stretch_ = on;
    update();
}

void TPictureBox::paintEvent(QPaintEvent*) {
    if (picture_.IsEmpty()) {
        return;
    }
    QPainter painter(this);
    if (stretch_) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), picture_.Image());
    } else {
        painter.drawImage(QPoint(0, 0), picture_.Image());
    }
}

}  // namespace lensmere
