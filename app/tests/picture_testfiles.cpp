#include "app/tests/picture_testfiles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "testsupport/files.h"

namespace lensmere::test {

namespace {

// One QApplication for every test of a binary, deleted at the end so that the font and
// platform caches it holds are released before the leak check.
class ApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { EnsureApplication(); }
    void TearDown() override { delete QApplication::instance(); }
};

const auto* const kApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

void EnsureApplication() {
    if (QApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "dialogs_test";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
}

QImage TestPattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int block = (x / 16 + y / 16) % 4;
            const int r = block == 0 ? 230 : (x * 255) / std::max(1, width - 1);
            const int g = block == 1 ? 20 : (y * 255) / std::max(1, height - 1);
            const int b = block == 2 ? 200 : ((x + y) * 7) % 256;
            image.setPixel(x, y, qRgb(r, g, b));
        }
    }
    return image;
}

QByteArray EncodeJpeg(const QImage& picture, int quality, bool progressive) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uchar*>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray data(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return data;
}

namespace {
void Put16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}
void Put32(QByteArray& out, qint64 value) {
    Put16(out, static_cast<int>(value & 0xFFFF));
    Put16(out, static_cast<int>((value >> 16) & 0xFFFF));
}
}  // namespace

QByteArray EncodeBitmap24(const QImage& picture, bool bottom_up) {
    const int width = picture.width();
    const int height = picture.height();
    const int stride = (width * 3 + 3) & ~3;
    QByteArray out;
    out.append("BM");
    Put32(out, 54 + qint64(stride) * height);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, width);
    Put32(out, bottom_up ? height : -height);
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, qint64(stride) * height);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (int row = 0; row < height; ++row) {
        const int y = bottom_up ? height - 1 - row : row;
        for (int x = 0; x < width; ++x) {
            const QRgb p = picture.pixel(x, y);
            out.append(static_cast<char>(qBlue(p)));
            out.append(static_cast<char>(qGreen(p)));
            out.append(static_cast<char>(qRed(p)));
        }
        out.append(QByteArray(stride - width * 3, '\0'));
    }
    return out;
}

// The Qt-typed face of testsupport's whole-file helpers.
void WriteFile(const QString& path, const QByteArray& data) {
    std::string error;
    if (!testsupport::WriteWholeFile(path.toStdString(),
                                     std::vector<uint8_t>(data.begin(), data.end()), &error)) {
        throw std::runtime_error("cannot write test file: " + error);
    }
}

QByteArray ReadFile(const QString& path) {
    std::string error;
    const auto bytes = testsupport::ReadWholeFile(path.toStdString(), &error);
    if (!bytes)
        throw std::runtime_error("cannot read test file: " + error);
    return QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size()));
}

int MaxChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return -1;
    }
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return worst;
}

double MeanChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) {
        return 1e9;
    }
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

}  // namespace lensmere::test
