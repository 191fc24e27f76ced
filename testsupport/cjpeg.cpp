#include "testsupport/cjpeg.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "testsupport/process.h"

namespace testsupport {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::vector<uint8_t> CjpegOf(const std::string& bitmap, const std::string& scratch_dir) {
    std::vector<uint8_t> bytes = ReadAll(bitmap);
    if (bytes.size() < 54)
        return {};
    for (size_t i = 38; i < 46; ++i)
        bytes[i] = 0;
    const std::string copy = scratch_dir + "/cjpeg-input.bmp";
    const std::string out = scratch_dir + "/cjpeg-output.jpg";
    {
        std::ofstream file(copy, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    const char* cjpeg = std::getenv("CJPEG");
    const int status =
        RunProcess({cjpeg != nullptr ? cjpeg : "cjpeg", "-quality", "90", "-outfile", out, copy});
    std::vector<uint8_t> result = status == 0 ? ReadAll(out) : std::vector<uint8_t>{};
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);
    std::filesystem::remove(out, ignored);
    return result;
}

}  // namespace testsupport
