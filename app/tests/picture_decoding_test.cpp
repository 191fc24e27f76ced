#include "app/bitmapfile.h"
#include "app/jpegfile.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <random>

#include "app/errors.h"
#include "app/tests/picture_testfiles.h"

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace lensmere {
namespace {

using test::EncodeBitmap24;
using test::EncodeJpeg;
using test::MaxChannelDifference;
using test::TestPattern;

std::string ErrorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no error)";
}

std::string JpegError(int code) {
    return "JPEG error #" + std::to_string(code);
}

// The reference decoder of the libjpeg tools, with the same accurate DCT and smoothing.
QImage ReferenceDecode(const QString& jpeg_path, const QStringList& extra = {}) {
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    if (djpeg.isEmpty()) {
        return QImage();
    }
    QProcess process;
    process.start(djpeg, extra + QStringList{QStringLiteral("-ppm"), jpeg_path});
    process.waitForFinished(20000);
    return QImage::fromData(process.readAllStandardOutput(), "PPM");
}

TEST(JpegDecoder, MatchesTheReferenceDecoderExactly) {
    QTemporaryDir dir;
    const QImage source = TestPattern(644, 484);
    for (const bool progressive : {false, true}) {
        const QString path = dir.filePath(progressive ? "p.jpg" : "b.jpg");
        test::WriteFile(path, EncodeJpeg(source, 90, progressive));
        const QImage decoded = LoadJpegFile(path);
        ASSERT_EQ(decoded.size(), QSize(644, 484));
        EXPECT_EQ(decoded.format(), QImage::Format_RGB888);
        EXPECT_LT(test::MeanChannelDifference(decoded, source), 10.0) << "not the saved picture";
        const QImage reference = ReferenceDecode(path);
        if (reference.isNull()) {
            GTEST_SKIP() << "djpeg not available";
        }
        EXPECT_EQ(MaxChannelDifference(decoded, reference), 0) << "progressive " << progressive;
    }
}

TEST(JpegDecoder, OptionsChangeTheDecoding) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.jpg");
    test::WriteFile(path, EncodeJpeg(TestPattern(320, 240)));
    const QImage accurate = LoadJpegFile(path);

    JpegDecodeOptions half;
    half.scale_denominator = 2;
    EXPECT_EQ(LoadJpegFile(path, half).size(), QSize(160, 120));

    JpegDecodeOptions gray;
    gray.grayscale = true;
    const QImage gray_image = LoadJpegFile(path, gray);
    EXPECT_EQ(gray_image.format(), QImage::Format_RGB888);
    const QRgb p = gray_image.pixel(100, 50);
    EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));

    JpegDecodeOptions fast;
    fast.fast_dct = true;
    const QImage fast_image = LoadJpegFile(path, fast);
    EXPECT_GT(MaxChannelDifference(fast_image, accurate), 0);
    const QImage reference = ReferenceDecode(path, {"-dct", "fast", "-nosmooth"});
    if (!reference.isNull()) {
        EXPECT_EQ(MaxChannelDifference(fast_image, reference), 0);
    }
}

TEST(JpegDecoder, DamagedDataRaisesTheLibjpegMessageCode) {
    EXPECT_EQ(ErrorOf([] { DecodeJpeg(QByteArray()); }), JpegError(JERR_INPUT_EMPTY));
    EXPECT_EQ(ErrorOf([] { DecodeJpeg(QByteArray("GIF89a not a jpeg at all")); }),
              JpegError(JERR_NO_SOI));

    // A frame header claiming zero lines.
    QByteArray data = EncodeJpeg(TestPattern(64, 48));
    const qsizetype sof = data.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    data[sof + 5] = 0;
    data[sof + 6] = 0;
    EXPECT_EQ(ErrorOf([&] { DecodeJpeg(data); }), JpegError(JERR_EMPTY_IMAGE));

    // Marker garbage right after the start of image.
    QByteArray garbage = EncodeJpeg(TestPattern(64, 48)).left(2) + QByteArray(40, '\xFF') +
                         QByteArray("\x01\x02\x03", 3);
    EXPECT_TRUE(ErrorOf([&] { DecodeJpeg(garbage); }).starts_with("JPEG error #"));

    // A header claiming 65500 x 65500 pixels with hardly any data behind it.
    QByteArray huge = EncodeJpeg(TestPattern(64, 48));
    for (const int offset : {5, 6, 7, 8}) {
        huge[sof + offset] = '\xFF';
    }
    huge[sof + 6] = huge[sof + 8] = '\xDC';
    EXPECT_EQ(ErrorOf([&] { DecodeJpeg(huge); }), JpegError(JERR_IMAGE_TOO_BIG));

    // The decoder stays usable after errors.
    EXPECT_EQ(DecodeJpeg(EncodeJpeg(TestPattern(64, 48))).size(), QSize(64, 48));
}

