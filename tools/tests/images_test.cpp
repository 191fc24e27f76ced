// The sample pictures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "tools/sample_photos.h"

namespace {

TEST(SamplePhotos, FourDistinctSmoothPictures) {
    const auto photos = tools::SamplePhotos();
    ASSERT_EQ(photos.size(), 4u);
    std::set<std::vector<uint8_t>> distinct;
    for (const auto& p : photos) {
        ASSERT_EQ(p.image.width, picture::kPhotoWidth);
        ASSERT_EQ(p.image.height, picture::kPhotoHeight);
        distinct.insert(p.image.rgb);
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
    EXPECT_EQ(tools::SamplePhotos()[0].image.rgb, photos[0].image.rgb) << "deterministic";
}

}  // namespace
