// make_sample_photos DIR: writes the sample pictures as 24-bit bitmaps of the
// camera's photo size into DIR (created if missing), numbered in card order
// ("1-sunset.bmp", ...), and prints each path written.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "picture/codecs.h"
#include "tools/sample_photos.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: make_sample_photos DIR\n");
        return argc == 2 ? 0 : 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "make_sample_photos: %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    int number = 0;
    for (const auto& photo : tools::SamplePhotos()) {
        const std::string path =
            (dir / (std::to_string(++number) + "-" + photo.name + ".bmp")).string();
        const std::vector<uint8_t> bitmap = picture::EncodeBmp(photo.image);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bitmap.data()),
                  static_cast<std::streamsize>(bitmap.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "make_sample_photos: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
