#include "app/photofiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

namespace lensmere {
namespace {

constexpr uint32_t kPixelsPerMetre = 50190;
constexpr size_t kHeaderBytes = 54;

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The 54 bytes of file and information header of a bottom-up 24-bit bitmap.
void FillHeader(uint8_t* h, int width, int height, uint32_t image_bytes) {
    std::memset(h, 0, kHeaderBytes);
    h[0] = 'B';
    h[1] = 'M';
    PutU32(h + 2, static_cast<uint32_t>(kHeaderBytes + image_bytes));
    PutU32(h + 10, kHeaderBytes);
    PutU32(h + 14, 40);
    PutU32(h + 18, static_cast<uint32_t>(width));
    PutU32(h + 22, static_cast<uint32_t>(height));
    PutU16(h + 26, 1);
    PutU16(h + 28, 24);
    PutU32(h + 34, image_bytes);
    PutU32(h + 38, kPixelsPerMetre);
    PutU32(h + 42, kPixelsPerMetre);
}

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
    [[noreturn]] void Fail(int code) { throw InOutError(code, InOutErrorText(code)); }
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

std::string InOutErrorText(int code) {
    switch (code) {
        case ENOENT:
            return "File not found";
        case ENOTDIR:
        case EISDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case ELOOP:
            return "Invalid filename";
        case EMFILE:
        case ENFILE:
            return "Too many open files";
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return "File access denied";
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "Disk full";
        default:
            return "I/O error " + std::to_string(code);
    }
}

void WriteBitmap(const std::string& path, std::span<const uint8_t> raw) {
    RequireRawPhoto(raw);
    constexpr size_t kRow = 968;
    uint8_t header[kHeaderBytes];
    FillHeader(header, kRawWidth, kRawHeight, kRow * kRawHeight);
    OutputFile file(path);
    file.Write(header, sizeof header);
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
    uint8_t header[kHeaderBytes];
    FillHeader(header, 2 * kRawWidth, 2 * kRawHeight, kRow * 2 * kRawHeight);
    OutputFile file(path);
    file.Write(header, sizeof header);
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

RgbImage LoadBitmapFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ConversionError("Cannot open file " + path);
    // The largest picture accepted: far above anything the program writes,
    // small enough that a hostile header cannot make us allocate gigabytes.
    constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios::beg);
    if (length < 0 || static_cast<uint64_t>(length) > 4 * kMaxPixels + 4096)
        throw ConversionError("Bitmap image is not valid");
    std::vector<uint8_t> file(static_cast<size_t>(length));
    if (!in.read(reinterpret_cast<char*>(file.data()), length))
        throw ConversionError("Cannot open file " + path);
    const ConversionError invalid("Bitmap image is not valid");
    if (file.size() < kHeaderBytes || file[0] != 'B' || file[1] != 'M')
        throw invalid;
    const uint8_t* h = file.data();
    uint32_t offset = GetU32(h + 10);
    uint32_t info_size = GetU32(h + 14);
    int32_t width = static_cast<int32_t>(GetU32(h + 18));
    int32_t height = static_cast<int32_t>(GetU32(h + 22));
    uint16_t planes = GetU16(h + 26);
    uint16_t bpp = GetU16(h + 28);
    uint32_t compression = GetU32(h + 30);
    if (info_size < 40 || planes != 1 || compression != 0)
        throw invalid;
    if (bpp != 24 && bpp != 32)
        throw invalid;
    if (width <= 0 || height == 0 || height == INT32_MIN)
        throw invalid;
    bool bottom_up = height > 0;
    uint64_t rows = bottom_up ? height : -static_cast<int64_t>(height);
    if (static_cast<uint64_t>(width) * rows > kMaxPixels)
        throw invalid;
    uint64_t stride = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
    if (offset < 14 + info_size || offset > file.size() || (file.size() - offset) / stride < rows)
        throw invalid;

    RgbImage image;
    image.width = width;
    image.height = static_cast<int>(rows);
    image.pixels.resize(static_cast<size_t>(width) * rows * 3);
    const size_t step = bpp / 8;
    for (uint64_t y = 0; y < rows; ++y) {
        uint64_t stored = bottom_up ? rows - 1 - y : y;
        const uint8_t* src = file.data() + offset + stored * stride;
        uint8_t* dst = image.pixels.data() + y * width * 3;
        for (int32_t x = 0; x < width; ++x) {
            dst[3 * x + 0] = src[step * x + 2];
            dst[3 * x + 1] = src[step * x + 1];
            dst[3 * x + 2] = src[step * x + 0];
        }
    }
    return image;
}

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

// Runs the compressor. Kept free of objects with destructors, since an error
// inside libjpeg leaves through longjmp. Returns 0 or libjpeg's message code.
int Compress(const RgbImage& image, unsigned char** out, unsigned long* out_size) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnJpegError;
    err.pub.output_message = IgnoreJpegMessage;
    if (setjmp(err.jump)) {
        int code = err.pub.msg_code;
        jpeg_destroy_compress(&cinfo);
        return code == 0 ? -1 : code;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, out_size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(image.width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(image.pixels.data() + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

}  // namespace

std::vector<uint8_t> CompressJpeg(const RgbImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3)
        throw ConversionError("Bitmap image is not valid");
    unsigned char* out = nullptr;
    unsigned long out_size = 0;
    int code = Compress(image, &out, &out_size);
    std::vector<uint8_t> bytes;
    if (code == 0 && out != nullptr)
        bytes.assign(out, out + out_size);
    std::free(out);
    if (code != 0)
        throw ConversionError("JPEG error #" + std::to_string(code));
    return bytes;
}

void ConvertToJpeg(const std::string& bitmap_path, const std::string& jpeg_path) {
    RgbImage image = LoadBitmapFile(bitmap_path);
    std::vector<uint8_t> jpeg = CompressJpeg(image);
    OutputFile file(jpeg_path, "Cannot create file " + jpeg_path);
    file.Write(jpeg.data(), jpeg.size());
    file.Close();
}

}  // namespace lensmere
