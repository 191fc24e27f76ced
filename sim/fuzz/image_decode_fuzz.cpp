// Picture files given to make-card: any bytes must give an image or an error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include <jpeglib.h>

#include "sim/image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    std::string error;
    if (auto bmp = sim::DecodeBmp(bytes, &error))
        (void)sim::RawPhotoFromRgb(*bmp);
    (void)sim::DecodeJpeg(bytes, &error);
    return 0;
}

namespace {

std::vector<uint8_t> SmallBmp() {
    std::vector<uint8_t> f(54 + 4 * 3 * 4, 0x40);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put(2, static_cast<uint32_t>(f.size()));
    put(6, 0);
    put(10, 54);
    put(14, 40);
    put(18, 4);
    put(22, 3);
    f[26] = 1;
    f[27] = 0;
    f[28] = 24;
    f[29] = 0;
    for (size_t i = 30; i < 54; ++i)
        f[i] = 0;
    return f;
}

std::vector<uint8_t> SmallJpeg() {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = 16;
    cinfo.image_height = 8;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(16 * 3, 0x80);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return out;
}

}  // namespace

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return {SmallBmp(), SmallJpeg()};
}
