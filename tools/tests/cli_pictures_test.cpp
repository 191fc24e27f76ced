// The picture side of quorbit-cli: the files it reads (every bitmap depth,
// PNG, JPEG; nothing endless, nothing that is no regular file), fitting a
// picture to the photo size, photo ids and name patterns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/bmp24.h"
#include "tools/cli/fit_photo.h"
#include "tools/cli/input_file.h"
#include "tools/cli/photo_names.h"
#include "tools/cli/picture_codecs.h"
#include "tools/sample_photos.h"

namespace {

namespace fs = std::filesystem;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bitmap file written the way other programs write them: 40-byte header,
// palette or bit fields as the depth needs, rows padded to four bytes.
struct BmpBuilder {
    BmpBuilder(int w, int h, int b, uint32_t c = 0)
        : width(w), height(h), bits(b), compression(c) {}
    int width, height, bits;
    uint32_t compression;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    std::vector<uint32_t> masks;    // red, green, blue for compression 3
    bool top_down = false;

    // pixel(x, y): palette index or packed value.
    template <typename F>
    std::vector<uint8_t> Build(F pixel) const {
        const size_t row = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
        const size_t extra = palette.size() * 4 + masks.size() * 4;
        const size_t offset = 54 + extra;
        std::vector<uint8_t> f(offset + row * height, 0);
        f[0] = 'B', f[1] = 'M';
        Put32(f, 2, static_cast<uint32_t>(f.size()));
        Put32(f, 10, static_cast<uint32_t>(offset));
        Put32(f, 14, 40);
        Put32(f, 18, static_cast<uint32_t>(width));
        Put32(f, 22, static_cast<uint32_t>(top_down ? -height : height));
        Put16(f, 26, 1);
        Put16(f, 28, static_cast<uint32_t>(bits));
        Put32(f, 30, compression);
        Put32(f, 46, static_cast<uint32_t>(palette.size()));
        size_t at = 54;
        for (uint32_t m : masks)
            Put32(f, at, m), at += 4;
        for (uint32_t c : palette)
            Put32(f, at, c), at += 4;
        for (int y = 0; y < height; ++y) {
            const size_t stored = top_down ? y : height - 1 - y;
            uint8_t* r = f.data() + offset + row * stored;
            for (int x = 0; x < width; ++x) {
                const uint32_t v = pixel(x, y);
                if (bits < 8) {
                    const int per = 8 / bits;
                    r[x / per] |= static_cast<uint8_t>(v << (8 - bits * (x % per + 1)));
                } else {
                    for (int i = 0; i < bits / 8; ++i)
                        r[x * (bits / 8) + i] = static_cast<uint8_t>(v >> (8 * i));
                }
            }
        }
        return f;
    }
};

// Blue, green, red of a decoded pixel as 0xRRGGBB.
uint32_t Rgb(const tools::Image& image, int x, int y) {
    const uint8_t* p = image.At(x, y);
    return (p[2] << 16) | (p[1] << 8) | p[0];
}

TEST(PictureFiles, BitmapsOfEveryDepth) {
    std::string error;
    // 1 bit: a checker of two palette colours.
    BmpBuilder one{5, 3, 1};
    one.palette = {0x102030, 0xF0E0D0};
    auto image = cli::DecodeAnyBmp(one.Build([](int x, int y) { return (x + y) % 2; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 0, 0), 0x102030u);
    EXPECT_EQ(Rgb(*image, 1, 0), 0xF0E0D0u);
    EXPECT_EQ(Rgb(*image, 4, 2), 0x102030u);

    // 4 bits, top-down rows.
    BmpBuilder four{3, 2, 4};
    four.top_down = true;
    for (uint32_t i = 0; i < 16; ++i)
        four.palette.push_back(i * 0x111111);
    image = cli::DecodeAnyBmp(four.Build([](int x, int y) { return x + 3 * y; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 2, 1), 5 * 0x111111u);

    // 8 bits.
    BmpBuilder eight{4, 2, 8};
    for (uint32_t i = 0; i < 256; ++i)
        eight.palette.push_back(i << 8);
    image = cli::DecodeAnyBmp(eight.Build([](int x, int y) { return 100 + x + y; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 3, 1), 104u << 8);

    // 16 bits, default 5-5-5: full red.
    BmpBuilder sixteen{2, 2, 16};
    image = cli::DecodeAnyBmp(sixteen.Build([](int, int) { return 0x7C00; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 1, 1), 0xFF0000u);

    // 16 bits, 5-6-5 bit fields: full green.
    BmpBuilder rgb565{2, 2, 16, 3};
    rgb565.masks = {0xF800, 0x07E0, 0x001F};
    image = cli::DecodeAnyBmp(rgb565.Build([](int, int) { return 0x07E0; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 0, 0), 0x00FF00u);

    // 32 bits, BGRX.
    BmpBuilder thirty_two{3, 1, 32};
    image = cli::DecodeAnyBmp(thirty_two.Build([](int x, int) { return 0xFF123456 + x; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 2, 0), 0x123458u);

    // 24 bits, as the library writes them.
    tools::Image photo = tools::SamplePhotos()[0].image;
    image = cli::DecodePicture(tools::EncodeBmp24(photo), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->bgr, photo.bgr);
}

TEST(PictureFiles, DamagedOrUnknownFilesAreRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(cli::DecodePicture({'G', 'I', 'F', '8', '9', 'a'}, &error));
    EXPECT_NE(error.find("not a picture"), std::string::npos);

    BmpBuilder rle{4, 4, 8, 1};
    rle.palette = {0};
    EXPECT_FALSE(cli::DecodeAnyBmp(rle.Build([](int, int) { return 0; }), &error));
    EXPECT_NE(error.find("compressed"), std::string::npos);

    BmpBuilder truncated{64, 64, 24};
    auto bytes = truncated.Build([](int, int) { return 0; });
    bytes.resize(bytes.size() / 2);
    EXPECT_FALSE(cli::DecodePicture(bytes, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos);

    // Headers claiming a giant picture: refused before any pixel memory.
    BmpBuilder giant{1, 1, 24};
    bytes = giant.Build([](int, int) { return 0; });
    Put32(bytes, 18, 60000);
    Put32(bytes, 22, 60000);
    EXPECT_FALSE(cli::DecodePicture(bytes, &error));
    EXPECT_NE(error.find("million pixels"), std::string::npos) << error;

    const auto png = cli::EncodePng(tools::SamplePhotos()[1].image);
    std::vector<uint8_t> cut(png.begin(), png.begin() + static_cast<long>(png.size() / 2));
    EXPECT_FALSE(cli::DecodePicture(cut, &error));
    const auto jpeg = cli::EncodeJpeg(tools::SamplePhotos()[1].image);
    cut.assign(jpeg.begin(), jpeg.begin() + 200);
    EXPECT_FALSE(cli::DecodePicture(cut, &error));
}

TEST(PictureFiles, PngIsLosslessAndJpegIsClose) {
    const tools::Image photo = tools::SamplePhotos()[2].image;
    std::string error;
    const auto png = cli::DecodePicture(cli::EncodePng(photo), &error);
    ASSERT_TRUE(png) << error;
    EXPECT_EQ(png->bgr, photo.bgr);

    const auto jpeg_bytes = cli::EncodeJpeg(photo);
    ASSERT_GT(jpeg_bytes.size(), 1000u);
    const auto jpeg = cli::DecodePicture(jpeg_bytes, &error);
    ASSERT_TRUE(jpeg) << error;
    ASSERT_EQ(jpeg->width, photo.width);
    double total = 0;
    for (size_t i = 0; i < photo.bgr.size(); ++i)
        total += std::abs(int{jpeg->bgr[i]} - int{photo.bgr[i]});
    EXPECT_LT(total / photo.bgr.size(), 3.0) << "quality 90";
}

TEST(FitToPhoto, KeepsTheAspectRatioAndFillsTheRestBlack) {
    tools::Image tall(100, 400);  // 1:4: 61 pixels wide on the photo (130 to 190)
    for (int y = 0; y < tall.height; ++y)
        for (int x = 0; x < tall.width; ++x)
            tall.Set(x, y, 255, 255, 255);
    const tools::Image photo = cli::FitToPhoto(tall);
    ASSERT_EQ(photo.width, 322);
    ASSERT_EQ(photo.height, 242);
    EXPECT_EQ(Rgb(photo, 129, 0), 0u);
    EXPECT_EQ(Rgb(photo, 131, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(photo, 161, 241), 0xFFFFFFu);
    EXPECT_EQ(Rgb(photo, 189, 120), 0xFFFFFFu);
    EXPECT_EQ(Rgb(photo, 192, 120), 0u);

    // Shrinking averages: a fine black and white stripe pattern becomes grey.
    tools::Image stripes(644, 484);
    for (int y = 0; y < stripes.height; ++y)
        for (int x = 0; x < stripes.width; ++x)
            if (x % 2)
                stripes.Set(x, y, 255, 255, 255);
    const tools::Image grey = cli::FitToPhoto(stripes);
    EXPECT_NEAR(grey.At(100, 100)[0], 128, 1);

    const tools::Image same = tools::SamplePhotos()[3].image;
    EXPECT_EQ(cli::FitToPhoto(same).bgr, same.bgr);
}

TEST(PhotoNames, IdsIgnoreThePixelsPastTheSlot) {
    tools::Image a = tools::SamplePhotos()[0].image;
    tools::Image b = a;
    b.Set(300, 241, 1, 2, 3);  // past the slot: not on the card
    EXPECT_EQ(cli::PhotoId(a), cli::PhotoId(b));
    EXPECT_EQ(cli::PhotoId(a).size(), 12u);
    b.Set(221, 241, 1, 2, 3);  // the last stored pixel
    EXPECT_NE(cli::PhotoId(a), cli::PhotoId(b));
    EXPECT_NE(cli::PhotoId(a), cli::PhotoId(tools::SamplePhotos()[1].image));
}

TEST(PhotoNames, PatternsExpandTheirFields) {
    cli::PhotoNameFields f;
    f.number = 7;
    f.id = "0123456789ab";
    f.extension = "jpg";
    f.time.tm_year = 124, f.time.tm_mon = 11, f.time.tm_mday = 31;
    f.time.tm_hour = 23, f.time.tm_min = 5, f.time.tm_sec = 9;
    EXPECT_EQ(cli::ExpandNamePattern("photo-%i.%C", f), "photo-0123456789ab.jpg");
    EXPECT_EQ(cli::ExpandNamePattern("%Y/%m/%d/%H%M%S-%3n-%n%%.%C", f),
              "2024/12/31/230509-007-7%.jpg");
    std::string error;
    EXPECT_TRUE(cli::CheckNamePattern("%Y/%m/%d/%3n.%C", &error)) << error;
    for (const char* bad : {"", "%Y.png", "x-%q-%i", "%i%", "%3i", "/tmp/%i", "%i/"}) {
        EXPECT_FALSE(cli::CheckNamePattern(bad, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

class BoundedFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/quorbit-cli-input-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

// The ctest entry's time limit bounds these: a blocking open would hang it.
TEST_F(BoundedFile, RefusesWhatIsNoRegularFileWithoutWaiting) {
    std::string error;
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(cli::ReadBoundedFile(fifo, 1000, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(cli::ReadBoundedFile("/dev/zero", 1000, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
    EXPECT_FALSE(cli::ReadBoundedFile(dir_, 1000, &error));
    EXPECT_FALSE(cli::ReadBoundedFile(dir_ + "/missing", 1000, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos);
}

TEST_F(BoundedFile, ReadsNoMoreThanItTakes) {
    const std::string big = dir_ + "/big";
    ASSERT_EQ(truncate((big).c_str(), 0), -1);  // not there yet
    ASSERT_TRUE(tools::WriteWholeFile(big, {}, nullptr));
    ASSERT_EQ(truncate(big.c_str(), off_t{1} << 40), 0);  // a terabyte, sparse
    std::string error;
    EXPECT_FALSE(cli::ReadBoundedFile(big, cli::kMaxPictureFileBytes, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    const std::string small = dir_ + "/small";
    ASSERT_TRUE(tools::WriteWholeFile(small, {1, 2, 3}, nullptr));
    const auto bytes = cli::ReadBoundedFile(small, 3, &error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ(*bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(cli::ReadBoundedFile(small, 2, &error));
}

}  // namespace
