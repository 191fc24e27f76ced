#include "tools/cli/options.h"

#include "tools/cli/doctor_options.h"

#include "tools/cli/photo_names.h"
#include "tools/cli/text.h"

#ifndef QUORBIT_VERSION
#define QUORBIT_VERSION "unknown"
#endif

namespace cli {
namespace {

// The options a command takes beyond the common ones.
enum Takes : unsigned {
    kNothing = 0,
    kFormat = 1,
    kPattern = 2,
    kParsable = 4,
    kNoScale = 8,
};

struct CommandShape {
    const char* name;
    size_t min_args;
    size_t max_args;
    unsigned takes;
    const char* usage;
};

constexpr CommandShape kCommands[] = {
    {"info", 0, 0, kNothing, "info"},
    {"list", 0, 0, kFormat | kPattern | kParsable, "list [--parsable] [--format F] [--filename P]"},
    {"get", 2, 2, kFormat, "get N FILE"},
    {"get-all", 1, 1, kFormat | kPattern, "get-all DIR"},
    {"put", 1, 1, kNoScale, "put [--no-scale] [--force] FILE"},
    {"delete", 1, 1, kNothing, "delete N"},
    {"backup", 1, 1, kNothing, "backup FILE.img"},
    {"format", 0, 1, kNothing, "format [SIZE]"},
    {"strings", 0, 0, kNothing, "strings"},
    {"check", 0, 0, kParsable, "check [--parsable] [--size MB]"},
    {"recover", 1, 3, kFormat | kParsable, kRecoverUsage},
    {"repair", 0, 0, kNothing, "repair --size MB [--yes]"},
};

// The value of an option given as "--name VALUE" or "--name=VALUE".
bool OptionValue(const std::vector<std::string>& argv, size_t* i, const std::string& name,
                 std::string* value, bool* matched, std::string* error) {
    const std::string& a = argv[*i];
    if (a == name) {
        *matched = true;
        if (*i + 1 >= argv.size()) {
            *error = name + " needs a value";
            return false;
        }
        *value = argv[++*i];
        return true;
    }
    if (a.rfind(name + "=", 0) == 0) {
        *matched = true;
        *value = a.substr(name.size() + 1);
        return true;
    }
    *matched = false;
    return true;
}

// "0", "-1", "+7", "-0012": a number, whether or not it can be a photo's.
bool IsWholeNumber(const std::string& text) {
    size_t i = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i >= text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

bool Fail(std::string* error, std::string why) {
    *error = std::move(why);
    return false;
}

// The checks of the arguments that need no camera.
bool CheckArguments(Options* o, const CommandShape& shape, std::string* error) {
    if (o->args.size() < shape.min_args || o->args.size() > shape.max_args)
        return Fail(error, std::string("usage: quorbit-cli ") + shape.usage);
    if (o->format && !(shape.takes & kFormat))
        return Fail(error, "--format is for get, get-all and list");
    if (!o->pattern.empty() && !(shape.takes & kPattern))
        return Fail(error, "--filename is for get-all and list");
    if (o->parsable && !(shape.takes & kParsable))
        return Fail(error, "--parsable is for list");
    if (o->no_scale && !(shape.takes & kNoScale))
        return Fail(error, "--no-scale is for put");
    if (o->command == "get" || o->command == "delete") {
        const std::string& n = o->args[0];
        const auto number = ParsePositive(n);
        if (!number)
            return Fail(error, IsWholeNumber(n) ? "photo numbers start at 1, not " + n
                                                : "not a photo number: " + n);
        o->number = *number;
    }
    // Every path argument: the file or folder the command writes or reads.
    const size_t first_path = o->command == "get" ? 1 : 0;
    if (o->command == "get" || o->command == "get-all" || o->command == "put" ||
        o->command == "backup") {
        for (size_t i = first_path; i < o->args.size(); ++i) {
            const std::string_view name = OverlongName(o->args[i]);
            if (!name.empty()) {
                return Fail(error, std::string(kNameTooLong) + " (" + std::to_string(name.size()) +
                                       " bytes, at most " + std::to_string(kMaxNameBytes) +
                                       "): " + o->args[i]);
            }
        }
    }
    if (o->command == "get" && !o->format && !FormatByExtension(o->args[1])) {
        return Fail(error, "cannot tell the format of " + o->args[1] +
                               " from its name (.bmp, .png, .jpg): add --format bmp|png|jpeg");
    }
    if (o->command == "format" && !o->args.empty()) {
        const auto n = ParsePositive(o->args[0]);
        if (!n || !IsCardSize(*n))
            return Fail(error, "SIZE must be 8, 16, 32, 64 or 128 (MB), not " + o->args[0]);
        o->card_size = *n;
    }
    if (!o->pattern.empty() && !CheckNamePattern(o->pattern, error))
        return false;
    return CheckDoctorArguments(o, error);
}

}  // namespace

std::optional<Options> ParseArguments(const std::vector<std::string>& argv, std::string* error) {
    Options o;
    std::vector<std::string> words;
    bool options_done = false;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        // A negative number is a word, not an option ("delete -1" is told
        // that photo numbers start at 1).
        if (options_done || a.size() < 2 || a[0] != '-' || IsWholeNumber(a)) {
            words.push_back(a);
            continue;
        }
        bool matched = false;
        std::string value;
        if (a == "--") {
            options_done = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "-V" || a == "--version") {
            o.version = true;
        } else if (a == "--force" || a == "-f") {
            o.force = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (a == "--parsable") {
            o.parsable = true;
        } else if (a == "--no-scale") {
            o.no_scale = true;
        } else if (!OptionValue(argv, &i, "--library", &value, &matched, error)) {
            return std::nullopt;
        } else if (matched) {
            if (value.empty()) {
                *error = "--library needs a path, not an empty one";
                return std::nullopt;
            }
            o.library = value;
            o.library_set = true;
        } else if (!OptionValue(argv, &i, "--format", &value, &matched, error)) {
            return std::nullopt;
        } else if (matched) {
            o.format = FormatByName(value);
            if (!o.format) {
                *error = "--format takes bmp, png or jpeg, not " + value;
                return std::nullopt;
            }
        } else if (!DoctorOption(argv, &i, &o, &matched, error)) {
            return std::nullopt;
        } else if (matched) {
            continue;
        } else if (!OptionValue(argv, &i, "--filename", &value, &matched, error)) {
            return std::nullopt;
        } else if (matched) {
            if (value.empty()) {
                *error = "--filename needs a pattern, not an empty one";
                return std::nullopt;
            }
            o.pattern = value;
        } else {
            *error = "unknown option " + a;
            return std::nullopt;
        }
    }
    if (o.help || o.version)
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
        if (!CheckArguments(&o, shape, error))
            return std::nullopt;
        return o;
    }
    *error = "unknown command " + o.command;
    return std::nullopt;
}

PictureFormat OutputFormat(const Options& options) {
    if (options.format)
        return *options.format;
    if (options.command == "get" && options.args.size() > 1) {
        if (const auto f = FormatByExtension(options.args[1]))
            return *f;
    }
    return PictureFormat::kPng;
}

std::string NamePattern(const Options& options) {
    return options.pattern.empty() ? kDefaultNamePattern : options.pattern;
}

std::string HelpText() {
    return std::string(R"(usage: quorbit-cli [OPTIONS] COMMAND [ARGUMENTS]

Moves photos between this computer and the camera, through libquorbit.so.

Commands:
  info             whether a camera is connected; card size, photos, free slots
  list             one line per photo: number, id, the file name get-all gives it
  get N FILE       save photo N; the format from FILE's extension (.bmp, .png,
                   .jpg) unless --format says it
  get-all DIR      save every photo not yet in DIR (made when there is one to
                   save), by default as photo-ID.png; running it again fetches
                   only the photos that are new: the ids saved are kept in
                   DIR/.quorbit-ids, whatever names --filename gives
  put FILE         store a picture (PNG, JPEG or BMP of any size and depth) as
                   a new photo: scaled to fit 322 x 242, the rest black
  delete N         delete photo N; the photos after it move up one number
  backup FILE.img  copy the whole card into an image file
  format [SIZE]    give the card a fresh, empty directory (all photos are lost).
                   SIZE (8, 16, 32, 64 or 128, in MB) is needed only when the
                   card is not recognised. Asks first unless --yes is given;
                   without a terminal to ask on, --yes is required.
  strings          print the library's fourteen texts in the current language
)") + kDoctorCommandsHelp +
           R"(
Photos are numbered from 1, as the camera program lists them ("Photo No. 1"):
photo 1 is the first photo of the card's directory (the library's index 0).
Numbers change when photos are deleted; a photo's id (twelve hex digits, a
checksum of its pixels) stays with it. list and get-all read every photo.

