// quorbit-cli's JPEG encoder and lensmere's give the same bytes for the same
// pixels. (lensmere saves the photo doubled to 644 x 484, quorbit-cli at
// 322 x 242: the programs' files differ, their encoder settings do not.)
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/jpegfile.h"
#include "picture/codecs.h"
#include "tools/sample_photos.h"

namespace {

// lensmere's encoder on the same pixels, as bytes.
std::vector<uint8_t> LensmereJpeg(const picture::Picture& image) {
    QImage rgb(image.width, image.height, QImage::Format_RGB888);
    for (int y = 0; y < image.height; ++y) {
        uint8_t* row = rgb.scanLine(y);
        std::copy_n(image.At(0, y), static_cast<size_t>(image.width) * 3, row);
    }
    const QByteArray jpeg = lensmere::EncodeJpeg(rgb);
    return {jpeg.begin(), jpeg.end()};
}

TEST(JpegLikeLensmere, SameBytesForTheSamePixels) {
    for (const auto& sample : tools::SamplePhotos()) {
        const auto ours = picture::EncodeJpeg(sample.image);
        ASSERT_FALSE(ours.empty()) << sample.name;
        EXPECT_EQ(ours, LensmereJpeg(sample.image)) << sample.name;
    }
    // lensmere's own size for saved pictures, twice the photo's.
    picture::Picture doubled(644, 484);
    for (int y = 0; y < doubled.height; ++y)
        for (int x = 0; x < doubled.width; ++x)
            doubled.Set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), 77);
    EXPECT_EQ(picture::EncodeJpeg(doubled), LensmereJpeg(doubled));
}

}  // namespace
