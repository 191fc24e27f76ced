// The library's localised texts: fourteen texts in six languages, held as
// UTF-8 and handed out in the character set of the user's locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorbit {

// Language identifiers of the table.
inline constexpr int kLangTraditionalChinese = 1028;
inline constexpr int kLangHongKong = 3076;
inline constexpr int kLangSimplifiedChinese = 2052;
inline constexpr int kLangSingapore = 4100;
inline constexpr int kLangEnglish = 1033;
inline constexpr int kLangJapanese = 1041;

inline constexpr int kFirstTextId = 1;
inline constexpr int kLastTextId = 14;
// Texts are cut to this many bytes (a NUL follows) without splitting a character.
inline constexpr size_t kMaxTextBytes = 254;

// The UTF-8 text of `id` in `language` (unknown languages read English);
// nullopt for an id outside 1..14.
std::optional<std::string_view> TableText(int id, int language);

struct LocaleChoice {
    int language = kLangEnglish;
    std::string codeset;  // as the locale names it; empty means UTF-8
};
// LC_ALL, else LC_MESSAGES, else LANG, as a Linux user sets them; a name
// without a character set takes the one the C library defines for it.
LocaleChoice LocaleFromEnvironment();
// Parses a locale name such as "zh_TW.Big5" or "ja_JP.eucJP@x".
LocaleChoice ParseLocaleName(std::string_view name);

// Converts UTF-8 text to `codeset`, cut to kMaxTextBytes on a character
// boundary; nullopt when the character set is unknown or cannot hold it.
std::optional<std::string> ConvertText(std::string_view utf8, const std::string& codeset);

// Text `id` in the language and character set of the environment's locale.
// When the locale's character set cannot express the text, the English text
// is given instead.
std::optional<std::string> LocalisedText(int id);

}  // namespace quorbit
