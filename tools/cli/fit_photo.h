// Pictures of any size made into a photo of the card's size.
#pragma once

#include "tools/bmp24.h"

namespace cli {

// The picture scaled to fit 322 x 242 with its aspect ratio kept, centred,
// the rest black. Each photo pixel is the area-weighted mean of the picture
// pixels it covers, so that shrinking does not alias and growing stays smooth
// enough. A picture of the photo size comes back unchanged.
tools::Image FitToPhoto(const tools::Image& picture);

}  // namespace cli
