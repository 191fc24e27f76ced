#include "tools/cli/options.h"

namespace cli {
namespace {

struct CommandShape {
    const char* name;
    size_t min_args;
    size_t max_args;
    const char* usage;
};

constexpr CommandShape kCommands[] = {
    {"info", 0, 0, "info"},
    {"get", 2, 2, "get N FILE.bmp"},
    {"get-all", 1, 1, "get-all DIR"},
    {"put", 1, 1, "put FILE.bmp"},
    {"delete", 1, 1, "delete N"},
    {"backup", 1, 1, "backup FILE.img"},
    {"format", 0, 1, "format [SIZE]"},
    {"strings", 0, 0, "strings"},
};

}  // namespace

std::optional<Options> ParseArguments(const std::vector<std::string>& argv, std::string* error) {
    Options o;
    std::vector<std::string> words;
    bool options_done = false;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (options_done || a.size() < 2 || a[0] != '-') {
            words.push_back(a);
        } else if (a == "--") {
            options_done = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--force" || a == "-f") {
            o.force = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--library") {
            if (i + 1 >= argv.size()) {
                *error = "--library needs a path";
                return std::nullopt;
            }
            o.library = argv[++i];
        } else if (a.rfind("--library=", 0) == 0) {
            o.library = a.substr(10);
        } else {
            *error = "unknown option " + a;
            return std::nullopt;
        }
    }
    if (o.help)
        return o;
    if (words.empty()) {
        *error = "no command given";
        return std::nullopt;
    }
    o.command = words[0];
    o.args.assign(words.begin() + 1, words.end());
    for (const auto& shape : kCommands) {
        if (o.command != shape.name)
            continue;
        if (o.args.size() < shape.min_args || o.args.size() > shape.max_args) {
            *error = std::string("usage: quorbit-cli ") + shape.usage;
            return std::nullopt;
        }
        return o;
    }
    *error = "unknown command " + o.command;
    return std::nullopt;
}

std::string HelpText() {
    return R"(usage: quorbit-cli [OPTIONS] COMMAND [ARGUMENTS]

Moves photos between this computer and the camera, through libquorbit.so.

Commands:
  info             whether a camera is connected; card size, photos, free slots
  get N FILE.bmp   save photo N as a 24-bit bitmap file
  get-all DIR      save every photo into DIR (created if needed) as
                   photo-001.bmp, photo-002.bmp, ...
  put FILE.bmp     store a 24-bit 322 x 242 bitmap file as a new photo
  delete N         delete photo N; the photos after it move up one number
  backup FILE.img  copy the whole card into an image file
  format [SIZE]    give the card a fresh, empty directory (all photos are lost).
                   SIZE (8, 16, 32, 64 or 128, in MB) is needed only when the
                   card is not recognised. Asks first unless --yes is given;
                   without a terminal to ask on, --yes is required.
  strings          print the library's fourteen texts in the current language

Photos are numbered from 1, as the camera program lists them ("Photo No. 1"):
photo 1 is the first photo of the card's directory (the library's index 0).

Options:
  --library PATH   load this libquorbit.so instead of searching for it
  -f, --force      replace existing files (get, get-all, backup); without it
                   an existing file is never overwritten
  -y, --yes        format without asking
  -h, --help       show this help

The library is looked for in this order: --library, $QUORBIT_LIBRARY, the
program's own folder, ../cardlib beside it (build tree), ../lib beside it and
the install library folder, then the system's library search path.

Messages go to stderr; info, strings and the files get-all wrote go to stdout.

Exit status: 0 success; 1 an operation failed or was refused; 2 wrong usage;
3 no camera found; 4 card not recognised; 5 libquorbit.so could not be loaded.
)";
}

}  // namespace cli
