// The camera's configuration as libgphoto2 widgets: read-only facts about
// the card (kind, size, photos, free slots, the firmware's byte order), so
// that programs which show a camera's settings have something true to show.
#pragma once

#include <gphoto2/gphoto2-widget.h>

#include "gphoto/photo_card.h"

namespace quorbit_gphoto {

// A new window widget (the caller frees it with gp_widget_free); a
// libgphoto2 result.
int MakeConfigWindow(const CardStatus& status, CameraWidget** window);

}  // namespace quorbit_gphoto
