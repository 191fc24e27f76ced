#include "tools/cli/picture_format.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace cli {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::optional<PictureFormat> FormatByName(std::string_view name) {
    const std::string n = Lower(name);
    if (n == "bmp")
        return PictureFormat::kBmp;
    if (n == "png")
        return PictureFormat::kPng;
    if (n == "jpeg" || n == "jpg")
        return PictureFormat::kJpeg;
    return std::nullopt;
}

std::optional<PictureFormat> FormatByExtension(std::string_view path) {
    const size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    return FormatByName(name.substr(dot + 1));
}

const char* FormatExtension(PictureFormat format) {
    switch (format) {
        case PictureFormat::kBmp:
            return "bmp";
        case PictureFormat::kPng:
            return "png";
        case PictureFormat::kJpeg:
            return "jpg";
    }
    return "";
}

}  // namespace cli
