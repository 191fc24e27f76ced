// Layout of made cards, and the picture conversions behind them.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/card_maker.h"
#include "sim/image_file.h"
#include "testsupport/temp_dir.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

RgbImage Gradient(int w, int h, int seed) {
    RgbImage img(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = img.at(x, y);
            p[0] = static_cast<uint8_t>(x + seed);
            p[1] = static_cast<uint8_t>(y * 3 + seed);
            p[2] = static_cast<uint8_t>((x ^ y) + seed);
        }
    }
    return img;
}

std::vector<uint8_t> ReadCard(const CardImage& card, uint64_t at, size_t n) {
    std::vector<uint8_t> out(n);
    std::string error;
    EXPECT_TRUE(card.Read(at, out, &error)) << error;
    return out;
}

using testsupport::TempDir;

class MadeCardLayout : public ::testing::TestWithParam<Variant> {};

TEST_P(MadeCardLayout, HeaderDirectoryPhotosAndErasedRest) {
    const Variant v = GetParam();
    const Geometry& g = GeometryOf(v);
    const std::vector<RgbImage> photos = {Gradient(322, 242, 0), Gradient(322, 242, 50),
                                          Gradient(322, 242, 100)};
    std::string error;
    auto card = MakeCardInMemory(v, photos, &error);
    ASSERT_TRUE(card) << error;

    const auto sys = ReadCard(*card, g.system_block_offset, g.page_bytes + 16 * 4);
    const std::string header(g.little_endian ? "ZPX PHOTO CAM IMAGE V1.0"
                                             : "ZPX PHOTO CAM IMAGE V1.5");
    EXPECT_EQ(std::string(sys.begin(), sys.begin() + 24), header);
    for (size_t i = 24; i < 256; ++i)
        ASSERT_EQ(sys[i], 0) << i;
    EXPECT_EQ(sys[256], 3);
    EXPECT_EQ(sys[257], 0);
    EXPECT_EQ(sys[258] | (sys[259] << 8), g.max_photos);
    for (size_t i = 260; i < 512; ++i)
        ASSERT_EQ(sys[i], 0) << i;
    for (size_t i = 512; i < g.page_bytes; ++i)
        ASSERT_EQ(sys[i], 0xFF) << i;
    for (size_t e = 0; e < 4; ++e) {
        const uint8_t* entry = &sys[g.page_bytes + 16 * e];
        std::vector<uint8_t> expected(16, 0xFF);
        if (e < 3) {
            std::fill(expected.begin(), expected.begin() + 8, 0);
            expected[8] = static_cast<uint8_t>(e);
            expected[9] = 0;
        }
        EXPECT_EQ(std::vector<uint8_t>(entry, entry + 16), expected) << "entry " << e;
    }

    for (size_t slot = 0; slot < 3; ++slot) {
        const auto stored = ReadCard(*card, slot * g.slot_bytes, kSlotPhotoBytes);
        const RgbImage back = RgbFromRawPhoto(stored);
        const std::vector<uint8_t> second = SecondGreenFromRawPhoto(stored);
        for (int y = 0; y < kPhotoHeight; ++y) {
            for (int x = 0; x < kPhotoWidth; ++x) {
                if (y == kPhotoHeight - 1 && x >= kStoredPixelsOfLastRow)
                    continue;
                const uint8_t* want = photos[slot].at(x, y);
                ASSERT_EQ(0, std::memcmp(back.at(x, y), want, 3)) << slot << " " << x << "," << y;
                const int below = photos[slot].at(x, std::min(y + 1, kPhotoHeight - 1))[1];
                ASSERT_EQ(second[y * kPhotoWidth + x], (want[1] + below + 1) / 2);
            }
        }
    }

    // Everything else is erased: the gaps after the photos, the 128 MB
    // slots' tails, and the system block past the directory.
    const uint64_t photos_end = 2 * g.slot_bytes + kSlotPhotoBytes;
    const uint64_t dir_end = g.system_block_offset + g.page_bytes + 16 * 3;
    constexpr uint64_t kWindow = 1 << 20;  // read the card a window at a time
    for (uint64_t base = 0; base < g.card_bytes; base += kWindow) {
        const auto window = ReadCard(*card, base, kWindow);
        for (uint64_t j = 0; j < kWindow; ++j) {
            const uint64_t i = base + j;
            const bool in_photo = i < photos_end && i % g.slot_bytes < kSlotPhotoBytes;
            const bool in_system = i >= g.system_block_offset && i < dir_end;
            if (in_photo || in_system)
                continue;
            ASSERT_EQ(window[j], 0xFF) << VariantName(v) << " byte 0x" << std::hex << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllVariants, MadeCardLayout, ::testing::ValuesIn(kAllVariants),
                         [](const auto& info) { return std::string(VariantName(info.param)); });

TEST(MadeCard, SystemBlockWhereTheFormatWritesIt) {
    const std::pair<Variant, uint64_t> expected[] = {
        {Variant::k8MbLe, 0x7FE000},  {Variant::k16MbLe, 0xFFE000}, {Variant::k8Mb, 0x7FE000},
        {Variant::k16Mb, 0xFFC000},   {Variant::k32Mb, 0x1FFC000},  {Variant::k64Mb, 0x3FFC000},
        {Variant::k128Mb, 0x7FE0000},
    };
    for (auto [v, offset] : expected)
        EXPECT_EQ(GeometryOf(v).system_block_offset, offset);
    EXPECT_EQ(PhotoSlotOffset(Variant::k128Mb, 5), 0x1E0000u);
    EXPECT_EQ(PhotoSlotOffset(Variant::k16Mb, 5), 0x17C000u);
    const auto h32 = HeaderPage(Variant::k32Mb, 0);
    EXPECT_EQ(std::vector<uint8_t>(h32.begin() + 256, h32.begin() + 260),
              (std::vector<uint8_t>{0, 0, 0x68, 0}));
    const auto h128 = HeaderPage(Variant::k128Mb, 0);
    EXPECT_EQ(std::vector<uint8_t>(h128.begin() + 256, h128.begin() + 260),
              (std::vector<uint8_t>{0, 0, 0x54, 0x01}));
    EXPECT_EQ(h128[24], 0);
}

TEST(MadeCard, TooManyPhotosIsRefusedBeforeTouchingTheFile) {
    TempDir dir;
    const std::string path = dir.File("card.img");
    { std::ofstream(path) << "keep me"; }
    std::string error;
    std::vector<RgbImage> photos(27, Gradient(4, 3, 0));
    EXPECT_FALSE(MakeCardFromImages(path, Variant::k8Mb, photos, &error));
    EXPECT_NE(error.find("26"), std::string::npos);
    EXPECT_EQ(fs::file_size(path), 7u);
}

TEST(MadeCard, BlankCardIsAllErased) {
    TempDir dir;
    const std::string path = dir.File("blank.img");
    std::string error;
    ASSERT_TRUE(MakeBlankCard(path, Variant::k8MbLe, &error)) << error;
    auto card = CardImage::Open(path, 8 * 1024 * 1024, &error);
    ASSERT_TRUE(card) << error;
    const auto all = ReadCard(*card, 0, card->size());
    EXPECT_EQ(std::count(all.begin(), all.end(), 0xFF), static_cast<long>(all.size()));
}

// --- pictures from files ---

void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// A 24-bit BMP with `gap` extra bytes between the headers and the pixels.
std::vector<uint8_t> MakeBmp(const RgbImage& img, bool top_down, uint32_t gap) {
    const uint32_t stride = (img.width * 3 + 3) & ~3u;
    const uint32_t offset = 54 + gap;
    std::vector<uint8_t> f(offset + stride * img.height, 0xEE);
    f[0] = 'B';
    f[1] = 'M';
    PutU32(f, 2, static_cast<uint32_t>(f.size()));
    PutU32(f, 6, 0);
    PutU32(f, 10, offset);
    PutU32(f, 14, 40);
    PutU32(f, 18, img.width);
    PutU32(f, 22, top_down ? static_cast<uint32_t>(-img.height) : img.height);
    f[26] = 1;
    f[27] = 0;
    f[28] = 24;
    f[29] = 0;
    for (size_t i = 30; i < 54; ++i)
        f[i] = 0;
    for (int y = 0; y < img.height; ++y) {
        const int row = top_down ? y : img.height - 1 - y;
        for (int x = 0; x < img.width; ++x) {
            uint8_t* d = &f[offset + row * stride + 3 * x];
            d[0] = img.at(x, y)[2];
            d[1] = img.at(x, y)[1];
            d[2] = img.at(x, y)[0];
        }
    }
    return f;
}

std::vector<uint8_t> MakeJpeg(const RgbImage& img) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = img.width;
    cinfo.image_height = img.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(img.at(0, cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(PictureFiles, BmpInBothRowOrdersHonoursThePixelOffset) {
    const RgbImage img = Gradient(7, 5, 3);
    for (bool top_down : {false, true}) {
        std::string error;
        auto decoded = DecodeBmp(MakeBmp(img, top_down, 10), &error);
        ASSERT_TRUE(decoded) << error;
        EXPECT_EQ(decoded->width, 7);
        EXPECT_EQ(decoded->height, 5);
        EXPECT_EQ(decoded->rgb, img.rgb) << "top_down " << top_down;
    }
}

TEST(PictureFiles, MalformedBmpsAreRefused) {
    const RgbImage img = Gradient(7, 5, 3);
    std::string error;
    auto truncated = MakeBmp(img, false, 0);
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(DecodeBmp(truncated, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos);

    auto huge = MakeBmp(img, false, 0);
    PutU32(huge, 18, 0x7FFFFFFF);
    PutU32(huge, 22, 0x7FFFFFFF);
    EXPECT_FALSE(DecodeBmp(huge, &error));

    auto bad_offset = MakeBmp(img, false, 0);
    PutU32(bad_offset, 10, 0xFFFFFFF0);
    EXPECT_FALSE(DecodeBmp(bad_offset, &error));

    auto rle = MakeBmp(img, false, 0);
    rle[30] = 1;
    EXPECT_FALSE(DecodeBmp(rle, &error));
    EXPECT_FALSE(DecodeBmp(std::vector<uint8_t>{'B', 'M'}, &error));
}

TEST(PictureFiles, JpegDecodesCloseToTheOriginalAndBadJpegIsAnError) {
    RgbImage img(64, 48);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = img.at(x, y);
            p[0] = 200;
            p[1] = static_cast<uint8_t>(x * 2);
            p[2] = 40;
        }
    }
    std::string error;
    const auto jpeg = MakeJpeg(img);
    auto decoded = DecodeJpeg(jpeg, &error);
    ASSERT_TRUE(decoded) << error;
    ASSERT_EQ(decoded->width, 64);
    ASSERT_EQ(decoded->height, 48);
    for (size_t i = 0; i < img.rgb.size(); ++i) {
        ASSERT_NEAR(decoded->rgb[i], img.rgb[i], 12) << i;
    }
    std::vector<uint8_t> garbage = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x13, 0x37};
    EXPECT_FALSE(DecodeJpeg(garbage, &error));
    EXPECT_NE(error.find("JPEG"), std::string::npos);
}

TEST(PictureFiles, MakeCardReadsBmpAndJpegAndKeepsTheOldCardOnBadInput) {
    TempDir dir;
    const RgbImage bmp_img = Gradient(322, 242, 7);
    WriteFile(dir.File("a.bmp"), MakeBmp(bmp_img, false, 0));
    WriteFile(dir.File("b.jpg"), MakeJpeg(Gradient(644, 484, 9)));
    WriteFile(dir.File("bad.jpg"), {0xFF, 0xD8, 0x00});
    const std::string path = dir.File("card.img");
    std::string error;
    ASSERT_TRUE(MakeCard(path, Variant::k16Mb, {dir.File("a.bmp"), dir.File("b.jpg")}, &error))
        << error;
    auto card = CardImage::Open(path, GeometryOf(Variant::k16Mb).card_bytes, &error);
    ASSERT_TRUE(card) << error;
    const auto slot0 = ReadCard(*card, 0, kSlotPhotoBytes);
    EXPECT_EQ(RgbFromRawPhoto(slot0).at(100, 100)[0], bmp_img.at(100, 100)[0]);
    EXPECT_EQ(ReadCard(*card, 0xFFC000 + 256, 1)[0], 2);
    const auto before = ReadCard(*card, 0, 64);
    card.reset();

    EXPECT_FALSE(MakeCard(path, Variant::k16Mb, {dir.File("a.bmp"), dir.File("bad.jpg")}, &error));
    EXPECT_NE(error.find("bad.jpg"), std::string::npos);
    EXPECT_FALSE(MakeCard(path, Variant::k16Mb, {dir.File("missing.bmp")}, &error));
    card = CardImage::Open(path, GeometryOf(Variant::k16Mb).card_bytes, &error);
    ASSERT_TRUE(card) << error;
    EXPECT_EQ(ReadCard(*card, 0, 64), before);
    EXPECT_FALSE(fs::exists(path + ".partial"));
}

TEST(Scaling, ShrinksByAreaKeepsAspectAndPassesExactSizeThrough) {
    // 2x2 blocks of one colour shrink to that colour exactly.
    RgbImage big(644, 484);
    for (int y = 0; y < 484; ++y) {
        for (int x = 0; x < 644; ++x) {
            const uint8_t v = static_cast<uint8_t>((x / 2 + y / 2) * 5);
            big.at(x, y)[0] = big.at(x, y)[1] = big.at(x, y)[2] = v;
        }
    }
    const RgbImage small = ScaleToFit(big, 322, 242);
    for (int y = 0; y < 242; ++y) {
        for (int x = 0; x < 322; ++x) {
            ASSERT_EQ(small.at(x, y)[0], static_cast<uint8_t>((x + y) * 5));
        }
    }
    // A tall picture is centred between black bars.
    RgbImage tall(100, 484);
    std::fill(tall.rgb.begin(), tall.rgb.end(), 200);
    const RgbImage fitted = ScaleToFit(tall, 322, 242);
    EXPECT_EQ(fitted.at(0, 120)[0], 0);
    EXPECT_EQ(fitted.at(161, 120)[0], 200);
    EXPECT_EQ(fitted.at(321, 120)[0], 0);
    // Enlarging fills the whole frame.
    RgbImage tiny(161, 121);
    std::fill(tiny.rgb.begin(), tiny.rgb.end(), 90);
    const RgbImage grown = ScaleToFit(tiny, 322, 242);
    EXPECT_EQ(grown.at(0, 0)[1], 90);
    EXPECT_EQ(grown.at(321, 241)[1], 90);
    const RgbImage same = Gradient(322, 242, 1);
    EXPECT_EQ(ScaleToFit(same, 322, 242).rgb, same.rgb);
}

}  // namespace
}  // namespace sim
