// The commands that move photos: list, get, get-all (photo_commands.cpp)
// and put (put_command.cpp).
#pragma once

#include "tools/cli/commands.h"

namespace cli {

int ListPhotos(const CommandContext& ctx);
int GetPhoto(const CommandContext& ctx);
int GetAllPhotos(const CommandContext& ctx);
int PutPicture(const CommandContext& ctx);

}  // namespace cli
