// Picture files given to make-card (and to quorbit-cli's put): any bytes must
// give a picture or an error, strictly and leniently.
#include <cstdint>
#include <span>
#include <string>

#include "picture/codecs.h"
#include "picture/raw_photo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    picture::DecodeOptions options;
    options.max_pixels = 1 << 20;  // bounded work per input
    for (bool lenient : {false, true}) {
        options.lenient = lenient;
        std::string error;
        if (auto decoded = picture::Decode(bytes, &error, options))
            (void)picture::RawFromPicture(*decoded, picture::SecondGreen::kHalfRowLower);
    }
    return 0;
}
