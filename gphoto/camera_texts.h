// The driver's own texts about the card, in plain English (the card
// library's localised table is the library's, not the driver's).
#pragma once

#include <string>

#include "gphoto/photo_card.h"

namespace quorbit_gphoto {

// "5 photos, 47 free slots of 52"
std::string UsageText(const CardStatus& status);
// "16 MB card, little-endian firmware"
std::string CardKindText(const CardStatus& status);
// "little-endian" or "big-endian"
const char* ByteOrderText(const CardStatus& status);

}  // namespace quorbit_gphoto
