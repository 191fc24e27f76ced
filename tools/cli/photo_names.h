// The names get-all gives photos. A photo's id is a checksum of the pixels
// the card stores for it, so it stays with the photo while others are
// deleted or added and their numbers change: a second get-all into the same
// folder finds the names of the photos it fetched before.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

#include "picture/picture.h"

namespace cli {

// Twelve hex digits. The pixels past the card's photo slot (222 to 321 of
// the bottom row) are left out: the library fills them from whatever follows
// the slot, which changes with the neighbouring photo.
std::string PhotoId(const picture::Picture& photo);

struct PhotoNameFields {
    int number = 0;  // as the user counts (from 1)
    std::string id;  // PhotoId, with "-2", "-3" for further copies of one picture
    const char* extension = "";
    std::tm time{};  // when the download began, local time
};

// The longest name a folder holds, in bytes.
inline constexpr size_t kMaxNameBytes = 255;
// "file name too long"; said of every name over kMaxNameBytes.
inline constexpr const char* kNameTooLong = "file name too long";

// Whether the pattern can name photos: only known fields, a name of its own
// for each photo (%i or %n), inside DIR (not absolute, no ".." folder), and
// no name over kMaxNameBytes whatever its fields hold. Else false with the
// reason.
bool CheckNamePattern(std::string_view pattern, std::string* error);

// Fields: %n number (%3n: at least 3 digits, zero-padded), %i id, %C
// extension, %Y %m %d %H %M %S the time of the download, %% a percent sign.
// The pattern must have passed CheckNamePattern.
std::string ExpandNamePattern(std::string_view pattern, const PhotoNameFields& fields);

// Whether a relative path stays inside the folder it is relative to: not
// absolute, no ".." component, no empty name.
bool StaysInside(std::string_view relative);
// The first component of path (its folders and its name) longer than
// kMaxNameBytes; empty when there is none.
std::string_view OverlongName(std::string_view path);

}  // namespace cli
