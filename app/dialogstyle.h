// How the program's dialogs and message boxes look: all in the program's font (the main
// window's), message boxes wide enough for their caption.
#pragma once

#include <QFont>

class QMessageBox;

namespace lensmere {

// "MS Sans Serif", 11 pixels high. That face is not found on this desktop; the first call
// makes it (and "Times New Roman") stand for the installed faces closest in shape and metrics.
QFont ProgramFont();

// The program's font, and a width at which the window frame shows the whole caption. Call it
// on a finished box: changing its icon or texts afterwards lays it out anew.
void StyleMessageBox(QMessageBox& box);

}  // namespace lensmere
