#include "app/skin/cool_button.h"

#include "app/skin/skin_resources.h"

#include <QApplication>
#include <QEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace lensmere::skin {

TCoolButton::TCoolButton(QWidget* parent) : QWidget(parent) {
    setGeometry(0, 0, 25, 25);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

TCoolButton::~TCoolButton() = default;

void TCoolButton::SetGlyph(const QImage& strip) {
    glyph_.SetGlyph(strip);
    // The look shown first is ready before the first paint.
    glyph_.CreateButtonGlyph(isEnabled() ? StateUp : StateDisabled, palette());
    update();
}

bool TCoolButton::SetGlyph(const QString& path) {
    const QImage strip = LoadSkinImage(path);
    if (strip.isNull())
        return false;
    SetGlyph(strip);
    return true;
}

void TCoolButton::SetNumGlyphs(int value) {
    if (glyph_.SetNumGlyphs(value))
        update();
}

void TCoolButton::SetAllowAllUp(bool value) {
    if (value == allow_all_up_)
        return;
    allow_all_up_ = value;
    NotifyGroup();
}

void TCoolButton::SetGroupIndex(int value) {
    if (value == group_index_)
        return;
    group_index_ = value;
    if (group_index_ == 0 && down_) {
        down_ = false;
        look_ = StateUp;
        update();
    }
    NotifyGroup();
}

void TCoolButton::SetDown(bool value) {
    if (group_index_ == 0)
        value = false;
    if (value == down_)
        return;
    // A down button of a group without AllowAllUp is raised only by another going down.
    if (down_ && !allow_all_up_)
        return;
    down_ = value;
    if (value) {
        if (look_ == StateUp)
            update();
        look_ = StateHot;
        NotifyGroup();
    } else {
        look_ = StateUp;
        repaint();
    }
}

void TCoolButton::SetCaption(const QString& caption) {
    if (caption == caption_)
        return;
    caption_ = caption;
    UpdateShortcut();
    update();
}

void TCoolButton::SetLayout(TButtonLayout layout) {
    if (layout == layout_)
        return;
    layout_ = layout;
    update();
}

void TCoolButton::SetMargin(int value) {
    if (value < -1 || value == margin_)
        return;
    margin_ = value;
    update();
}

void TCoolButton::SetSpacing(int value) {
    if (value == spacing_)
        return;
    spacing_ = value;
    update();
}

TButtonState TCoolButton::PaintLook() const {
    if (!isEnabled())
        return StateDisabled;
    if (!hot_)
        return StateUp;
    if (look_ != StatePressed)
        return StateHot;
    return StatePressed;
}

int TCoolButton::CellForLook(TButtonState look) const {
    if (look == StatePressed && glyph_.NumGlyphs() < 3)
        look = StateUp;
    const int cell = static_cast<int>(look);
    return cell < glyph_.NumGlyphs() ? cell : 0;
}

void TCoolButton::paintEvent(QPaintEvent* /*event*/) {
    look_ = PaintLook();
    QPainter painter(this);
    glyph_.Draw(painter, rect(), caption_, layout_, margin_, spacing_, look_, palette(), font(),
                palette().color(foregroundRole()));
}

bool TCoolButton::IsInside(QPoint position) const {
    return position.x() >= 0 && position.x() < width() && position.y() >= 0 &&
           position.y() <= height();
}

bool TCoolButton::IsTopmostAt(QPoint global) const {
    return QApplication::widgetAt(global) == this;
}

void TCoolButton::Press(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    if (!down_) {
        look_ = StatePressed;
        update();
    }
    dragging_ = true;
}

void TCoolButton::mousePressEvent(QMouseEvent* event) {
    emit MouseDown(event->button(), event->position().toPoint());
    Press(event);
    event->accept();
}

void TCoolButton::mouseDoubleClickEvent(QMouseEvent* event) {
    emit MouseDown(event->button(), event->position().toPoint());
    Press(event);
    if (down_ && event->button() == Qt::LeftButton)
        emit DoubleClicked();
    event->accept();
}

void TCoolButton::mouseMoveEvent(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    const QImage& strip = glyph_.Glyph();
    bool hot = false;
    if (!strip.isNull() && position.x() >= 0 && position.y() >= 0 && position.x() < strip.width() &&
        position.y() < strip.height()) {
        // The strip is read at the pointer's own coordinates, whatever cell is shown.
        const QRgb ground = strip.pixel(0, strip.height() - 1);
        hot = (strip.pixel(position) & 0xFFFFFF) != (ground & 0xFFFFFF) &&
              IsTopmostAt(event->globalPosition().toPoint());
    }
    const bool changed = hot != hot_;
    hot_ = hot;
    emit MouseMoved(position);
    if (dragging_) {
        TButtonState look = down_ ? StateHot : StateUp;
        if (IsInside(position))
            look = down_ ? StateHot : StatePressed;
        look_ = look;
    }
    if (changed)
        update();
    event->accept();
}

void TCoolButton::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    emit MouseUp(event->button(), position);
    event->accept();
    if (!dragging_)
        return;
    dragging_ = false;
    const bool inside = IsInside(position);
    if (group_index_ == 0) {
        look_ = StateUp;
        hot_ = false;
        if (inside)
            update();
    } else if (inside) {
        SetDown(!down_);
        if (down_)
            repaint();
    } else {
        if (down_)
            look_ = StateHot;
        repaint();
    }
    if (inside) {
        const QPointer<TCoolButton> alive(this);
        emit Clicked();
        if (!alive)
            return;
    }
    RefreshHot();
}

