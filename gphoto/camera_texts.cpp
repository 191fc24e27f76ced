#include "gphoto/camera_texts.h"

namespace quorbit_gphoto {
namespace {

std::string Counted(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string UsageText(const CardStatus& status) {
    return Counted(status.photos, "photo", "photos") + ", " +
           Counted(status.free_slots(), "free slot", "free slots") + " of " +
           std::to_string(status.slots);
}

std::string CardKindText(const CardStatus& status) {
    return std::to_string(status.size_mb) + " MB card, " + ByteOrderText(status) + " firmware";
}

const char* ByteOrderText(const CardStatus& status) {
    return status.little_endian ? "little-endian" : "big-endian";
}

}  // namespace quorbit_gphoto
