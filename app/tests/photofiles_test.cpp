#include "app/photofiles.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/bitmapfile.h"
#include "testsupport/cjpeg.h"
#include "testsupport/files.h"

namespace fs = std::filesystem;
using lensmere::ConversionError;
using lensmere::InOutError;

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8);
}

// A raw photo whose four bytes differ from pixel to pixel and from each other,
// in a buffer as large as the window's photo buffer.
std::vector<uint8_t> PatternPhoto(unsigned seed = 7) {
    std::vector<uint8_t> raw(0x80000);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<uint8_t>(rng());
    return raw;
}

const uint8_t* RawPixel(const std::vector<uint8_t>& raw, int x, int r) {
    return raw.data() + r * 1288 + 4 * x;
}

class PhotoFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("photofiles_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string At(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

void ExpectHeader(const std::vector<uint8_t>& b, uint32_t size, int width, int height) {
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), size);
    EXPECT_EQ(U32(b, 6), 0u);
    EXPECT_EQ(U32(b, 10), 54u);
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(U32(b, 18), static_cast<uint32_t>(width));
    EXPECT_EQ(U32(b, 22), static_cast<uint32_t>(height));
    EXPECT_EQ(U16(b, 26), 1);
    EXPECT_EQ(U16(b, 28), 24);
    EXPECT_EQ(U32(b, 30), 0u);
    EXPECT_EQ(U32(b, 34), size - 54);
    EXPECT_EQ(U32(b, 38), 50190u);
    EXPECT_EQ(U32(b, 42), 50190u);
    EXPECT_EQ(U32(b, 46), 0u);
    EXPECT_EQ(U32(b, 50), 0u);
}

TEST_F(PhotoFilesTest, BitmapIsBottomUpWithGreenFromByteTwo) {
    auto raw = PatternPhoto();
    lensmere::WriteBitmap(At("TEMP.BMP"), raw);
    auto b = testsupport::ReadWholeFile(At("TEMP.BMP")).value();
    ASSERT_EQ(b.size(), 234310u);
    ExpectHeader(b, 234310, 322, 242);
    for (int stored = 0; stored < 242; ++stored) {
        const int r = 241 - stored;
        const uint8_t* row = b.data() + 54 + stored * 968;
        for (int x = 0; x < 322; ++x) {
            const uint8_t* p = RawPixel(raw, x, r);
            ASSERT_EQ(row[3 * x + 0], p[0]) << "blue x=" << x << " r=" << r;
            ASSERT_EQ(row[3 * x + 1], p[2]) << "green x=" << x << " r=" << r;
            ASSERT_EQ(row[3 * x + 2], p[3]) << "red x=" << x << " r=" << r;
        }
        ASSERT_EQ(row[966], 0);
        ASSERT_EQ(row[967], 0);
    }
}

TEST_F(PhotoFilesTest, DoubledBitmapTakesLowerGreenFromByteOne) {
    auto raw = PatternPhoto();
    lensmere::WriteDoubledBitmap(At("d.bmp"), raw);
    auto b = testsupport::ReadWholeFile(At("d.bmp")).value();
    ASSERT_EQ(b.size(), 935142u);
    ExpectHeader(b, 935142, 644, 484);
    for (int r = 0; r < 242; ++r) {
        // Stored bottom-up: raw row r is stored as rows 483-2r-1 (lower, first
        // of the pair) and 483-2r (upper).
        const uint8_t* lower = b.data() + 54 + (2 * (241 - r)) * 1932;
        const uint8_t* upper = lower + 1932;
        for (int x = 0; x < 644; ++x) {
            const uint8_t* p = RawPixel(raw, x / 2, r);
            ASSERT_EQ(lower[3 * x + 0], p[0]);
            ASSERT_EQ(lower[3 * x + 1], p[1]) << "lower green x=" << x << " r=" << r;
            ASSERT_EQ(lower[3 * x + 2], p[3]);
            ASSERT_EQ(upper[3 * x + 0], p[0]);
            ASSERT_EQ(upper[3 * x + 1], p[2]) << "upper green x=" << x << " r=" << r;
            ASSERT_EQ(upper[3 * x + 2], p[3]);
        }
    }
}

TEST_F(PhotoFilesTest, DoubledRowsAreEqualWhenBothGreensAgree) {
    auto raw = PatternPhoto(3);
    for (size_t i = 0; i + 3 < raw.size(); i += 4)
        raw[i + 1] = raw[i + 2];
    lensmere::WriteDoubledBitmap(At("d.bmp"), raw);
    auto b = testsupport::ReadWholeFile(At("d.bmp")).value();
    ASSERT_EQ(b.size(), 935142u);
    for (int pair = 0; pair < 242; ++pair) {
        const uint8_t* lower = b.data() + 54 + 2 * pair * 1932;
        ASSERT_TRUE(std::equal(lower, lower + 1932, lower + 1932)) << "pair " << pair;
    }
}

TEST_F(PhotoFilesTest, WritersReplaceAnExistingFile) {
    testsupport::WriteWholeFile(At("TEMP.BMP"), std::vector<uint8_t>(2'000'000, 0xAB));
    lensmere::WriteBitmap(At("TEMP.BMP"), PatternPhoto());
    EXPECT_EQ(fs::file_size(At("TEMP.BMP")), 234310u);
}

