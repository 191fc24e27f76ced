// Where the camera's photos lie as camera programs expect them: one storage
// whose base folder is "/", the photos in /DCIM/100ORVTA/ under DCF-style
// names of four characters and four digits. The number is the photo's slot
// on the card, so a name keeps meaning the same photo while others are
// deleted or added.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorbit_gphoto {

inline constexpr char kPhotoFolder[] = "/DCIM/100ORVTA";

enum class Folder { kRoot, kDcim, kPhotos };

// The folder a path names, in every spelling libgphoto2 accepts for it:
// repeated and trailing slashes ("//", "/DCIM/", "//DCIM//100ORVTA/").
// Nullopt for a path that is not absolute or names no folder of the camera.
std::optional<Folder> FolderOf(const char* path);

// The names of the folders inside a folder.
std::vector<std::string> SubfoldersOf(Folder folder);

// "ORVT0007.PNG" for slot 7.
std::string PhotoFileName(uint16_t slot);

}  // namespace quorbit_gphoto
