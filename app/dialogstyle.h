// How the program's dialogs and message boxes look: all in the program's font (the main
// window's), message boxes wide enough for their caption.
#pragma once

#include <QFont>

class QMessageBox;
class QWidget;

namespace lensmere {

// "MS Sans Serif", 11 pixels high. That face is not found on this desktop; the first call
// makes it (and "Times New Roman") stand for the installed faces closest in shape and metrics.
QFont ProgramFont();

// The program's font, and a width at which the window frame shows the whole caption. Call it
// on a finished box: changing its icon or texts afterwards lays it out anew.
void StyleMessageBox(QMessageBox& box);

// Places a dialog that is about to show with its client area centred over the window of its
// parent (when that is shown). Qt guesses the window frame of a first showing, and places it
// off centre by the difference.
void CentreOverOwner(QWidget& dialog);

}  // namespace lensmere
