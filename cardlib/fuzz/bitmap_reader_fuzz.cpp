// The upload's bitmap reader on arbitrary files: it must never read outside
// the input, and whatever it accepts must survive a round trip through the
// library's own bitmap writer.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "cardlib/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbit;
    const auto raw = DecodeBitmap(std::span<const uint8_t>(data, size));
    if (!raw)
        return 0;
    if (raw->size() != kRawPhotoBytes)
        std::abort();
    const std::vector<uint8_t> file = EncodeBitmap(*raw);
    const auto again = DecodeBitmap(file);
    if (!again || *again != *raw)
        std::abort();
    return 0;
}
