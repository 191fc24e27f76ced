// The system's print dialog on the program's current printer. Qt's dialog sets the printer's
// paper to the queue's default when it is accepted, unless the user accepted paper in its
// printer properties, and those properties open on the default too: here they open on the
// printer's own paper and orientation, and these stay unless the user accepted others there.
#pragma once

#include <functional>

#include "app/printersettings.h"

class QDialog;
class QPrintDialog;

namespace lensmere {

// Runs `dialog`, made on `printer`, through `run` (which shows it and returns its result);
// `before` are the printer's settings from before the dialog was made, for making it already
// chooses a queue on the printer. True when it was accepted; a cancelled dialog leaves the
// printer as it was.
bool RunSystemPrintDialog(QPrintDialog& dialog, QPrinter& printer, const TPrinterSettings& before,
                          const std::function<int(QDialog&)>& run);

}  // namespace lensmere
