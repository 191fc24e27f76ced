#include "tools/cli/doctor_options.h"

#include "tools/cli/text.h"

namespace cli {

const char* const kDoctorCommandsHelp =
    R"(  check            read the card's directory and the first page of every slot;
                   report what is wrong (exit 1) and the deleted photos that
                   are still on the card
  recover list     the deleted photos still in their slots: K = 1, 2, ..., slot
  recover get K FILE
                   save deleted photo K (formats as for get)
  recover get-all DIR
                   save every deleted photo still on the card into DIR
  recover restore K
                   list deleted photo K on the card again, where no upload
                   takes its slot. Asks first unless --yes.
  repair --size MB rebuild the directory of a card that is not recognised or
                   whose directory is erased or torn: after a backup image in
                   the current folder, every slot holding picture data is
                   listed again, in slot order. Asks first unless --yes.
)";

const char* const kDoctorOptionsHelp =
    R"(  --image FILE     run info, list, get, get-all, check, recover or repair on
                   a card image (a backup) instead of the camera; repair and
                   recover restore change the image
  --geometry G     the kind of card the image comes from, where the image does
                   not tell: 8MbLe, 16MbLe, 8Mb, 16Mb, 32Mb, 64Mb or 128Mb
  --size MB        repair, check: the card's size where the card does not tell
)";

namespace {

bool Fail(std::string* error, std::string why) {
    *error = std::move(why);
    return false;
}

bool IsDoctorCommand(const std::string& command) {
    return command == "check" || command == "recover" || command == "repair";
}

}  // namespace

bool DoctorOption(const std::vector<std::string>& argv, size_t* i, Options* o, bool* matched,
                  std::string* error) {
    static constexpr const char* kNames[] = {"--image", "--geometry", "--size"};
    const std::string& a = argv[*i];
    *matched = false;
    for (const char* name : kNames) {
        const std::string n = name;
        std::string value;
        if (a == n) {
            if (*i + 1 >= argv.size())
                return Fail(error, n + " needs a value");
            value = argv[++*i];
        } else if (a.rfind(n + "=", 0) == 0) {
            value = a.substr(n.size() + 1);
        } else {
            continue;
        }
        *matched = true;
        if (value.empty())
            return Fail(error, n + " needs a value, not an empty one");
        if (n == "--image") {
            o->image = value;
        } else if (n == "--geometry") {
            o->geometry = value;
        } else {
            const auto mb = ParsePositive(value);
            if (!mb || !IsCardSize(*mb))
                return Fail(error, "--size must be 8, 16, 32, 64 or 128 (MB), not " + value);
            o->size_mb = *mb;
        }
        return true;
    }
    return true;
}

bool RunsOnImage(const std::string& command) {
    return command == "info" || command == "list" || command == "get" || command == "get-all" ||
           IsDoctorCommand(command);
}

bool ChangesCard(const Options& o) {
    return o.command == "repair" ||
           (o.command == "recover" && !o.args.empty() && o.args[0] == "restore");
}

bool NeedsLibrary(const Options& o) {
    return o.image.empty() && !IsDoctorCommand(o.command);
}

PictureFormat RecoverOutputFormat(const Options& o) {
    if (o.format)
        return *o.format;
    if (o.args.size() == 3 && o.args[0] == "get") {
        if (const auto f = FormatByExtension(o.args[2]))
            return *f;
    }
    return PictureFormat::kPng;
}

bool CheckDoctorArguments(Options* o, std::string* error) {
    if (!o->image.empty() && !RunsOnImage(o->command))
        return Fail(error, "--image is for info, list, get, get-all, check, recover and repair");
    if (!o->geometry.empty() && o->image.empty())
        return Fail(error, "--geometry is for --image (a camera's card tells its own kind)");
    if (o->size_mb != 0 && o->command != "repair" && o->command != "check")
        return Fail(error, "--size is for repair and check");
    if (o->command == "check" || o->command == "repair")
        return true;
    if (o->command != "recover")
        return true;
    const std::string& what = o->args[0];
    const size_t want = what == "list" ? 1 : what == "restore" ? 2 : what == "get" ? 3 : 2;
    if ((what != "list" && what != "get" && what != "get-all" && what != "restore") ||
        o->args.size() != want) {
        return Fail(error, std::string("usage: quorbit-cli ") + kRecoverUsage);
    }
    if (o->parsable && what != "list")
        return Fail(error, "--parsable is for list, check and recover list");
    if (o->format && what != "get" && what != "get-all")
        return Fail(error, "--format is for recover get and recover get-all");
    if (what == "get" || what == "restore") {
        const std::string& k = o->args[1];
        const auto number = ParsePositive(k);
        if (!number) {
            return Fail(error, k == "0" ? "deleted photos are numbered from 1"
                                        : "not a deleted photo's number: " + k);
        }
        o->number = *number;
    }
    if (what == "get" && !o->format && !FormatByExtension(o->args[2])) {
        return Fail(error, "cannot tell the format of " + o->args[2] +
                               " from its name (.bmp, .png, .jpg): add --format bmp|png|jpeg");
    }
    return true;
}

}  // namespace cli
