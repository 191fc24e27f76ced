// The command line of quorbit-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit statuses, documented in the help text.
enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,         // an operation failed or was refused
    kExitUsage = 2,          // wrong command line
    kExitNoCamera = 3,       // no camera found
    kExitNotRecognised = 4,  // a camera, but its card was not recognised
    kExitNoLibrary = 5,      // libquorbit.so could not be loaded
};

struct Options {
    std::string library;  // --library PATH
    bool force = false;   // --force
    bool yes = false;     // --yes
    bool help = false;    // --help
    std::string command;
    std::vector<std::string> args;
};

// Options may stand before or after the command; "--" ends them.
std::optional<Options> ParseArguments(const std::vector<std::string>& argv, std::string* error);

std::string HelpText();

}  // namespace cli
