#include "cardlib/photo_io.h"
namespace quorbit {
int WriteFileToFlash(CardSession&, const std::string&) {
    return 0;
}
int AppendDirectoryEntry(CardSession&, uint16_t) {
    return 0;
}
int DeletePhoto(CardSession&, int) {
    return 0;
}
int StoreSystemBlock(CardSession&) {
    return 0;
}
}  // namespace quorbit