Options:
  --format F       bmp (the library's own 24-bit bitmap), png (lossless) or
                   jpeg (quality 90); get-all and list default to png
  --filename P     names for get-all and list, inside DIR; folders are made as
                   needed. Fields: %n number (%3n: three digits), %i id,
                   %C extension, %Y %m %d %H %M %S time of the download, %%.
                   Default: photo-%i.%C. It may not leave DIR (no leading /,
                   no ..); names are at most 255 bytes.
  --parsable       list: no heading; fields number, id, file name, tab-separated
                   (check and recover list: see above)
  --no-scale       put: refuse a picture that is not 322 x 242
  --library PATH   load this libquorbit.so instead of searching for it
)" + kDoctorOptionsHelp +
           R"(  -f, --force      replace existing files (get, get-all, backup; get-all
                   fetches again what it saved before); without it an existing
                   file is never overwritten. What is not a regular file (a
                   FIFO, a device, a folder, a link that names no file) is
                   never replaced; a link to a file is written through.
                   put: store a damaged picture (cut short, corrupt data) as
                   far as it can be decoded; without it such a file is refused
  -y, --yes        format, repair and recover restore without asking
  -q, --quiet      no progress bar and no messages but errors
  -V, --version    show the version
  -h, --help       show this help

The library is looked for in this order: --library, $QUORBIT_LIBRARY, the
program's own folder, ../cardlib beside it (build tree), ../lib beside it and
the install library folder, then the system's library search path; its name
is libquorbit.so.1.

Messages go to stderr; info, list, strings and the files get-all wrote go to
stdout.

Exit status: 0 success; 1 an operation failed or was refused; 2 wrong usage;
3 no camera found; 4 card not recognised; 5 libquorbit.so could not be loaded.
)";
}

std::string VersionText() {
    return std::string("quorbit-cli ") + QUORBIT_VERSION + "\n";
}

}  // namespace cli
