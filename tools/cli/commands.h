// The commands of quorbit-cli, written against the library's function table
// so that they can run against the real library or a stand-in.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "tools/cli/library.h"
#include "tools/cli/options.h"
#include "tools/cli/progress.h"

namespace cli {

class ImageCard;

struct Console {
    std::FILE* out = stdout;   // results: info, lists, strings, paths written
    std::FILE* err = stderr;   // messages and the progress bar
    std::FILE* in = stdin;     // answers to questions
    bool interactive = false;  // may we ask the user (stdin and stderr are terminals)?
};

struct CommandContext {
    CommandContext(const QuorbitApi& library, Options command_line)
        : api(library), options(std::move(command_line)) {}
    const QuorbitApi& api;
    Options options;
    Console io;
    ProgressBar* progress = nullptr;       // may be null: no progress shown
    std::time_t now = std::time(nullptr);  // the download's time for name patterns
    const ImageCard* image = nullptr;      // --image: the card image in the camera's place
};

// Runs the command of ctx.options (already checked by ParseArguments) and
// returns the exit status.
int RunCommand(const CommandContext& ctx);

}  // namespace cli
