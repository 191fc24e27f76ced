#include "tools/cli/photo_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace cli {
namespace {

// Pixels 0 to 221 of the bottom row are the last the card's slot holds.
constexpr int kStoredPixelsOfLastRow = 222;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsTimeField(char c) {
    return c == 'Y' || c == 'm' || c == 'd' || c == 'H' || c == 'M' || c == 'S';
}

// Walks the pattern: literal text to `text`, each field to `field`
// (letter, width). Returns false at the first malformed field.
template <typename Text, typename Field>
bool Walk(std::string_view pattern, Text&& text, Field&& field, std::string* error) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            text(pattern[i]);
            continue;
        }
        size_t j = i + 1;
        int width = 0;
        while (j < pattern.size() && IsDigit(pattern[j]) && width < 100)
            width = width * 10 + (pattern[j++] - '0');
        if (j >= pattern.size()) {
            *error = "the pattern ends in the middle of a field";
            return false;
        }
        const char letter = pattern[j];
        const bool known =
            letter == 'n' || letter == 'i' || letter == 'C' || letter == '%' || IsTimeField(letter);
        if (!known || (width > 0 && letter != 'n')) {
            *error = "unknown field %" + std::string(pattern.substr(i + 1, j - i)) +
                     " in the pattern (fields: %n %i %C %Y %m %d %H %M %S %%)";
            return false;
        }
        field(letter, width);
        i = j;
    }
    return true;
}

}  // namespace

std::string PhotoId(const picture::Picture& photo) {
    uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a, 64 bits
    for (int y = 0; y < photo.height; ++y) {
        const int stored =
            y == photo.height - 1 ? std::min(photo.width, kStoredPixelsOfLastRow) : photo.width;
        // Blue, green, red: the order of the bitmap files ids were first made of.
        for (int x = 0; x < stored; ++x) {
            const uint8_t* pixel = photo.At(x, y);
            for (int c = 2; c >= 0; --c) {
                hash ^= pixel[c];
                hash *= 0x100000001b3ULL;
            }
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "%012llx",
                  static_cast<unsigned long long>(hash & 0xffffffffffffULL));
    return text;
}

bool CheckNamePattern(std::string_view pattern, std::string* error) {
    bool own_name = false;
    std::string last_component;
    // The longest each name of the pattern can become: a number of up to
    // three digits (340 slots), an id with a copy suffix ("-340"), a
    // three-letter extension, a four-digit year.
    size_t longest = 0;
    size_t component = 0;
    const auto add = [&](size_t bytes) {
        component += bytes;
        longest = std::max(longest, component);
    };
    const bool ok = Walk(
        pattern,
        [&](char c) {
            last_component = c == '/' ? "" : last_component + c;
            if (c == '/')
                component = 0;
            else
                add(1);
        },
        [&](char letter, int width) {
            own_name = own_name || letter == 'n' || letter == 'i';
            last_component += '%';
            switch (letter) {
                case 'n':
                    add(std::max(width, 3));
                    break;
                case 'i':
                    add(12 + 4);
                    break;
                case 'Y':
                case 'C':
                    add(4);
                    break;
                case '%':
                    add(1);
                    break;
                default:
                    add(2);
            }
        },
        error);
    if (!ok)
        return false;
    if (pattern.find('\n') != std::string_view::npos) {
        *error = "the pattern may not hold a line break";
        return false;
    }
    if (pattern.empty() || pattern.front() == '/') {
        *error = "the pattern names files inside DIR: it may not be empty or start with /";
        return false;
    }
    if (last_component.empty()) {
        *error = "the pattern ends in a folder, not a file name";
        return false;
    }
    if (!StaysInside(pattern)) {
        *error = "the pattern names files inside DIR: no .. in it, and no empty folder name (//)";
        return false;
    }
    if (!own_name) {
        *error = "the pattern needs %i or %n, so that every photo gets a name of its own";
        return false;
    }
    if (longest > kMaxNameBytes) {
        *error = std::string(kNameTooLong) + ": the pattern makes names of up to " +
                 std::to_string(longest) + " bytes (at most " + std::to_string(kMaxNameBytes) + ")";
        return false;
    }
    return true;
}

std::string ExpandNamePattern(std::string_view pattern, const PhotoNameFields& fields) {
    const auto padded = [](long value, int width) {
        std::string digits = std::to_string(value);
        if (static_cast<int>(digits.size()) < width)
            digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
        return digits;
    };
    const std::tm& t = fields.time;
    std::string out;
    std::string ignored;
    Walk(
        pattern, [&](char c) { out += c; },
        [&](char letter, int width) {
            switch (letter) {
                case 'n':
                    out += padded(fields.number, width);
                    break;
                case 'i':
                    out += fields.id;
                    break;
                case 'C':
                    out += fields.extension;
                    break;
                case '%':
                    out += '%';
                    break;
                case 'Y':
                    out += padded(t.tm_year + 1900L, 4);
                    break;
                case 'm':
                    out += padded(t.tm_mon + 1, 2);
                    break;
                case 'd':
                    out += padded(t.tm_mday, 2);
                    break;
                case 'H':
                    out += padded(t.tm_hour, 2);
                    break;
                case 'M':
                    out += padded(t.tm_min, 2);
                    break;
                case 'S':
                    out += padded(t.tm_sec, 2);
                    break;
            }
        },
        &ignored);
    return out;
}

bool StaysInside(std::string_view relative) {
    if (relative.empty() || relative.front() == '/')
        return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const std::string_view name = relative.substr(start, slash - start);
        if (name.empty() || name == "..")
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

std::string_view OverlongName(std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string_view::npos)
            slash = path.size();
        if (slash - start > kMaxNameBytes)
            return path.substr(start, slash - start);
        start = slash + 1;
    }
    return {};
}

}  // namespace cli
