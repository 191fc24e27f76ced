// Bitmap files and the sample pictures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "tools/bmp24.h"
#include "tools/sample_photos.h"

namespace {

tools::Image Pattern(int w, int h) {
    tools::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Set(x, y, x * 7, y * 5, (x ^ y) & 0xFF);
    return img;
}

TEST(Bmp24, RoundTripAndRowPadding) {
    const auto img = Pattern(tools::kPhotoWidth, tools::kPhotoHeight);
    const auto bytes = tools::EncodeBmp24(img);
    // The library's own photo bitmaps have the same size: 54 + 242 * 968.
    EXPECT_EQ(bytes.size(), 234310u);
    std::string error;
    const auto back = tools::DecodeBmp24(bytes, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->bgr, img.bgr);
    // Bottom-up: the first stored row is the picture's last.
    EXPECT_EQ(bytes[54 + 0], img.At(0, tools::kPhotoHeight - 1)[0]);
}

TEST(Bmp24, TopDownFilesAndLargerHeaders) {
    const auto img = Pattern(5, 3);
    auto bytes = tools::EncodeBmp24(img);
    // Rewrite as a top-down file with a 124-byte header (70 more bytes).
    std::vector<uint8_t> td(bytes.begin(), bytes.begin() + 54);
    td.insert(td.end(), 70, 0);
    td[10] = 54 + 70;
    td[14] = 124;
    const int32_t negative = -3;
    std::memcpy(&td[22], &negative, 4);
    const size_t row = 16;
    for (int y = 0; y < 3; ++y) {
        const auto* src = bytes.data() + 54 + row * (2 - y);
        td.insert(td.end(), src, src + row);
    }
    std::string error;
    const auto back = tools::DecodeBmp24(td, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->bgr, img.bgr);
}

TEST(Bmp24, RefusesWhatItCannotRead) {
    auto bytes = tools::EncodeBmp24(Pattern(8, 8));
    std::string error;
    auto truncated = bytes;
    truncated.resize(bytes.size() - 1);
    EXPECT_FALSE(tools::DecodeBmp24(truncated, &error));
    auto paletted = bytes;
    paletted[28] = 8;
    EXPECT_FALSE(tools::DecodeBmp24(paletted, &error));
    auto compressed = bytes;
    compressed[30] = 1;
    EXPECT_FALSE(tools::DecodeBmp24(compressed, &error));
    EXPECT_FALSE(tools::DecodeBmp24({'B', 'M', 0}, &error));
    EXPECT_FALSE(tools::DecodeBmp24({}, &error));
}

TEST(SamplePhotos, FourDistinctSmoothPictures) {
    const auto photos = tools::SamplePhotos();
    ASSERT_EQ(photos.size(), 4u);
    std::set<std::vector<uint8_t>> distinct;
    for (const auto& p : photos) {
        ASSERT_EQ(p.image.width, tools::kPhotoWidth);
        ASSERT_EQ(p.image.height, tools::kPhotoHeight);
        distinct.insert(p.image.bgr);
        // Pictures, not noise: neighbouring pixels are mostly alike, and
        // there is more than one colour.
        long diff = 0, n = 0;
        std::set<uint32_t> colours;
        for (int y = 0; y < p.image.height; ++y) {
            for (int x = 1; x < p.image.width; ++x) {
                const uint8_t* a = p.image.At(x - 1, y);
                const uint8_t* b = p.image.At(x, y);
                for (int c = 0; c < 3; ++c)
                    diff += std::abs(a[c] - b[c]);
                n += 3;
                colours.insert(b[0] | (b[1] << 8) | (b[2] << 16));
            }
        }
        EXPECT_LT(static_cast<double>(diff) / n, 6.0) << p.name;
        EXPECT_GT(colours.size(), 200u) << p.name;
    }
    EXPECT_EQ(distinct.size(), 4u);
    EXPECT_EQ(tools::SamplePhotos()[0].image.bgr, photos[0].image.bgr) << "deterministic";
}

}  // namespace
