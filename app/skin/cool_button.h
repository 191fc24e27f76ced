#pragma once
// TCoolButton: a button drawn entirely from a glyph strip of up to four cells (normal, disabled,
// pressed, hot). Only the glyph's non-transparent pixels (and the caption, if any) are painted;
// the parent shows through everywhere else. The hot look follows the strip's pixel under the
// pointer; a press and release inside (the row just below the button still counts) emits
// clicked(). Buttons of one parent with the same non-zero GroupIndex latch: one of them is Down.
//
// Use from a main window:
//
//     auto* exit = new lensmere::skin::TCoolButton(this);
//     exit->setGeometry(480, 300, 75, 29);
//     exit->setGlyph(QString::fromLatin1(lensmere::skin::kExitGlyphResource));  // 293 x 30 strip
//     connect(exit, &lensmere::skin::TCoolButton::clicked, this, &Window::ExitButtonClick);
//     exit->setEnabled(false);   // shows the disabled cell and ignores the mouse

#include "app/skin/button_glyph.h"

#include <QImage>
#include <QString>
#include <QWidget>

namespace lensmere::skin {

class TCoolButton : public QWidget {
    Q_OBJECT
  public:
    explicit TCoolButton(QWidget* parent = nullptr);
    ~TCoolButton() override;

    void SetGlyph(const QImage& strip);
    // Loads the strip from a file or resource path; false (and no change) when it cannot be read.
    bool SetGlyph(const QString& path);
    const QImage& Glyph() const { return glyph_.Glyph(); }

    int NumGlyphs() const { return glyph_.NumGlyphs(); }
    void SetNumGlyphs(int value);

    bool AllowAllUp() const { return allow_all_up_; }
    void SetAllowAllUp(bool value);
    int GroupIndex() const { return group_index_; }
    void SetGroupIndex(int value);
    bool Down() const { return down_; }
    void SetDown(bool value);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);

    TButtonLayout Layout() const { return layout_; }
    void SetLayout(TButtonLayout layout);
    int Margin() const { return margin_; }
    void SetMargin(int value);  // values below -1 are refused
    int Spacing() const { return spacing_; }
    void SetSpacing(int value);

    // State, for the window and for tests.
    TButtonState Look() const { return look_; }
    bool Hot() const { return hot_; }
    bool Dragging() const { return dragging_; }
    // The look painting would choose now (and the cell it shows).
    TButtonState PaintLook() const;
    int CellForLook(TButtonState look) const;
    TButtonGlyph& ButtonGlyph() { return glyph_; }

    QSize sizeHint() const override { return QSize(25, 25); }

  signals:
    void Clicked();
    void DoubleClicked();
    void MouseDown(Qt::MouseButton button, QPoint position);
    void MouseMoved(QPoint position);
    void MouseUp(Qt::MouseButton button, QPoint position);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void Press(QMouseEvent* event);
    bool IsInside(QPoint position) const;
    bool IsTopmostAt(QPoint global) const;
    void RefreshHot();
    void NotifyGroup();
    void GroupNotification(TCoolButton* sender);
    void UpdateShortcut();

    TButtonGlyph glyph_;
    TButtonState look_ = StateUp;
    bool hot_ = false;
    bool dragging_ = false;
    bool down_ = false;
    int group_index_ = 0;
    bool allow_all_up_ = false;
    QString caption_;
    TButtonLayout layout_ = blGlyphLeft;
    int margin_ = -1;
    int spacing_ = 4;
    int shortcut_id_ = 0;
};

}  // namespace lensmere::skin
