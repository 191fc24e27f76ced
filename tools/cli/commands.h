// The commands of quorbit-cli, written against the library's function table
// so that they can run against the real library or a stand-in.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/library.h"
#include "tools/cli/progress.h"

namespace cli {

struct Console {
    std::FILE* out = stdout;   // results: info, strings, paths written
    std::FILE* err = stderr;   // messages and the progress bar
    std::FILE* in = stdin;     // answers to questions
    bool interactive = false;  // may we ask the user (stdin and stderr are terminals)?
};

struct CommandContext {
    explicit CommandContext(const QuorbitApi& library) : api(library) {}
    const QuorbitApi& api;
    Console io;
    bool force = false;
    bool yes = false;
    ProgressBar* progress = nullptr;  // may be null: no progress shown
};

// Runs one command (already checked for its number of arguments) and returns
// the exit status.
int RunCommand(const CommandContext& ctx, const std::string& command,
               const std::vector<std::string>& args);

}  // namespace cli
