// PNG and JPEG files of the driver.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

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

TEST(Png, RoundTripsEveryPixelAndItsLengthDependsOnlyOnTheSize) {
    const RgbPicture noise = Noise(322, 242, 1);
    const std::vector<uint8_t> file = EncodePng(noise);
    ASSERT_TRUE(LooksLikePng(file));
    const std::optional<RgbPicture> back = DecodePng(file, 322, 242);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->rgb == noise.rgb);
    // File managers are told the size before the photo is read.
    EXPECT_EQ(file.size(), PngFileBytes(322, 242));
    EXPECT_EQ(EncodePng(RgbPicture(322, 242)).size(), file.size());
}

TEST(Png, OnlyAFileOfTheAskedSizeIsDecoded) {
    EXPECT_FALSE(DecodePng(EncodePng(Noise(321, 242, 2)), 322, 242));
    EXPECT_FALSE(DecodePng(EncodePng(Noise(322, 243, 2)), 322, 242));
    std::vector<uint8_t> cut = EncodePng(Noise(322, 242, 3));
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(DecodePng(cut, 322, 242));
    std::vector<uint8_t> header_only = EncodePng(Noise(322, 242, 3));
    header_only.resize(33);
    EXPECT_FALSE(DecodePng(header_only, 322, 242));
    EXPECT_FALSE(DecodePng(std::vector<uint8_t>{0x89, 'P', 'N', 'G'}, 322, 242));
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
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
    EXPECT_EQ(cinfo.image_width, 161u);
    EXPECT_EQ(cinfo.image_height, 121u);
    jpeg_destroy_decompress(&cinfo);
}

TEST(Encoders, RefuseAPictureWhosePixelsDoNotMatchItsSize) {
    RgbPicture bad(10, 10);
    bad.rgb.resize(7);
    EXPECT_TRUE(EncodePng(bad).empty());
    EXPECT_TRUE(EncodeJpeg(bad, 85).empty());
    EXPECT_TRUE(EncodePng(RgbPicture()).empty());
}

}  // namespace
}  // namespace quorbit_gphoto
