// The card doctor's commands: check, recover and repair. They run on the card
// library's own code linked into this program, over the camera or a card
// image, and write nothing but the card's system block.
#pragma once

#include "tools/cli/commands.h"

namespace cli {

int CheckCard(const CommandContext& ctx);
int Recover(const CommandContext& ctx);
int RepairCard(const CommandContext& ctx);

}  // namespace cli
