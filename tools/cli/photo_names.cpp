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
    const bool ok = Walk(
        pattern, [&](char c) { last_component = c == '/' ? "" : last_component + c; },
        [&](char letter, int) {
            own_name = own_name || letter == 'n' || letter == 'i';
            last_component += '%';
        },
        error);
    if (!ok)
        return false;
    if (pattern.empty() || pattern.front() == '/') {
        *error = "the pattern names files inside DIR: it may not be empty or start with /";
        return false;
    }
    if (last_component.empty()) {
        *error = "the pattern ends in a folder, not a file name";
        return false;
    }
    if (!own_name) {
        *error = "the pattern needs %i or %n, so that every photo gets a name of its own";
        return false;
    }
    return true;
}

std::string ExpandNamePattern(std::string_view pattern, const PhotoNameFields& fields) {
    std::string out;
    std::string ignored;
    Walk(
        pattern, [&](char c) { out += c; },
        [&](char letter, int width) {
            char buffer[32];
            switch (letter) {
                case 'n':
                    std::snprintf(buffer, sizeof buffer, "%0*d", width, fields.number);
                    out += buffer;
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
                default: {
                    const char format[] = {'%', letter, '\0'};
                    std::strftime(buffer, sizeof buffer, format, &fields.time);
                    out += buffer;
                }
            }
        },
        &ignored);
    return out;
}

}  // namespace cli
