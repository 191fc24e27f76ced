#pragma once
// TCoolForm: the skin of a borderless, irregularly shaped top-level window.
//
// It is a child widget that always covers its parent's whole client area, paints the skin
// picture unscaled at its top-left corner, and lies below the window's other controls. When its
// parent is a top-level window, that window loses its frame and caption bar. The window's shape
// comes from the stored shape data (ReadMask), and a left-button press on the skin itself starts
// the window system's interactive move; where the window system has no such move (no window
// manager), the window follows the pointer until the button is released.
//
// Use from a main window (before it is first shown):
//
//     lensmere::skin::TCoolForm* form = lensmere::skin::InstallMainWindowSkin(this);
//
// which is the same as
//
//     auto* form = new TCoolForm(this);            // parent becomes frameless
//     form->LoadSkin(lensmere::skin::kMainSkinResource);
//     form->ReadMask(lensmere::skin::MainWindowMaskData());   // 484-byte block, 28 rectangles
//     form->lower();                               // below every other control
//
// The skin widget does not resize the window; the main window keeps its 579 x 364 client area.

#include <QByteArray>
#include <QDataStream>
#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QWidget>

#include <memory>
#include <optional>

namespace lensmere::skin {

class TCoolForm;

// Holder of the current window shape and of the form that owns it.
class TRegionType {
  public:
    explicit TRegionType(TCoolForm* owner = nullptr) : Owner(owner) {}
    std::optional<QRegion> Region;  // none at first
    TCoolForm* Owner;
};

class TCoolForm : public QWidget {
    Q_OBJECT
  public:
    explicit TCoolForm(QWidget* parent);
    ~TCoolForm() override;

    // The skin picture (a bitmap; shown unscaled from the top-left corner).
    bool LoadSkin(const QString& path);
    void SetPicture(const QImage& picture);
    const QImage& TPicture() const { return picture_; }

    // Stored shape: a 4-byte little-endian length N, then N bytes of region data. Reading applies
    // the shape to the parent window at once; N = 0 leaves the window rectangular. A malformed
    // block is refused (returns false) and leaves the window as it was.
    bool ReadMask(QDataStream& stream);
    bool ReadMask(const QByteArray& block);
    // Writes the held shape in the same form, or a 4-byte 0 when none is held.
    void WriteMask(QDataStream& stream) const;
    QByteArray WriteMask() const;

    // The shape holder. Setting a non-null holder replaces the held one and takes ownership; the
    // window's shape does not change.
    TRegionType* Mask() const { return mask_.get(); }
    void SetMask(std::unique_ptr<TRegionType> holder);

    // The raw region data last read (without the length), kept as read.
    const QByteArray& ShapeData() const { return shape_data_; }

    bool Draggable() const { return draggable_; }
    void SetDraggable(bool value) { draggable_ = value; }

    // The skin always sits at the top-left corner of its window.
    int Left() const { return x(); }
    int Top() const { return y(); }
    void SetLeft(int value);
    void SetTop(int value);
    void SetWidth(int value) { resize(value, height()); }
    void SetHeight(int value) { resize(width(), value); }

    // True while the window follows the pointer by itself (no window manager move available).
    bool FollowingPointer() const { return following_; }

  signals:
    // A left press on the skin started a window move: by the window system, or (false) by the
    // skin following the pointer itself.
    void DragMoveStarted(bool by_window_system);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FillParent();
    void StartDragMove(QMouseEvent* event);

    QImage picture_;
    std::unique_ptr<TRegionType> mask_;
    QByteArray shape_data_;
    bool draggable_ = true;
    bool following_ = false;
    QPoint drag_start_global_;
    QPoint drag_start_window_;
};

// Resource path of the main window's skin picture (579 x 363, 8 bits per pixel).
inline constexpr const char* kMainSkinResource = ":/skin/skin.bmp";
// Resource path of the main window's stored shape block (484 bytes).
inline constexpr const char* kMainMaskResource = ":/skin/main_window_mask.bin";

// The main window's stored shape block, read from the resources.
QByteArray MainWindowMaskData();

// Makes `window` frameless, gives it the skin and the main window's shape, and returns the skin.
TCoolForm* InstallMainWindowSkin(QWidget* window);

}  // namespace lensmere::skin
