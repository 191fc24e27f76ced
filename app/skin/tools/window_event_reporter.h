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
    // Reports the events of `window` from now on: its skin's window moves, the clicks of the
    // skinned buttons it holds now (under their object names) and the presses, moves and
    // first paint seen by an event filter on the application. Lives as long as the window.
    static void Attach(QWidget* window);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit WindowEventReporter(QWidget* window);
    void WatchForm(TCoolForm* form);
    void WatchButton(TCoolButton* button);

    QWidget* window_;
    bool ready_ = false;
};

}  // namespace lensmere::skin