void TCoolButton::RefreshHot() {
    if (!isEnabled())
        return;
    // Whether or not the pointer is still over the button, the hot look waits for the next move.
    if (hot_) {
        hot_ = false;
        update();
    }
}

void TCoolButton::leaveEvent(QEvent* event) {
    if (hot_ && isEnabled() && !dragging_) {
        hot_ = false;
        update();
    }
    QWidget::leaveEvent(event);
}

void TCoolButton::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::EnabledChange:
            if (!isEnabled()) {
                // No release will arrive while disabled: a press in progress is over.
                dragging_ = false;
            }
            glyph_.CreateButtonGlyph(isEnabled() ? StateUp : StateDisabled, palette());
            RefreshHot();
            repaint();
            break;
        case QEvent::FontChange:
            update();
            break;
        case QEvent::PaletteChange:
            glyph_.Invalidate();
            glyph_.CreateButtonGlyph(PaintLook(), palette());
            update();
            break;
        default:
            break;
    }
    QWidget::changeEvent(event);
}

bool TCoolButton::event(QEvent* event) {
    if (event->type() == QEvent::Shortcut) {
        if (!isEnabled())
            return false;
        emit Clicked();
        return true;
    }
    return QWidget::event(event);
}

void TCoolButton::UpdateShortcut() {
    if (shortcut_id_ != 0) {
        releaseShortcut(shortcut_id_);
        shortcut_id_ = 0;
    }
    const QKeySequence key = QKeySequence::mnemonic(caption_);
    if (!key.isEmpty())
        shortcut_id_ = grabShortcut(key);
}

void TCoolButton::NotifyGroup() {
    QWidget* parent = parentWidget();
    if (parent == nullptr || group_index_ == 0)
        return;
    for (QObject* child : parent->children()) {
        auto* other = qobject_cast<TCoolButton*>(child);
        if (other != nullptr && other != this)
            other->GroupNotification(this);
    }
}

void TCoolButton::GroupNotification(TCoolButton* sender) {
    if (sender->group_index_ != group_index_)
        return;
    if (sender->down_ && down_) {
        down_ = false;
        look_ = StateUp;
        update();
    }
    allow_all_up_ = sender->allow_all_up_;
}

}  // namespace lensmere::skin
