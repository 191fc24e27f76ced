#include "app/dialogstyle.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QWidget>

namespace lensmere {

QFont ProgramFont() {
    static const bool substituted = [] {
        QFont::insertSubstitution(QStringLiteral("MS Sans Serif"),
                                  QStringLiteral("Liberation Sans"));
        QFont::insertSubstitution(QStringLiteral("Times New Roman"),
                                  QStringLiteral("Liberation Serif"));
        return true;
    }();
    (void)substituted;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    return font;
}

void StyleMessageBox(QMessageBox& box) {
    box.setFont(ProgramFont());
    // A message box is as wide as its text and buttons; the window manager draws the caption
    // in its own, larger title font beside its frame buttons, and cuts a caption that does
    // not fit. Room for the caption in a bold desktop font and about four frame buttons.
    QFont title = QApplication::font();
    title.setBold(true);
    const int width = QFontMetrics(title).horizontalAdvance(box.windowTitle()) * 5 / 4 + 120;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

void CentreOverOwner(QWidget& dialog) {
    QWidget* parent = dialog.parentWidget();
    QWidget* owner = parent != nullptr ? parent->window() : nullptr;
    if (owner == nullptr || !owner->isVisible()) {
        return;
    }
    QRect placed(QPoint(0, 0), dialog.size());
    placed.moveCenter(owner->geometry().center());
    // The geometry of a window is that of its client area; the window manager puts the frame
    // around it.
    dialog.setGeometry(placed);
}

}  // namespace lensmere
