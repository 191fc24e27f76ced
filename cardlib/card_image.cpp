#include "cardlib/photo_io.h"
namespace quorbit {
int ReadAll(CardSession&, const std::string&) {
    return 0;
}
int FormatFlash(CardSession&, int) {
    return 0;
}
}  // namespace quorbit
