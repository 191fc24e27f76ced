#include "sim/camsim_options.h"

#include <charconv>

#include "sim/camera.h"

namespace sim {
namespace {

bool ParseHex16(const std::string& text, uint16_t* out) {
    std::string_view s = text;
    if (s.starts_with("0x") || s.starts_with("0X"))
        s.remove_prefix(2);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value > 0xFFFF) {
        return false;
    }
    *out = static_cast<uint16_t>(value);
    return true;
}

bool ParseUnsigned(const std::string& text, uint64_t* out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ValidCameraName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.')
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

std::string CamsimUsage() {
    return "usage:\n"
           "  camsim serve --card FILE --geometry G [--name NAME] [--vid HEX] [--pid HEX]\n"
           "               [--manufacturer S] [--product S] [--serial S]\n"
           "               [--fail-in K[+][:aborted|gone|failed]] [--fail-out K[+][:KIND]]\n"
           "               [--drop-after K] [--latency-us N]\n"
           "  camsim make-card FILE --geometry G [--blank] [PHOTO...]\n"
           "  camsim --help\n"
           "\n"
           "G is one of " +
           VariantList() +
           ".\n"
           "serve presents the card as the camera sim:NAME (default NAME: camera) in\n"
           "$CAMSIM_DIR until SIGINT or SIGTERM. --fail-in/--fail-out fail the K-th IN or\n"
           "OUT transfer (every one from the K-th with '+'), with the given kind (default\n"
           "failed); --drop-after unplugs the camera after K transfers.\n"
           "make-card writes a formatted card holding the photos (PNG, JPEG or BMP,\n"
           "fitted to 322 x 242) in slots 0..n-1, or with --blank an all-erased card.\n";
}

std::optional<CamsimCommand> ParseCamsimArgs(const std::vector<std::string>& args,
                                             std::string* error) {
    auto fail = [&](std::string text) -> std::optional<CamsimCommand> {
        *error = std::move(text);
        return std::nullopt;
    };
    CamsimCommand cmd;
    if (args.empty())
        return fail("no command given");
    const std::string& verb = args[0];
    if (verb == "--help" || verb == "-h" || verb == "help")
        return cmd;

    std::optional<Variant> variant;
    std::vector<std::string> positional;
    if (verb == "serve") {
        cmd.kind = CamsimCommand::Kind::Serve;
        cmd.serve.attributes = DefaultAttributes();
    } else if (verb == "make-card") {
        cmd.kind = CamsimCommand::Kind::MakeCard;
    } else {
        return fail("unknown command \"" + verb + "\"");
    }
    const bool serve = cmd.kind == CamsimCommand::Kind::Serve;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            cmd.kind = CamsimCommand::Kind::Help;
            return cmd;
        }
        if (!a.starts_with("--")) {
            positional.push_back(a);
            continue;
        }
        if (a == "--blank" && !serve) {
            cmd.make_card.blank = true;
            continue;
        }
        if (i + 1 >= args.size())
            return fail("option " + a + " needs a value");
        const std::string& v = args[++i];
        if (a == "--geometry") {
            variant = ParseVariant(v);
            if (!variant)
                return fail("unknown geometry \"" + v + "\"; one of " + VariantList());
        } else if (a == "--card" && serve) {
            cmd.serve.card = v;
        } else if (a == "--name" && serve) {
            if (!ValidCameraName(v)) {
                return fail("bad camera name \"" + v +
                            "\": letters, digits, '-', '_', '.', not starting with '.'");
            }
            cmd.serve.name = v;
        } else if ((a == "--vid" || a == "--pid") && serve) {
            uint16_t* field =
                a == "--vid" ? &cmd.serve.attributes.vendor_id : &cmd.serve.attributes.product_id;
            if (!ParseHex16(v, field))
                return fail(a + " needs a 16-bit hex number, not " + v);
        } else if (a == "--manufacturer" && serve) {
            cmd.serve.attributes.manufacturer = v;
        } else if (a == "--product" && serve) {
            cmd.serve.attributes.product = v;
        } else if (a == "--serial" && serve) {
            cmd.serve.attributes.serial_number = v;
        } else if ((a == "--fail-in" || a == "--fail-out") && serve) {
            std::optional<FaultRule> rule = ParseFaultRule(v, error);
            if (!rule)
                return std::nullopt;
            (a == "--fail-in" ? cmd.serve.faults.fail_in : cmd.serve.faults.fail_out) = rule;
        } else if (a == "--drop-after" && serve) {
            uint64_t k = 0;
            if (!ParseUnsigned(v, &k))
                return fail("--drop-after needs a count, not " + v);
            cmd.serve.faults.drop_after = k;
        } else if (a == "--latency-us" && serve) {
            uint64_t us = 0;
            if (!ParseUnsigned(v, &us) || us > 10'000'000) {
                return fail("--latency-us needs a number of microseconds up to 10000000");
            }
            cmd.serve.faults.latency = std::chrono::microseconds(us);
        } else {
            return fail("unknown option " + a + " for " + verb);
        }
    }
    if (!variant)
        return fail(verb + " needs --geometry G (" + VariantList() + ")");
    if (serve) {
        cmd.serve.variant = *variant;
        if (!positional.empty())
            return fail("unexpected argument " + positional[0]);
        if (cmd.serve.card.empty())
            return fail("serve needs --card FILE");
    } else {
        cmd.make_card.variant = *variant;
        if (positional.empty())
            return fail("make-card needs the card FILE");
        cmd.make_card.card = positional[0];
        cmd.make_card.photos.assign(positional.begin() + 1, positional.end());
        if (cmd.make_card.blank && !cmd.make_card.photos.empty()) {
            return fail("--blank takes no photos");
        }
    }
    return cmd;
}

}  // namespace sim
