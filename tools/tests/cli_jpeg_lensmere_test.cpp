// A photo quorbit-cli saves as JPEG is the very file lensmere saves for the
// same pixels: the two programs' encoders, byte for byte.
#include <gtest/gtest.h>

#include "app/photofiles.h"
#include "tools/cli/picture_codecs.h"
#include "tools/sample_photos.h"

namespace {

lensmere::RgbImage ToLensmere(const tools::Image& image) {
    lensmere::RgbImage rgb;
    rgb.width = image.width;
    rgb.height = image.height;
    rgb.pixels.resize(image.bgr.size());
    for (size_t i = 0; i + 2 < image.bgr.size(); i += 3) {
        rgb.pixels[i] = image.bgr[i + 2];
        rgb.pixels[i + 1] = image.bgr[i + 1];
        rgb.pixels[i + 2] = image.bgr[i];
    }
    return rgb;
}

TEST(JpegLikeLensmere, SameBytesForTheSamePixels) {
    for (const auto& sample : tools::SamplePhotos()) {
        const auto ours = cli::EncodeJpeg(sample.image);
        ASSERT_FALSE(ours.empty()) << sample.name;
        EXPECT_EQ(ours, lensmere::CompressJpeg(ToLensmere(sample.image))) << sample.name;
    }
    // lensmere's own size for saved pictures, twice the photo's.
    tools::Image doubled(644, 484);
    for (int y = 0; y < doubled.height; ++y)
        for (int x = 0; x < doubled.width; ++x)
            doubled.Set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), 77);
    EXPECT_EQ(cli::EncodeJpeg(doubled), lensmere::CompressJpeg(ToLensmere(doubled)));
}

}  // namespace
