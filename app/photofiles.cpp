#include "app/photofiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "app/bitmapfile.h"
#include "app/errors.h"
#include "app/jpegfile.h"
#include "app/picturefile.h"

namespace lensmere {
namespace {

constexpr uint32_t kPixelsPerMetre = 50190;
// The largest picture converted to JPEG: far above anything the program
// writes, small enough that a hostile header cannot make us allocate gigabytes.
constexpr uint64_t kMaxConvertedPixels = 64ull * 1024 * 1024;

// A file being written with every failure raised as InOutError. A file that
// could not be completed is removed, so that no truncated picture is left
// behind looking like a good one.
class OutputFile {
  public:
    // create_error, when given, replaces the errno text for a file that
    // cannot be created.
    explicit OutputFile(const std::string& path, const std::string& create_error = {})
        : path_(path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0 && !create_error.empty())
            throw ConversionError(create_error);
        if (fd_ < 0)
            Fail(errno);
        struct stat st;
        regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    }
    ~OutputFile() {
        if (fd_ >= 0) {
            ::close(fd_);
            Discard();
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const uint8_t* data, size_t n) {
        while (n > 0) {
            ssize_t w = ::write(fd_, data, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                Fail(w < 0 ? errno : ENOSPC);
            data += w;
            n -= static_cast<size_t>(w);
        }
    }
    void Close() {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            int code = errno;
            Discard();
            Fail(code);
        }
    }

  private:
    [[noreturn]] void Fail(int code) { throw InOutError(code); }
    // Only a plain file is ours to remove; a device or pipe is left alone.
    void Discard() {
        if (regular_)
            ::unlink(path_.c_str());
    }
    std::string path_;
    int fd_ = -1;
    bool regular_ = false;
};

void RequireRawPhoto(std::span<const uint8_t> raw) {
    if (raw.size() < kRawImageBytes)
        throw std::invalid_argument("raw photo buffer too small");
}

}  // namespace

void WriteBitmap(const std::string& path, std::span<const uint8_t> raw) {
    RequireRawPhoto(raw);
    constexpr size_t kRow = 968;
    const auto header = BitmapFileHeader(kRawWidth, kRawHeight, kPixelsPerMetre);
    OutputFile file(path);
    file.Write(header.data(), header.size());
    uint8_t row[kRow] = {};
    for (int r = kRawHeight - 1; r >= 0; --r) {
        const uint8_t* src = raw.data() + r * kRawRowBytes;
        for (int x = 0; x < kRawWidth; ++x) {
            row[3 * x + 0] = src[4 * x + 0];
            row[3 * x + 1] = src[4 * x + 2];
            row[3 * x + 2] = src[4 * x + 3];
        }
        file.Write(row, kRow);
    }
    file.Close();
}

void WriteDoubledBitmap(const std::string& path, std::span<const uint8_t> raw) {
    RequireRawPhoto(raw);
    constexpr size_t kRow = 1932;
    const auto header = BitmapFileHeader(2 * kRawWidth, 2 * kRawHeight, kPixelsPerMetre);
    OutputFile file(path);
    file.Write(header.data(), header.size());
    uint8_t pair[2 * kRow];
    for (int r = kRawHeight - 1; r >= 0; --r) {
        const uint8_t* src = raw.data() + r * kRawRowBytes;
        uint8_t* lower = pair;
        uint8_t* upper = pair + kRow;
        for (int x = 0; x < kRawWidth; ++x) {
            const uint8_t* p = src + 4 * x;
            for (int half = 0; half < 2; ++half) {
                uint8_t* lo = lower + 6 * x + 3 * half;
                uint8_t* up = upper + 6 * x + 3 * half;
                lo[0] = up[0] = p[0];
                lo[1] = p[1];
                up[1] = p[2];
                lo[2] = up[2] = p[3];
            }
        }
        file.Write(pair, sizeof pair);
    }
    file.Close();
}

void ConvertToJpeg(const std::string& bitmap_path, const std::string& jpeg_path) {
    const QByteArray bitmap = ReadPictureFile(QString::fromStdString(bitmap_path));
    // Only the uncompressed true-colour bitmaps that a bitmap writer makes are converted.
    const BitmapInfo info = ReadBitmapInfo(bitmap);
    if (info.header_size < 40 || info.compression != 0 ||
        (info.bit_count != 24 && info.bit_count != 32) || !info.offset_declared ||
        static_cast<uint64_t>(info.width) * static_cast<uint64_t>(info.height) >
            kMaxConvertedPixels) {
        throw ConversionError(std::string("Bitmap image is not valid"));
    }
    const QByteArray jpeg = EncodeJpeg(DecodeBitmap(bitmap));
    OutputFile file(jpeg_path, "Cannot create file " + jpeg_path);
    file.Write(reinterpret_cast<const uint8_t*>(jpeg.constData()),
               static_cast<size_t>(jpeg.size()));
    file.Close();
}

}  // namespace lensmere