TEST(JpegDecoder, TruncatedDataDecodesAsFarAsItGoes) {
    const QImage source = TestPattern(320, 240);
    const QByteArray data = EncodeJpeg(source);
    const QImage partial = DecodeJpeg(data.left(data.size() / 2));
    ASSERT_EQ(partial.size(), source.size());
    // The top rows are there, the rest is filled in.
    EXPECT_LT(test::MeanChannelDifference(partial.copy(0, 0, 320, 32), source.copy(0, 0, 320, 32)),
              10.0);
    EXPECT_GT(
        test::MeanChannelDifference(partial.copy(0, 208, 320, 32), source.copy(0, 208, 320, 32)),
        20.0);
}

TEST(JpegDecoder, MissingFileCannotBeOpened) {
    EXPECT_EQ(ErrorOf([] { LoadJpegFile("/nonexistent/dir/x.jpg"); }),
              "Cannot open file /nonexistent/dir/x.jpg");
}

// ---------------------------------------------------------------------------------------------

TEST(BitmapDecoder, ReadsTheProgramsBitmapsPixelForPixel) {
    for (const QSize size : {QSize(322, 242), QSize(644, 484), QSize(5, 3)}) {
        const QImage source = TestPattern(size.width(), size.height());
        const QImage decoded = DecodeBitmap(EncodeBitmap24(source));
        EXPECT_EQ(MaxChannelDifference(decoded, source), 0) << size.width();
        const QImage top_down = DecodeBitmap(EncodeBitmap24(source, false));
        EXPECT_EQ(MaxChannelDifference(top_down, source), 0) << size.width();
    }
}

QByteArray WithHeader(int bit_count, uint32_t compression, int width, int height,
                      const QByteArray& extra, const QByteArray& pixels, int colors_used = 0) {
    QByteArray out("BM");
    auto put16 = [&](int v) {
        out.append(char(v & 0xFF));
        out.append(char((v >> 8) & 0xFF));
    };
    auto put32 = [&](qint64 v) {
        put16(int(v & 0xFFFF));
        put16(int((v >> 16) & 0xFFFF));
    };
    put32(54 + extra.size() + pixels.size());
    put32(0);
    put32(54 + extra.size());
    put32(40);
    put32(width);
    put32(height);
    put16(1);
    put16(bit_count);
    put32(compression);
    put32(pixels.size());
    put32(0);
    put32(0);
    put32(colors_used);
    put32(0);
    return out + extra + pixels;
}

