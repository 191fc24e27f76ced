#include "gphoto/camera_layout.h"

#include <cstdio>

namespace quorbit_gphoto {
namespace {

constexpr std::string_view kDcim = "DCIM";
constexpr std::string_view kPhotoSubfolder = "100ORVTA";
constexpr std::string_view kNamePrefix = "ORVT";
constexpr std::string_view kNameSuffix = ".PNG";

}  // namespace

std::optional<Folder> FolderOf(const char* path) {
    if (path == nullptr || path[0] != '/')
        return std::nullopt;
    // The path's parts between slashes; empty parts are repeated slashes.
    std::vector<std::string_view> parts;
    const std::string_view rest(path);
    size_t at = 0;
    while (at < rest.size()) {
        const size_t slash = rest.find('/', at);
        const size_t end = slash == std::string_view::npos ? rest.size() : slash;
        if (end > at)
            parts.push_back(rest.substr(at, end - at));
        at = end + 1;
    }
    if (parts.empty())
        return Folder::kRoot;
    if (parts[0] != kDcim || parts.size() > 2)
        return std::nullopt;
    if (parts.size() == 1)
        return Folder::kDcim;
    if (parts[1] != kPhotoSubfolder)
        return std::nullopt;
    return Folder::kPhotos;
}

std::vector<std::string> SubfoldersOf(Folder folder) {
    switch (folder) {
        case Folder::kRoot:
            return {std::string(kDcim)};
        case Folder::kDcim:
            return {std::string(kPhotoSubfolder)};
        case Folder::kPhotos:
            return {};
    }
    return {};
}

std::string PhotoFileName(uint16_t slot) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", unsigned{slot} % 10000);
    return std::string(kNamePrefix) + digits + std::string(kNameSuffix);
}

}  // namespace quorbit_gphoto
