// Reports what happens to one top-level window as lines on standard output, for the X display
// tests that drive a program from outside:
//   ready <x> <y>          the skin is on the screen, the window at this position
//   move <x> <y>           the window moved
//   press <x> <y>          a mouse button went down inside the window (window coordinates)
//   click <name>           a skinned button was clicked
//   drag system|follow     a press on the skin started a window move (by the window manager
//                          or by following the pointer)
#pragma once

#include <QObject>

class QWidget;

namespace lensmere::skin {

class TCoolButton;
class TCoolForm;

class WindowEventReporter : public QObject {
  public:
    // Watches every widget of `window` (install it on the application as an event filter).
    explicit WindowEventReporter(QWidget* window);

    // Reports the window moves that a press on `form` starts.
    void WatchForm(TCoolForm* form);
    // Reports the clicks of `button` under its object name.
    void WatchButton(TCoolButton* button);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
    bool ready_ = false;
};

}  // namespace lensmere::skin
