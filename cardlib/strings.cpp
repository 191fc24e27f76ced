#include "cardlib/strings.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quorbit {
namespace {

// Columns: English (1033), Traditional Chinese (1028, 3076), Simplified
// Chinese (2052; 4100 differs in text 1 only), Japanese (1041). The space in
// the Japanese text 2 is U+3000, the commas of its texts 13 and 14 U+3001.
enum Column { kEnglish, kTraditional, kSimplified, kJapanese, kColumns };

constexpr std::array<std::array<const char*, kColumns>, 14> kTable = {{
    {"Pellumo", "Pellumo", "Orvanta", "Pellumo"},
    {"%d is used up %d is available", "%d張已使用 %d張剩余空間", "%d张已使用 %d张剩余空间",
     "%dは使い果たされました　%dは利用可能です"},
    {"DELETE", "刪除", "删除", "削除"},
    {"UPLOAD", "上載", "上载", "アップロード"},
    {"BACKUP", "備份", "备份", "バックアップ"},
    {"DISPLAY", "顯示", "显示", "ディスプレイ"},
    {"FORMAT", "格式化", "格式化", "フォーマット"},
    {"ABOUT", "關于", "关于", "アバウト"},
    {"READ CARD", "讀整卡", "读整卡", "読み取りカード"},
    {"WRITE CARD", "寫整卡", "写整卡", "書き取りカード"},
    {"CATALOG", "目錄", "目录", "メニュー"},
    {"EXIT", "退出", "退出", "終了"},
    {"read card error,work incomplete", "讀卡時出錯,操作未完成", "读卡时出错,操作未完成",
     "読み取りカードエラー、不完全に働いてます"},
    {"write card error,work incomplete", "寫卡時出錯,操作未完成", "写卡时出错,操作未完成",
     "書き取りカードエラー、不完全に働いてます"},
}};

constexpr char kSingaporeText1[] = "Pellumo";

Column ColumnOf(int language) {
    switch (language) {
        case kLangTraditionalChinese:
        case kLangHongKong:
            return kTraditional;
        case kLangSimplifiedChinese:
        case kLangSingapore:
            return kSimplified;
        case kLangJapanese:
            return kJapanese;
        default:
            return kEnglish;
    }
}

class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

enum class Outcome { Done, NoRoomToReset, Failed };

// One conversion into at most `limit` bytes. iconv never writes part of a
// character, so running out of room stops on a character boundary.
// *consumed tells how much of the input went in.
Outcome ConvertInto(iconv_t cd, std::string_view utf8, size_t limit, std::string& out,
                    size_t* consumed) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string buffer(limit, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t in_left = utf8.size();
    char* dst = buffer.data();
    size_t dst_left = limit;
    if (iconv(cd, &in, &in_left, &dst, &dst_left) == static_cast<size_t>(-1) && errno != E2BIG)
        return Outcome::Failed;
    *consumed = utf8.size() - in_left;
    if (iconv(cd, nullptr, nullptr, &dst, &dst_left) == static_cast<size_t>(-1))
        return errno == E2BIG ? Outcome::NoRoomToReset : Outcome::Failed;
    buffer.resize(limit - dst_left);
    out = std::move(buffer);
    return Outcome::Done;
}

// The text without its last UTF-8 character.
std::string_view DropLastCharacter(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && (static_cast<unsigned char>(text[end - 1]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end > 0 ? end - 1 : 0);
}

std::string CodesetForIconv(const std::string& codeset) {
    return codeset.empty() ? std::string("UTF-8") : codeset;
}

// The character set a locale named without one uses, as the C library
// defines it ("zh_TW" is Big5 there, "ja_JP" EUC-JP). A locale object of its
// own answers, so the host's locale is neither read nor changed. Where the
// locale is not installed, the C library's definitions of the names of the
// table's languages stand in; else empty (UTF-8).
std::string CodesetOfLocale(const char* name) {
    if (locale_t locale = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr))) {
        std::string codeset = ::nl_langinfo_l(CODESET, locale);
        ::freelocale(locale);
        return codeset;
    }
    std::string_view base = name;
    base = base.substr(0, std::min(base.find('@'), base.find('.')));
    if (base == "zh_TW")
        return "BIG5";
    if (base == "zh_HK")
        return "BIG5-HKSCS";
    if (base == "zh_CN" || base == "zh_SG")
        return "GB2312";
    if (base == "ja_JP")
        return "EUC-JP";
    return {};
}

}  // namespace

std::optional<std::string_view> TableText(int id, int language) {
    if (id < kFirstTextId || id > kLastTextId)
        return std::nullopt;
    if (id == 1 && language == kLangSingapore)
        return kSingaporeText1;
    return kTable[static_cast<size_t>(id - 1)][ColumnOf(language)];
}

LocaleChoice ParseLocaleName(std::string_view name) {
    LocaleChoice choice;
    std::string_view base = name;
    if (const size_t at = base.find('@'); at != std::string_view::npos)
        base = base.substr(0, at);
    if (const size_t dot = base.find('.'); dot != std::string_view::npos) {
        choice.codeset = std::string(base.substr(dot + 1));
        base = base.substr(0, dot);
    }
    if (base == "zh_TW") {
        choice.language = kLangTraditionalChinese;
    } else if (base == "zh_HK") {
        choice.language = kLangHongKong;
    } else if (base == "zh_CN") {
        choice.language = kLangSimplifiedChinese;
    } else if (base == "zh_SG") {
        choice.language = kLangSingapore;
    } else if (base == "ja" || base.starts_with("ja_")) {
        choice.language = kLangJapanese;
    }
    return choice;
}

LocaleChoice LocaleFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        LocaleChoice choice = ParseLocaleName(value);
        if (choice.codeset.empty())
            choice.codeset = CodesetOfLocale(value);
        return choice;
    }
    return {};
}

std::optional<std::string> ConvertText(std::string_view utf8, const std::string& codeset) {
    const std::string target = CodesetForIconv(codeset);
    Iconv cd(target.c_str(), "UTF-8");
    if (!cd.valid())
        return std::nullopt;
    std::string out;
    // A stateful character set needs room to return to its initial state at
    // the end; give back characters until that fits.
    std::string_view input = utf8;
    for (;;) {
        size_t consumed = 0;
        switch (ConvertInto(cd.get(), input, kMaxTextBytes, out, &consumed)) {
            case Outcome::Done:
                return out;
            case Outcome::Failed:
                return std::nullopt;
            case Outcome::NoRoomToReset:
                if (consumed == 0)
                    return std::nullopt;
                input = DropLastCharacter(input.substr(0, consumed));
                break;
        }
    }
}

std::optional<std::string> LocalisedText(int id) {
    const LocaleChoice locale = LocaleFromEnvironment();
    const std::optional<std::string_view> text = TableText(id, locale.language);
    if (!text)
        return std::nullopt;
    if (std::optional<std::string> converted = ConvertText(*text, locale.codeset))
        return converted;
    const std::optional<std::string_view> english = TableText(id, kLangEnglish);
    if (std::optional<std::string> converted = ConvertText(*english, locale.codeset))
        return converted;
    return std::string(english->substr(0, kMaxTextBytes));
}

}  // namespace quorbit
