// Pictures of any size made into a photo of the card's size.
#pragma once

#include "picture/picture.h"

namespace picture {

// The picture scaled to fit 322 x 242 with its aspect ratio kept, centred,
// the rest black. Each photo pixel is the area-weighted mean of the picture
// pixels it covers, so that shrinking does not alias and growing stays smooth
// enough. A picture of the photo size comes back unchanged.
Picture FitToPhoto(const Picture& picture);

}  // namespace picture
