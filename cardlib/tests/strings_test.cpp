// The localised texts and the choice of language and character set.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "cardlib/quorbit.h"
#include "cardlib/strings.h"

namespace quorbit {
namespace {

class EnvGuard {
  public:
    EnvGuard() {
        for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANG", "LOCPATH"}) {
            const char* value = std::getenv(v);
            saved_.emplace_back(v, value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(v);
        }
    }
    ~EnvGuard() {
        for (auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string Get(int id) {
    char buffer[255];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    if (GetString(id, buffer) != 1)
        return "<none>";
    return buffer;
}

TEST(StringsTest, LocaleNames) {
    EXPECT_EQ(ParseLocaleName("zh_TW.Big5").language, kLangTraditionalChinese);
    EXPECT_EQ(ParseLocaleName("zh_TW.Big5").codeset, "Big5");
    EXPECT_EQ(ParseLocaleName("zh_HK.UTF-8").language, kLangHongKong);
    EXPECT_EQ(ParseLocaleName("zh_CN.GB18030").language, kLangSimplifiedChinese);
    EXPECT_EQ(ParseLocaleName("zh_SG").language, kLangSingapore);
    EXPECT_EQ(ParseLocaleName("zh_SG").codeset, "");
    EXPECT_EQ(ParseLocaleName("ja_JP.eucJP@mod").language, kLangJapanese);
    EXPECT_EQ(ParseLocaleName("ja_JP.eucJP@mod").codeset, "eucJP");
    EXPECT_EQ(ParseLocaleName("ja").language, kLangJapanese);
    EXPECT_EQ(ParseLocaleName("jam_JM").language, kLangEnglish);
    EXPECT_EQ(ParseLocaleName("zh").language, kLangEnglish);
    EXPECT_EQ(ParseLocaleName("de_DE.UTF-8").language, kLangEnglish);
    EXPECT_EQ(ParseLocaleName("C").language, kLangEnglish);
}

TEST(StringsTest, EnvironmentPrecedence) {
    EnvGuard guard;
    EXPECT_EQ(Get(3), "DELETE");
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(Get(3), "削除");
    ::setenv("LC_MESSAGES", "zh_CN.UTF-8", 1);
    EXPECT_EQ(Get(3), "删除");
    ::setenv("LC_ALL", "zh_TW.UTF-8", 1);
    EXPECT_EQ(Get(3), "刪除");
    ::setenv("LC_ALL", "", 1);  // empty counts as unset
    EXPECT_EQ(Get(3), "删除");
}

TEST(StringsTest, ExactTexts) {
    EnvGuard guard;
    EXPECT_EQ(Get(13), "read card error,work incomplete");
    EXPECT_EQ(Get(14), "write card error,work incomplete");
    EXPECT_EQ(Get(2), "%d is used up %d is available");
    EXPECT_EQ(Get(1), "Pellumo");
    EXPECT_EQ(Get(0), "<none>");
    EXPECT_EQ(Get(15), "<none>");
    EXPECT_EQ(Get(-1), "<none>");
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(Get(2), "%dは使い果たされました\xE3\x80\x80%dは利用可能です");   // U+3000
    EXPECT_EQ(Get(13), "読み取りカードエラー\xE3\x80\x81不完全に働いてます");  // U+3001
    EXPECT_EQ(Get(14), "書き取りカードエラー\xE3\x80\x81不完全に働いてます");
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(Get(1), "Orvanta");
    EXPECT_EQ(Get(13), "读卡时出错,操作未完成");
    ::setenv("LANG", "zh_SG.UTF-8", 1);
    EXPECT_EQ(Get(1), "Pellumo");
    EXPECT_EQ(Get(2), "%d张已使用 %d张剩余空间");
    ::setenv("LANG", "zh_HK.UTF-8", 1);
    EXPECT_EQ(Get(2), "%d張已使用 %d張剩余空間");
    EXPECT_EQ(Get(14), "寫卡時出錯,操作未完成");
}

TEST(StringsTest, ConvertsToTheLocalesCharacterSet) {
    EnvGuard guard;
    ::setenv("LANG", "zh_CN.GB18030", 1);
    EXPECT_EQ(Get(3), "\xC9\xBE\xB3\xFD");  // 删除
    ::setenv("LANG", "zh_TW.Big5", 1);
    EXPECT_EQ(Get(3), "\xA7\x52\xB0\xA3");  // 刪除
    ::setenv("LANG", "ja_JP.eucJP", 1);
    EXPECT_EQ(Get(3), "\xBA\xEF\xBD\xFC");  // 削除
    // The ideographic space in EUC-JP.
    EXPECT_NE(Get(2).find("\xA1\xA1"), std::string::npos);
    // A character set that cannot hold the text gives the English text.
    ::setenv("LANG", "ja_JP.ISO-8859-1", 1);
    EXPECT_EQ(Get(3), "DELETE");
    // An unknown character set too.
    ::setenv("LANG", "zh_CN.NO-SUCH-CHARSET", 1);
    EXPECT_EQ(Get(3), "DELETE");
}

// A locale named without a character set uses the one the C library
// defines for it: asked of the C library where the locale is installed, and
// glibc's definition of the name where it is not.
TEST(StringsTest, LocaleWithoutCharacterSetUsesItsOwn) {
    EnvGuard guard;
    const std::string host_locale = std::setlocale(LC_ALL, nullptr);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quorbit-locales-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("LOCPATH", dir.c_str(), 1);  // only the locales made here exist

    ::setenv("LANG", "zh_TW", 1);
    EXPECT_EQ(LocaleFromEnvironment().codeset, "BIG5");
    EXPECT_EQ(Get(3), "\xA7\x52\xB0\xA3");  // 刪除 in Big5
    ::setenv("LANG", "zh_CN", 1);
    EXPECT_EQ(Get(3), "\xC9\xBE\xB3\xFD");  // 删除 in GB2312
    ::setenv("LANG", "ja_JP", 1);
    EXPECT_EQ(Get(3), "\xBA\xEF\xBD\xFC");  // 削除 in EUC-JP

    // An installed zh_HK made with plain Big5 (glibc's own zh_HK is
    // BIG5-HKSCS): the C library's answer counts. (A name looked up once is
    // remembered by the C library, found or not: this one is new here.)
    const std::string make =
        "localedef -c -i zh_HK -f BIG5 '" + (dir / "zh_HK").string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) == 0) {
        ::setenv("LANG", "zh_HK", 1);
        EXPECT_EQ(LocaleFromEnvironment().codeset, "BIG5");
        EXPECT_EQ(Get(3), "\xA7\x52\xB0\xA3");
    } else {
        ADD_FAILURE() << "localedef could not make zh_HK.BIG5 (package locales missing?)";
    }
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), host_locale);
    std::filesystem::remove_all(dir);
}

TEST(StringsTest, CutsOnCharacterBoundaries) {
    std::string long_text;
    for (int i = 0; i < 200; ++i)
        long_text += "削";  // 3 bytes each in UTF-8
    auto utf8 = ConvertText(long_text, "UTF-8");
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8->size(), 252u);  // 84 whole characters
    auto euc = ConvertText(long_text, "EUC-JP");
    ASSERT_TRUE(euc);
    EXPECT_EQ(euc->size(), 254u);  // 127 two-byte characters
    // A stateful set: the shift back to ASCII must still fit.
    auto iso2022 = ConvertText(long_text, "ISO-2022-JP");
    ASSERT_TRUE(iso2022);
    EXPECT_LE(iso2022->size(), 254u);
    EXPECT_EQ(iso2022->substr(iso2022->size() - 3), "\x1B(B");
}

}  // namespace
}  // namespace quorbit
