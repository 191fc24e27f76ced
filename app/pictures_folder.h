// Where lensmere works when the desktop menu starts it: the user's pictures
// folder, so that MyPhoto lands among the user's pictures and not in the
// home folder the desktop starts programs in. From a terminal it keeps the
// folder it was started in.
#pragma once

#include <string>

namespace lensmere {

// The option the desktop entry passes.
inline constexpr const char* kPicturesFolderOption = "--pictures-folder";

// The user's pictures folder: XDG_PICTURES_DIR of user-dirs.dirs, else
// ~/Pictures.
std::string UserPicturesFolder();

// When argv holds kPicturesFolderOption: takes it out of argv (the rest goes
// on to Qt), sets *asked (when given) and makes the pictures folder, created
// if missing, the current folder. Returns false, with a message on stderr,
// when that fails; the program then works where it was started.
bool EnterPicturesFolderIfAsked(int& argc, char** argv, bool* asked = nullptr);

}  // namespace lensmere