TEST(BitmapDecoder, ReadsPaletteBitfieldAndRunLengthBitmaps) {
    // 8-bit, two colours used, 3 x 2, rows padded to 4 bytes; bottom row first.
    const QByteArray palette(
        "\x00\x00\xFF\x00"   // red
        "\xFF\x00\x00\x00",  // blue
        8);
    const QByteArray pixels8(
        "\x00\x01\x00\x00"
        "\x01\x01\x05\x00",
        8);
    const QImage eight = DecodeBitmap(WithHeader(8, 0, 3, 2, palette, pixels8, 2));
    ASSERT_EQ(eight.size(), QSize(3, 2));
    EXPECT_EQ(eight.pixel(0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(eight.pixel(1, 1), qRgb(0, 0, 255));
    EXPECT_EQ(eight.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(eight.pixel(2, 0), qRgb(0, 0, 0)) << "index beyond the palette";

    // 1-bit.
    const QImage one =
        DecodeBitmap(WithHeader(1, 0, 9, 1, palette, QByteArray("\x80\x80\x00\x00", 4), 2));
    EXPECT_EQ(one.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(one.pixel(1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(one.pixel(8, 0), qRgb(0, 0, 255));

    // 16-bit 5-6-5 bit fields.
    const QByteArray masks(
        "\x00\xF8\x00\x00"
        "\xE0\x07\x00\x00"
        "\x1F\x00\x00\x00",
        12);
    const QImage sixteen =
        DecodeBitmap(WithHeader(16, 3, 2, 1, masks, QByteArray("\x00\xF8\x1F\x00", 4)));
    EXPECT_EQ(sixteen.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(sixteen.pixel(1, 0), qRgb(0, 0, 255));

    // 32-bit plain.
    const QImage thirty_two =
        DecodeBitmap(WithHeader(32, 0, 1, 1, QByteArray(), QByteArray("\x10\x20\x30\x00", 4)));
    EXPECT_EQ(thirty_two.pixel(0, 0), qRgb(0x30, 0x20, 0x10));

    // RLE8: a run of three 1s, a literal 0 1 0, end of line, end of bitmap.
    const QByteArray rle(
        "\x03\x01"
        "\x00\x03\x00\x01\x00\x00"
        "\x00\x00"
        "\x00\x01",
        12);
    const QImage runs = DecodeBitmap(WithHeader(8, 1, 6, 2, palette, rle, 2));
    EXPECT_EQ(runs.pixel(0, 1), qRgb(0, 0, 255));
    EXPECT_EQ(runs.pixel(3, 1), qRgb(255, 0, 0));
    EXPECT_EQ(runs.pixel(4, 1), qRgb(0, 0, 255));
}

TEST(BitmapDecoder, DamagedBitmapsAreNotValid) {
    const std::string invalid = "Bitmap image is not valid";
    const QByteArray good = EncodeBitmap24(TestPattern(322, 242));
    ASSERT_EQ(good.size(), 234310);

    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(good.left(good.size() - 1)); }), invalid);
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(good.left(30)); }), invalid);
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(QByteArray()); }), invalid);
    QByteArray magic = good;
    magic[0] = 'X';
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(magic); }), invalid);
    QByteArray planes = good;
    planes[26] = 2;
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(planes); }), invalid);
    QByteArray bits = good;
    bits[28] = 7;
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(bits); }), invalid);
    QByteArray huge = good;
    huge[21] = 0x7F;  // width about 2^31
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(huge); }), invalid);
    QByteArray zero = good;
    zero[22] = zero[23] = zero[24] = zero[25] = 0;
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(zero); }), invalid);
    QByteArray offset = good;
    offset[13] = 0x40;  // pixel data far beyond the end
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(offset); }), invalid);
    // Run-length data that runs off the end.
    EXPECT_EQ(ErrorOf([] { DecodeBitmap(WithHeader(8, 1, 6, 2, QByteArray(), "\x03")); }), invalid);
    EXPECT_EQ(ErrorOf([] { LoadBitmapFile("/nonexistent/x.bmp"); }),
              "Cannot open file /nonexistent/x.bmp");
}

// Damaged files of every kind: each decode either gives a picture or raises an Error.
TEST(Decoders, MutatedFilesNeverCrash) {
    std::mt19937 random(20261209);
    const QByteArray jpeg = EncodeJpeg(TestPattern(48, 40), 75, false);
    const QByteArray progressive = EncodeJpeg(TestPattern(48, 40), 75, true);
    const QByteArray bitmap = EncodeBitmap24(TestPattern(30, 20));
    const QByteArray rle = WithHeader(8, 1, 30, 20, QByteArray(1024, '\x40'),
                                      QByteArray("\x1E\x05\x00\x00\x00\x05\x01\x02\x03\x04"
                                                 "\x05\x00\x00\x02\x03\x04\x00\x01",
                                                 18),
                                      256);
    int pictures = 0, errors = 0;
    for (int round = 0; round < 20000; ++round) {
        const QByteArray& original = round % 4 == 0   ? jpeg
                                     : round % 4 == 1 ? progressive
                                     : round % 4 == 2 ? bitmap
                                                      : rle;
        QByteArray data = original;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int k = 0; k < flips; ++k) {
            data[static_cast<qsizetype>(random() % data.size())] = static_cast<char>(random());
        }
        if (random() % 3 == 0) {
            data.truncate(static_cast<qsizetype>(random() % data.size()));
        }
        try {
            const QImage image = round % 4 < 2 ? DecodeJpeg(data) : DecodeBitmap(data);
            pictures += image.isNull() ? 0 : 1;
        } catch (const Error&) {
            ++errors;
        }
    }
    EXPECT_GT(pictures, 0);
    EXPECT_GT(errors, 0);
}

}  // namespace
}  // namespace lensmere
