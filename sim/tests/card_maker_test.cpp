// Layout of made cards, and the picture files they are made from.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "picture/codecs.h"
#include "picture/raw_photo.h"
#include "sim/card_maker.h"
#include "testsupport/temp_dir.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

picture::Picture Gradient(int w, int h, int seed) {
    picture::Picture img(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = img.At(x, y);
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
    const std::vector<picture::Picture> photos = {Gradient(322, 242, 0), Gradient(322, 242, 50),
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
        const auto stored = ReadCard(*card, slot * g.slot_bytes, picture::kSlotPhotoBytes);
        const picture::Picture back = picture::PictureFromRaw(stored);
        for (int y = 0; y < picture::kPhotoHeight; ++y) {
            for (int x = 0; x < picture::kPhotoWidth; ++x) {
                if (y == picture::kPhotoHeight - 1 && x >= picture::kStoredPixelsOfLastRow)
                    continue;
                const uint8_t* want = photos[slot].At(x, y);
                ASSERT_EQ(0, std::memcmp(back.At(x, y), want, 3)) << slot << " " << x << "," << y;
                const int below = photos[slot].At(x, std::min(y + 1, picture::kPhotoHeight - 1))[1];
                const uint8_t second = stored[y * picture::kRawRowBytes + 4 * x + 1];
                ASSERT_EQ(second, (want[1] + below + 1) / 2);
            }
        }
    }

    // Everything else is erased: the gaps after the photos, the 128 MB
    // slots' tails, and the system block past the directory.
    const uint64_t photos_end = 2 * g.slot_bytes + picture::kSlotPhotoBytes;
    const uint64_t dir_end = g.system_block_offset + g.page_bytes + 16 * 3;
    constexpr uint64_t kWindow = 1 << 20;  // read the card a window at a time
    for (uint64_t base = 0; base < g.card_bytes; base += kWindow) {
        const auto window = ReadCard(*card, base, kWindow);
        for (uint64_t j = 0; j < kWindow; ++j) {
            const uint64_t i = base + j;
            const bool in_photo = i < photos_end && i % g.slot_bytes < picture::kSlotPhotoBytes;
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
    std::vector<picture::Picture> photos(27, Gradient(4, 3, 0));
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
std::vector<uint8_t> MakeBmp(const picture::Picture& img, bool top_down, uint32_t gap) {
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
            d[0] = img.At(x, y)[2];
            d[1] = img.At(x, y)[1];
            d[2] = img.At(x, y)[0];
        }
    }
    return f;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(PictureFiles, MakeCardReadsPicturesAndKeepsTheOldCardOnADamagedOne) {
    TempDir dir;
    const picture::Picture bmp_img = Gradient(322, 242, 7);
    WriteFile(dir.File("a.bmp"), MakeBmp(bmp_img, true, 10));
    WriteFile(dir.File("b.jpg"), picture::EncodeJpeg(Gradient(644, 484, 9)));
    WriteFile(dir.File("bad.jpg"), {0xFF, 0xD8, 0x00});
    const std::vector<uint8_t> png = picture::EncodePng(Gradient(30, 20, 1));
    WriteFile(dir.File("cut.png"), std::vector<uint8_t>(png.begin(), png.end() - 20));
    const std::string path = dir.File("card.img");
    std::string error;
    ASSERT_TRUE(MakeCard(path, Variant::k16Mb, {dir.File("a.bmp"), dir.File("b.jpg")}, &error))
        << error;
    auto card = CardImage::Open(path, GeometryOf(Variant::k16Mb).card_bytes, &error);
    ASSERT_TRUE(card) << error;
    const auto slot0 = ReadCard(*card, 0, picture::kSlotPhotoBytes);
    const std::vector<uint8_t> raw = picture::RawFromPicture(bmp_img, picture::SecondGreen::kZero);
    EXPECT_EQ(picture::PictureFromRaw(slot0).rgb,
              picture::PictureFromRaw(std::span(raw).first(picture::kSlotPhotoBytes)).rgb)
        << "the bitmap's pixels, its pixel offset and row order honoured";
    EXPECT_EQ(ReadCard(*card, 0xFFC000 + 256, 1)[0], 2);
    const auto before = ReadCard(*card, 0, 64);
    card.reset();

    for (const char* bad : {"bad.jpg", "cut.png"}) {
        EXPECT_FALSE(MakeCard(path, Variant::k16Mb, {dir.File("a.bmp"), dir.File(bad)}, &error));
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
    EXPECT_FALSE(MakeCard(path, Variant::k16Mb, {dir.File("missing.bmp")}, &error));
    card = CardImage::Open(path, GeometryOf(Variant::k16Mb).card_bytes, &error);
    ASSERT_TRUE(card) << error;
    EXPECT_EQ(ReadCard(*card, 0, 64), before);
    EXPECT_FALSE(fs::exists(path + ".partial"));
}

}  // namespace
}  // namespace sim
