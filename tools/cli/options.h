// The command line of quorbit-cli. Everything that can be wrong with it is
// found here, before the camera is opened.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/cli/picture_format.h"

namespace cli {

// Exit statuses, documented in the help text and the manual page.
enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,         // an operation failed or was refused
    kExitUsage = 2,          // wrong command line
    kExitNoCamera = 3,       // no camera found
    kExitNotRecognised = 4,  // a camera, but its card was not recognised
    kExitNoLibrary = 5,      // libquorbit.so could not be loaded
};

// The name get-all gives a photo unless --filename says otherwise.
inline constexpr const char* kDefaultNamePattern = "photo-%i.%C";

struct Options {
    std::string library;                  // --library PATH
    bool library_set = false;             // --library was given (an empty PATH is wrong)
    bool force = false;                   // --force
    bool yes = false;                     // --yes
    bool quiet = false;                   // --quiet
    bool parsable = false;                // --parsable (list)
    bool no_scale = false;                // --no-scale (put)
    bool help = false;                    // --help
    bool version = false;                 // --version
    std::optional<PictureFormat> format;  // --format (get, get-all, list)
    std::string pattern;                  // --filename (get-all, list); "" = default
    std::string command;
    std::vector<std::string> args;
    // Checked values of the arguments.
    int number = 0;     // get N, delete N
    int card_size = 0;  // format [SIZE]
    // The card doctor (doctor_options.cpp).
    std::string image;     // --image FILE: a card image instead of the camera
    std::string geometry;  // --geometry G: the image's card kind when it cannot be told
    int size_mb = 0;       // --size MB (repair, check)
};

// Options may stand before or after the command; "--" ends them.
std::optional<Options> ParseArguments(const std::vector<std::string>& argv, std::string* error);

// The format a command writes in: --format, else (get) the file's extension,
// else PNG.
PictureFormat OutputFormat(const Options& options);
// The --filename pattern, or the default one.
std::string NamePattern(const Options& options);

std::string HelpText();
std::string VersionText();

}  // namespace cli
