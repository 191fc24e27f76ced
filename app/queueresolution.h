// The resolution of a print queue: the grid of printer pixels that the print dialog places
// and sizes a picture in.
#pragma once

#include <QString>

namespace lensmere {

// Dots per inch across the page of the named CUPS queue: the user's own default for it
// (lpoptions) if set, else the default of the queue's driver, else the default the queue
// announces. 0 when there is no such queue or it does not say.
int QueueResolution(const QString& printer_name);

}  // namespace lensmere