TEST_F(PhotoFilesTest, WriteFailuresCarryTheTextForTheirCode) {
    auto raw = PatternPhoto();
    try {
        lensmere::WriteBitmap(At("no/such/dir/TEMP.BMP"), raw);
        FAIL() << "no error";
    } catch (const InOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    try {
        lensmere::WriteDoubledBitmap(dir_.string(), raw);
        FAIL() << "no error";
    } catch (const InOutError& e) {
        EXPECT_STREQ(e.what(), "Invalid filename");
    }
    if (fs::exists("/dev/full")) {
        try {
            lensmere::WriteDoubledBitmap("/dev/full", raw);
            FAIL() << "no error";
        } catch (const InOutError& e) {
            EXPECT_STREQ(e.what(), "Disk full");
        }
        EXPECT_TRUE(fs::exists("/dev/full"));
    }
    EXPECT_EQ(lensmere::InOutErrorText(EACCES), "File access denied");
    EXPECT_EQ(lensmere::InOutErrorText(EMFILE), "Too many open files");
    EXPECT_EQ(lensmere::InOutErrorText(EIO), "I/O error 5");
}

TEST_F(PhotoFilesTest, JpegIsByteIdenticalToCjpeg) {
    for (bool doubled : {true, false}) {
        SCOPED_TRACE(doubled ? "doubled" : "normal");
        auto raw = PatternPhoto(doubled ? 11 : 12);
        // Smooth areas as well as noise, so that every coding path is used.
        for (int r = 0; r < 120; ++r)
            for (int x = 0; x < 322; ++x)
                for (int c = 0; c < 4; ++c)
                    raw[r * 1288 + 4 * x + c] = static_cast<uint8_t>(x / 2 + r + 40 * c);
        if (doubled) {
            lensmere::WriteDoubledBitmap(At("TEMP.BMP"), raw);
        } else {
            lensmere::WriteBitmap(At("TEMP.BMP"), raw);
        }
        lensmere::ConvertToJpeg(At("TEMP.BMP"), At("ours.jpg"));
        auto ours = testsupport::ReadWholeFile(At("ours.jpg")).value();
        auto theirs = testsupport::CjpegOf(At("TEMP.BMP"), dir_.string());
        ASSERT_FALSE(theirs.empty()) << "cjpeg did not run";
        ASSERT_GT(ours.size(), 1000u);
        EXPECT_EQ(ours[0], 0xFF);
        EXPECT_EQ(ours[1], 0xD8);
        EXPECT_TRUE(ours == theirs) << "ours " << ours.size() << " bytes, cjpeg " << theirs.size();
    }
}

TEST_F(PhotoFilesTest, ConversionErrorsNameTheProblem) {
    try {
        lensmere::ConvertToJpeg(At("missing.bmp"), At("x.jpg"));
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + At("missing.bmp"));
    }
    EXPECT_FALSE(fs::exists(At("x.jpg")));

    lensmere::WriteBitmap(At("good.bmp"), PatternPhoto());
    auto good = testsupport::ReadWholeFile(At("good.bmp")).value();
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back({good.begin(), good.begin() + 54 + 968 * 10});  // truncated pixels
    bad.push_back({'G', 'I', 'F', '8'});
    auto eight_bit = good;
    eight_bit[28] = 8;
    bad.push_back(eight_bit);
    auto compressed = good;
    compressed[30] = 1;
    bad.push_back(compressed);
    auto huge = good;
    huge[21] = 0x7F;  // width beyond any sane size
    bad.push_back(huge);
    for (size_t i = 0; i < bad.size(); ++i) {
        testsupport::WriteWholeFile(At("bad.bmp"), bad[i]);
        try {
            lensmere::ConvertToJpeg(At("bad.bmp"), At("x.jpg"));
            FAIL() << "case " << i;
        } catch (const ConversionError& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid") << "case " << i;
        }
        EXPECT_FALSE(fs::exists(At("x.jpg"))) << "case " << i;
    }

    try {
        lensmere::ConvertToJpeg(At("good.bmp"), At("no/dir/x.jpg"));
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + At("no/dir/x.jpg"));
    }
}

TEST_F(PhotoFilesTest, TopDownAndThirtyTwoBitBitmapsLoad) {
    // A 2 x 2 top-down 32-bit bitmap: rows of 8 bytes, B G R X.
    std::vector<uint8_t> b(54 + 16, 0);
    b[0] = 'B';
    b[1] = 'M';
    b[10] = 54;
    b[14] = 40;
    b[18] = 2;
    uint32_t minus_two = static_cast<uint32_t>(-2);
    for (int i = 0; i < 4; ++i)
        b[22 + i] = static_cast<uint8_t>(minus_two >> (8 * i));
    b[26] = 1;
    b[28] = 32;
    const uint8_t px[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
    std::copy(px, px + 16, b.begin() + 54);
    testsupport::WriteWholeFile(At("td.bmp"), b);
    const QImage image = lensmere::LoadBitmapFile(QString::fromStdString(At("td.bmp")))
                             .convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(image.width(), 2);
    ASSERT_EQ(image.height(), 2);
    std::vector<uint8_t> pixels;
    for (int y = 0; y < image.height(); ++y)
        pixels.insert(pixels.end(), image.constScanLine(y), image.constScanLine(y) + 6);
    const std::vector<uint8_t> expected = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
    EXPECT_EQ(pixels, expected);
    lensmere::ConvertToJpeg(At("td.bmp"), At("td.jpg"));
    EXPECT_GT(fs::file_size(At("td.jpg")), 100u);
}

}  // namespace
