#include "app/skin/cool_form.h"

#include "app/skin/region_data.h"
#include "app/skin/skin_resources.h"

#include <QEvent>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace lensmere::skin {

TCoolForm::TCoolForm(QWidget* parent)
    : QWidget(parent), mask_(std::make_unique<TRegionType>(this)) {
    if (parent != nullptr) {
        if (parent->isWindow()) {
            // Changing window flags hides a shown window; the skin is meant to be installed
            // before the window is first shown.
            const bool was_visible = parent->isVisible();
            parent->setWindowFlags(parent->windowFlags() | Qt::FramelessWindowHint);
            if (was_visible)
                parent->show();
        }
        parent->installEventFilter(this);
    }
    SetLeft(0);
    SetTop(0);
    FillParent();
}

TCoolForm::~TCoolForm() = default;

void TCoolForm::FillParent() {
    if (parentWidget() != nullptr)
        setGeometry(parentWidget()->rect());
}

void TCoolForm::SetLeft(int /*value*/) {
    move(0, y());
}
void TCoolForm::SetTop(int /*value*/) {
    move(x(), 0);
}

bool TCoolForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        FillParent();
    return QWidget::eventFilter(watched, event);
}

bool TCoolForm::LoadSkin(const QString& path) {
    InitSkinResources();
    QImage image(path);
    if (image.isNull())
        return false;
    SetPicture(image);
    return true;
}

void TCoolForm::SetPicture(const QImage& picture) {
    picture_ = picture;
    // The window keeps the shape it was given; only the holder lets go of it.
    if (mask_ && mask_->Region)
        mask_->Region.reset();
    update();
}

void TCoolForm::SetMask(std::unique_ptr<TRegionType> holder) {
    if (!holder)
        return;
    holder->Owner = this;
    mask_ = std::move(holder);
}

bool TCoolForm::ReadMask(QDataStream& stream) {
    stream.setByteOrder(QDataStream::LittleEndian);
    quint32 length = 0;
    stream >> length;
    if (stream.status() != QDataStream::Ok)
        return false;
    if (length == 0) {
        mask_->Region.reset();
        shape_data_.clear();
        return true;
    }
    if (length > kMaxRegionDataBytes)
        return false;
    QByteArray data(static_cast<qsizetype>(length), '\0');
    if (stream.readRawData(data.data(), static_cast<int>(length)) != static_cast<int>(length))
        return false;
    std::optional<QRegion> region = DecodeRegionData(data);
    if (!region)
        return false;
    shape_data_ = data;
    mask_->Region = *region;
    if (QWidget* target = parentWidget())
        target->setMask(*region);
    return true;
}

bool TCoolForm::ReadMask(const QByteArray& block) {
    QDataStream stream(block);
    return ReadMask(stream);
}

void TCoolForm::WriteMask(QDataStream& stream) const {
    stream.setByteOrder(QDataStream::LittleEndian);
    if (mask_ && mask_->Region) {
        const QByteArray data = EncodeRegionData(*mask_->Region);
        stream << static_cast<quint32>(data.size());
        stream.writeRawData(data.constData(), static_cast<int>(data.size()));
    } else {
        stream << static_cast<quint32>(0);
    }
}

QByteArray TCoolForm::WriteMask() const {
    QByteArray block;
    QDataStream stream(&block, QIODevice::WriteOnly);
    WriteMask(stream);
    return block;
}

void TCoolForm::paintEvent(QPaintEvent* /*event*/) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), picture_);
}

void TCoolForm::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    StartDragMove(event);
}

void TCoolForm::StartDragMove(QMouseEvent* event) {
    QWidget* top = window();
    if (QWindow* handle = top->windowHandle(); handle != nullptr && handle->startSystemMove()) {
        emit DragMoveStarted(true);
        return;
    }
    // No window manager to run the move: follow the pointer until the button is released.
    following_ = true;
    drag_start_global_ = event->globalPosition().toPoint();
    drag_start_window_ = top->pos();
    emit DragMoveStarted(false);
}

void TCoolForm::mouseMoveEvent(QMouseEvent* event) {
    if (!following_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (!(event->buttons() & Qt::LeftButton)) {
        following_ = false;
        return;
    }
    window()->move(drag_start_window_ + (event->globalPosition().toPoint() - drag_start_global_));
}

void TCoolForm::mouseReleaseEvent(QMouseEvent* event) {
    if (following_ && event->button() == Qt::LeftButton) {
        window()->move(drag_start_window_ +
                       (event->globalPosition().toPoint() - drag_start_global_));
        following_ = false;
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

QByteArray MainWindowMaskData() {
    InitSkinResources();
    QFile file(QString::fromLatin1(kMainMaskResource));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray(4, '\0');
    return file.readAll();
}

TCoolForm* InstallMainWindowSkin(QWidget* window) {
    auto* form = new TCoolForm(window);
    form->LoadSkin(QString::fromLatin1(kMainSkinResource));
    form->ReadMask(MainWindowMaskData());
    form->lower();
    return form;
}

}  // namespace lensmere::skin
