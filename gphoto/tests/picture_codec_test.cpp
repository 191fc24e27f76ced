// PNG and JPEG files of the driver.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "gphoto/picture_codec.h"

namespace quorbit_gphoto {
namespace {

RgbPicture Noise(int w, int h, uint32_t seed) {
    RgbPicture p(w, h);
    for (uint8_t& b : p.rgb) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return p;
}

// File managers are told the size before the photo is read.
TEST(Png, APhotosFileLengthDependsOnlyOnItsSize) {
    const std::vector<uint8_t> file = PhotoPng(Noise(322, 242, 1));
    std::string error;
    const std::optional<RgbPicture> back = picture::DecodePng(file, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_TRUE(back->rgb == Noise(322, 242, 1).rgb);
    EXPECT_EQ(file.size(), PhotoPngBytes(322, 242));
    EXPECT_EQ(PhotoPng(RgbPicture(322, 242)).size(), file.size());
}

TEST(Preview, IsAJpegOfHalfTheSizeWithTheMeanOfEachBlock) {
    RgbPicture p(3, 3);
    for (size_t i = 0; i < p.rgb.size(); i += 3)
        p.rgb[i] = static_cast<uint8_t>(i * 10);
    const RgbPicture half = HalfSize(p);
    ASSERT_EQ(half.width, 2);
    ASSERT_EQ(half.height, 2);
    // Red of pixels (0,0) 0, (1,0) 30, (0,1) 90, (1,1) 120: mean 60.
    EXPECT_EQ(half.rgb[0], 60);
    // The last column covers one pixel wide: (2,0) 60 and (2,1) 150.
    EXPECT_EQ(half.rgb[3], 105);
    EXPECT_EQ(half.rgb[(1 * 2 + 1) * 3], p.rgb[(2 * 3 + 2) * 3]);

    const std::vector<uint8_t> jpeg = EncodeJpeg(HalfSize(Noise(322, 242, 4)), 85);
    ASSERT_GT(jpeg.size(), 4u);
    std::string error;
    const std::optional<RgbPicture> decoded = picture::DecodeJpeg(jpeg, &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->width, 161);
    EXPECT_EQ(decoded->height, 121);
}

}  // namespace
}  // namespace quorbit_gphoto
