// Picture files given to make-card: any bytes must give an image or an error.
#include <cstdint>
#include <span>
#include <string>

#include "sim/image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    std::string error;
    if (auto bmp = sim::DecodeBmp(bytes, &error))
        (void)sim::RawPhotoFromRgb(*bmp);
    (void)sim::DecodeJpeg(bytes, &error);
    return 0;
}
