// The picture wing's codecs: every bitmap depth, PNG and JPEG, damaged files
// refused unless leniency is asked for, the size limits, fitting a picture to
// the photo size and the raw photo layout.
#include <gtest/gtest.h>
#include <jerror.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/codecs.h"
#include "picture/fit_photo.h"
#include "picture/raw_photo.h"

namespace {

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

// A decoded pixel as 0xRRGGBB.
uint32_t Rgb(const picture::Picture& image, int x, int y) {
    const uint8_t* p = image.At(x, y);
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

// A smooth picture (JPEG keeps it close), different in every pixel's colour.
picture::Picture Smooth(int w, int h, int seed = 0) {
    picture::Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.Set(x, y, static_cast<uint8_t>(x * 255 / w), static_cast<uint8_t>(y * 255 / h),
                  static_cast<uint8_t>((x + y + seed * 40) / 3));
    return p;
}

TEST(PictureFiles, BitmapsOfEveryDepth) {
    std::string error;
    // 1 bit: a checker of two palette colours.
    BmpBuilder one{5, 3, 1};
    one.palette = {0x102030, 0xF0E0D0};
    auto image = picture::DecodeBmp(one.Build([](int x, int y) { return (x + y) % 2; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 0, 0), 0x102030u);
    EXPECT_EQ(Rgb(*image, 1, 0), 0xF0E0D0u);
    EXPECT_EQ(Rgb(*image, 4, 2), 0x102030u);

    // 4 bits, top-down rows.
    BmpBuilder four{3, 2, 4};
    four.top_down = true;
    for (uint32_t i = 0; i < 16; ++i)
        four.palette.push_back(i * 0x111111);
    image = picture::DecodeBmp(four.Build([](int x, int y) { return x + 3 * y; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 2, 1), 5 * 0x111111u);

    // 8 bits.
    BmpBuilder eight{4, 2, 8};
    for (uint32_t i = 0; i < 256; ++i)
        eight.palette.push_back(i << 8);
    image = picture::DecodeBmp(eight.Build([](int x, int y) { return 100 + x + y; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 3, 1), 104u << 8);

    // 16 bits, default 5-5-5: full red.
    BmpBuilder sixteen{2, 2, 16};
    image = picture::DecodeBmp(sixteen.Build([](int, int) { return 0x7C00; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 1, 1), 0xFF0000u);

    // 16 bits, 5-6-5 bit fields: full green.
    BmpBuilder rgb565{2, 2, 16, 3};
    rgb565.masks = {0xF800, 0x07E0, 0x001F};
    image = picture::DecodeBmp(rgb565.Build([](int, int) { return 0x07E0; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 0, 0), 0x00FF00u);

    // 32 bits, BGRX.
    BmpBuilder thirty_two{3, 1, 32};
    image = picture::DecodeBmp(thirty_two.Build([](int x, int) { return 0xFF123456 + x; }), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(Rgb(*image, 2, 0), 0x123458u);

    // 24 bits, as the library writes them.
    picture::Picture photo = Smooth(322, 242, 0);
    image = picture::Decode(picture::EncodeBmp(photo), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->rgb, photo.rgb);
}

TEST(PictureFiles, DamagedOrUnknownFilesAreRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(picture::Decode(std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a'}, &error));
    EXPECT_NE(error.find("not a picture"), std::string::npos);

    BmpBuilder rle{4, 4, 8, 1};
    rle.palette = {0};
    EXPECT_FALSE(picture::DecodeBmp(rle.Build([](int, int) { return 0; }), &error));
    EXPECT_NE(error.find("compressed"), std::string::npos);

    BmpBuilder truncated{64, 64, 24};
    auto bytes = truncated.Build([](int, int) { return 0; });
    bytes.resize(bytes.size() / 2);
    EXPECT_FALSE(picture::Decode(bytes, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos);

    // Headers claiming a giant picture: refused before any pixel memory.
    BmpBuilder giant{1, 1, 24};
    bytes = giant.Build([](int, int) { return 0; });
    Put32(bytes, 18, 60000);
    Put32(bytes, 22, 60000);
    EXPECT_FALSE(picture::Decode(bytes, &error));
    EXPECT_NE(error.find("million pixels"), std::string::npos) << error;

    const auto png = picture::EncodePng(Smooth(322, 242, 1));
    std::vector<uint8_t> cut(png.begin(), png.begin() + static_cast<long>(png.size() / 2));
    EXPECT_FALSE(picture::Decode(cut, &error));
    const auto jpeg = picture::EncodeJpeg(Smooth(322, 242, 1));
    cut.assign(jpeg.begin(), jpeg.begin() + 200);
    EXPECT_FALSE(picture::Decode(cut, &error));
}

TEST(PictureFiles, PngIsLosslessAndJpegIsClose) {
    const picture::Picture photo = Smooth(322, 242, 2);
    std::string error;
    const auto png = picture::Decode(picture::EncodePng(photo), &error);
    ASSERT_TRUE(png) << error;
    EXPECT_EQ(png->rgb, photo.rgb);

    const auto jpeg_bytes = picture::EncodeJpeg(photo);
    ASSERT_GT(jpeg_bytes.size(), 1000u);
    const auto jpeg = picture::Decode(jpeg_bytes, &error);
    ASSERT_TRUE(jpeg) << error;
    ASSERT_EQ(jpeg->width, photo.width);
    double total = 0;
    for (size_t i = 0; i < photo.rgb.size(); ++i)
        total += std::abs(int{jpeg->rgb[i]} - int{photo.rgb[i]});
    EXPECT_LT(total / photo.rgb.size(), 3.0) << "quality 90";
}

TEST(FitToPhoto, KeepsTheAspectRatioAndFillsTheRestBlack) {
    picture::Picture tall(100, 400);  // 1:4: 61 pixels wide on the photo (130 to 190)
    for (int y = 0; y < tall.height; ++y)
        for (int x = 0; x < tall.width; ++x)
            tall.Set(x, y, 255, 255, 255);
    const picture::Picture photo = picture::FitToPhoto(tall);
    ASSERT_EQ(photo.width, 322);
    ASSERT_EQ(photo.height, 242);
    EXPECT_EQ(Rgb(photo, 129, 0), 0u);
    EXPECT_EQ(Rgb(photo, 131, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(photo, 161, 241), 0xFFFFFFu);
    EXPECT_EQ(Rgb(photo, 189, 120), 0xFFFFFFu);
    EXPECT_EQ(Rgb(photo, 192, 120), 0u);

    // Shrinking averages: a fine black and white stripe pattern becomes grey.
    picture::Picture stripes(644, 484);
    for (int y = 0; y < stripes.height; ++y)
        for (int x = 0; x < stripes.width; ++x)
            if (x % 2)
                stripes.Set(x, y, 255, 255, 255);
    const picture::Picture grey = picture::FitToPhoto(stripes);
    EXPECT_NEAR(grey.At(100, 100)[0], 128, 1);

    // Growing fills the whole frame when the aspect ratio is the photo's.
    picture::Picture tiny(161, 121);
    std::fill(tiny.rgb.begin(), tiny.rgb.end(), 90);
    const picture::Picture grown = picture::FitToPhoto(tiny);
    EXPECT_EQ(Rgb(grown, 0, 0), 0x5A5A5Au);
    EXPECT_EQ(Rgb(grown, 321, 241), 0x5A5A5Au);

    const picture::Picture same = Smooth(322, 242, 3);
    EXPECT_EQ(picture::FitToPhoto(same).rgb, same.rgb);
}

picture::Picture Pattern(int w, int h) {
    picture::Picture img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Set(x, y, x * 7, y * 5, (x ^ y) & 0xFF);
    return img;
}

TEST(Bmp, RoundTripAndRowPadding) {
    const auto img = Pattern(picture::kPhotoWidth, picture::kPhotoHeight);
    const auto bytes = picture::EncodeBmp(img);
    // The library's own photo bitmaps have the same size: 54 + 242 * 968.
    EXPECT_EQ(bytes.size(), 234310u);
    std::string error;
    const auto back = picture::DecodeBmp(bytes, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->rgb, img.rgb);
    // Bottom-up: the first stored row is the picture's last.
    EXPECT_EQ(bytes[54 + 0], img.At(0, picture::kPhotoHeight - 1)[2]);
}

TEST(Bmp, TopDownFilesAndLargerHeaders) {
    const auto img = Pattern(5, 3);
    auto bytes = picture::EncodeBmp(img);
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
    const auto back = picture::DecodeBmp(td, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->rgb, img.rgb);
}

// Where a marker starts in a JPEG file (the first one of the code).
size_t MarkerAt(const std::vector<uint8_t>& jpeg, uint8_t code) {
    for (size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code)
            return i;
    return 0;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> file, size_t keep) {
    file.resize(keep);
    return file;
}

// Damage of each kind: refused by default with a reason; leniency decodes
// what the decoder can make of it.
TEST(DamagedFiles, AreRefusedUnlessLeniencyIsAskedFor) {
    const picture::Picture photo = Smooth(64, 48);
    const std::vector<uint8_t> jpeg = picture::EncodeJpeg(photo);
    const std::vector<uint8_t> png = picture::EncodePng(photo);
    const std::vector<uint8_t> bmp = picture::EncodeBmp(photo);
    // Garbage between two header segments: libjpeg only warns about it.
    std::vector<uint8_t> stray = jpeg;
    const size_t sof = MarkerAt(jpeg, 0xC0);
    ASSERT_GT(sof, 0u);
    stray.insert(stray.begin() + static_cast<long>(sof), {0x12, 0x34, 0x56});
    // A text chunk with a wrong checksum after the header chunk: an ancillary
    // chunk, so libpng only warns.
    std::vector<uint8_t> bad_crc = png;
    const uint8_t text[] = {0, 0, 0, 3, 't', 'E', 'X', 't', 'a', 0, 'b', 0xDE, 0xAD, 0xBE, 0xEF};
    bad_crc.insert(bad_crc.begin() + 8 + 25, std::begin(text), std::end(text));

    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        const char* reason;  // in the strict error
        bool lenient_decodes;
    } cases[] = {
        {"JPEG cut short", Cut(jpeg, jpeg.size() * 2 / 3), "Premature end", true},
        {"JPEG with stray bytes", stray, "extraneous bytes", true},
        {"JPEG cut in its header", Cut(jpeg, 200), "JPEG", false},
        {"PNG with a bad checksum", bad_crc, "CRC", true},
        {"PNG cut short", Cut(png, png.size() / 2), "PNG", false},
        {"bitmap cut short", Cut(bmp, bmp.size() - 1), "truncated", true},
        {"bitmap without its palette", Cut(bmp, 40), "truncated", false},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(picture::Decode(c.file, &error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        picture::DecodeOptions lenient;
        lenient.lenient = true;
        const auto decoded = picture::Decode(c.file, &error, lenient);
        EXPECT_EQ(decoded.has_value(), c.lenient_decodes) << c.name << ": " << error;
        if (decoded) {
            EXPECT_EQ(decoded->width, photo.width) << c.name;
            EXPECT_EQ(decoded->height, photo.height) << c.name;
        }
    }
}

TEST(DamagedFiles, ALenientBitmapKeepsTheRowsItHasAndLeavesTheRestBlack) {
    const picture::Picture photo = Smooth(8, 4);
    std::vector<uint8_t> bmp = picture::EncodeBmp(photo);
    bmp.resize(bmp.size() - 24);  // the last stored row (the top one) is missing
    picture::DecodeOptions lenient;
    lenient.lenient = true;
    std::string error;
    const auto decoded = picture::DecodeBmp(bmp, &error, lenient);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(Rgb(*decoded, 5, 0), 0u);
    EXPECT_EQ(Rgb(*decoded, 5, 1), Rgb(photo, 5, 1));
    EXPECT_EQ(Rgb(*decoded, 7, 3), Rgb(photo, 7, 3));
}

// A header claiming a vast picture is refused before pixel memory is taken,
// with libjpeg's own code for it.
TEST(Limits, AJpegClaimingMorePixelsThanItsBytesHoldIsRefused) {
    std::vector<uint8_t> jpeg = picture::EncodeJpeg(Smooth(16, 16));
    const size_t sof = MarkerAt(jpeg, 0xC0);
    ASSERT_GT(sof, 0u);
    struct Case {
        uint16_t width, height;
        uint64_t max_pixels;
        bool refused;
    } cases[] = {
        {60000, 60000, picture::kMaxPicturePixels, true},  // beyond the limit
        {4000, 4000, uint64_t{1} << 27, true},             // 16 M pixels in a few hundred bytes
        {1000, 1000, picture::kMaxPicturePixels, false},   // sparse but small: decodes grey
    };
    for (const Case& c : cases) {
        jpeg[sof + 5] = static_cast<uint8_t>(c.height >> 8);
        jpeg[sof + 6] = static_cast<uint8_t>(c.height);
        jpeg[sof + 7] = static_cast<uint8_t>(c.width >> 8);
        jpeg[sof + 8] = static_cast<uint8_t>(c.width);
        picture::DecodeOptions options;
        options.lenient = true;
        options.max_pixels = c.max_pixels;
        std::string error;
        int code = 0;
        const bool decoded = picture::DecodeJpeg(jpeg, &error, options, &code).has_value();
        EXPECT_EQ(decoded, !c.refused) << c.width << ": " << error;
        if (c.refused) {
            EXPECT_EQ(code, JERR_IMAGE_TOO_BIG) << c.width;
        }
    }
}

TEST(JpegOutput, ScalesAndTurnsGreyOnRequest) {
    const std::vector<uint8_t> jpeg = picture::EncodeJpeg(Smooth(64, 48));
    picture::DecodeOptions options;
    options.jpeg.scale_denominator = 4;
    options.jpeg.grayscale = true;
    std::string error;
    const auto small = picture::DecodeJpeg(jpeg, &error, options);
    ASSERT_TRUE(small) << error;
    EXPECT_EQ(small->width, 16);
    EXPECT_EQ(small->height, 12);
    for (size_t i = 0; i < small->rgb.size(); i += 3) {
        ASSERT_EQ(small->rgb[i], small->rgb[i + 1]) << i;
        ASSERT_EQ(small->rgb[i], small->rgb[i + 2]) << i;
    }
    options.jpeg.scale_denominator = 3;  // not one libjpeg offers: full size
    EXPECT_EQ(picture::DecodeJpeg(jpeg, &error, options)->width, 64);
}

TEST(Png, StoredFilesHaveALengthThatDependsOnlyOnTheSize) {
    const auto stored = picture::EncodePng(Smooth(322, 242), picture::PngCompression::kStored);
    EXPECT_EQ(stored.size(), picture::StoredPngFileBytes(322, 242));
    EXPECT_EQ(
        picture::EncodePng(picture::Picture(322, 242), picture::PngCompression::kStored).size(),
        stored.size());
    EXPECT_LT(picture::EncodePng(Smooth(322, 242)).size(), stored.size());
    picture::Picture broken(10, 10);
    broken.rgb.resize(7);
    EXPECT_TRUE(picture::EncodePng(broken).empty());
    EXPECT_TRUE(picture::EncodeJpeg(broken).empty());
    EXPECT_TRUE(picture::EncodeBmp(broken).empty());
}

TEST(RawPhoto, HoldsBlueBothGreensAndRedAndComesBack) {
    const picture::Picture photo = Smooth(322, 242);
    const std::vector<uint8_t> zero = picture::RawFromPicture(photo, picture::SecondGreen::kZero);
    const std::vector<uint8_t> sensor =
        picture::RawFromPicture(photo, picture::SecondGreen::kHalfRowLower);
    ASSERT_EQ(zero.size(), picture::kRawPhotoBytes);
    const uint8_t* p = photo.At(5, 7);
    const uint8_t* below = photo.At(5, 8);
    const size_t at = 7 * picture::kRawRowBytes + 5 * picture::kRawPixelBytes;
    EXPECT_EQ(zero[at + 0], p[2]);
    EXPECT_EQ(zero[at + 1], 0);
    EXPECT_EQ(zero[at + 2], p[1]);
    EXPECT_EQ(zero[at + 3], p[0]);
    EXPECT_EQ(sensor[at + 1], (p[1] + below[1] + 1) / 2);
    // The bottom row's second green is its own green: there is no row below.
    const size_t last = 241 * picture::kRawRowBytes;
    EXPECT_EQ(sensor[last + 1], sensor[last + 2]);
    EXPECT_EQ(picture::PictureFromRaw(sensor).rgb, photo.rgb);

    // A slot holds the image but for the last 100 pixels: they come back black.
    const std::vector<uint8_t> slot(sensor.begin(), sensor.begin() + picture::kSlotPhotoBytes);
    const picture::Picture from_slot = picture::PictureFromRaw(slot);
    EXPECT_EQ(Rgb(from_slot, picture::kStoredPixelsOfLastRow - 1, 241),
              Rgb(photo, picture::kStoredPixelsOfLastRow - 1, 241));
    EXPECT_EQ(Rgb(from_slot, picture::kStoredPixelsOfLastRow, 241), 0u);

    // Any other size is fitted first, as put does it.
    const picture::Picture wide = Smooth(644, 100);
    EXPECT_EQ(
        picture::PictureFromRaw(picture::RawFromPicture(wide, picture::SecondGreen::kZero)).rgb,
        picture::FitToPhoto(wide).rgb);
}

}  // namespace
