#include "tools/cli/text.h"

#include <charconv>

namespace cli {

std::string FillStatusTemplate(std::string_view templ, long photos, long free_slots) {
    std::string out;
    int used = 0;
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '%' && i + 1 < templ.size()) {
            if (templ[i + 1] == 'd' && used < 2) {
                out += std::to_string(used++ == 0 ? photos : free_slots);
                ++i;
                continue;
            }
            if (templ[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += templ[i];
    }
    return out;
}

std::optional<int> ParsePositive(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value <= 0)
        return std::nullopt;
    return value;
}

bool IsCardSize(int megabytes) {
    return megabytes == 8 || megabytes == 16 || megabytes == 32 || megabytes == 64 ||
           megabytes == 128;
}

}  // namespace cli
