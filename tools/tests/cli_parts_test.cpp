// The small parts of quorbit-cli: command line, status text, numbers, the
// progress bar and the library search.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tools/cli/library.h"
#include "tools/cli/options.h"
#include "tools/cli/progress.h"
#include "tools/cli/text.h"

namespace {

std::optional<cli::Options> Parse(std::vector<std::string> words, std::string* error) {
    words.insert(words.begin(), "quorbit-cli");
    return cli::ParseArguments(words, error);
}

TEST(Options, OptionsMayStandAnywhere) {
    std::string error;
    auto o = Parse({"get", "--force", "2", "--library", "/x/libquorbit.so", "a.bmp"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->command, "get");
    EXPECT_EQ(o->args, (std::vector<std::string>{"2", "a.bmp"}));
    EXPECT_TRUE(o->force);
    EXPECT_FALSE(o->yes);
    EXPECT_EQ(o->library, "/x/libquorbit.so");

    o = Parse({"--library=lib.so", "-y", "get-all", "--", "-odd"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->args, std::vector<std::string>{"-odd"});
    EXPECT_EQ(o->library, "lib.so");
}

TEST(Options, Mistakes) {
    std::string error;
    EXPECT_FALSE(Parse({}, &error));
    EXPECT_FALSE(Parse({"get", "1"}, &error));
    EXPECT_NE(error.find("get N FILE"), std::string::npos);
    EXPECT_FALSE(Parse({"info", "extra"}, &error));
    EXPECT_FALSE(Parse({"frobnicate"}, &error));
    EXPECT_FALSE(Parse({"info", "--bogus"}, &error));
    EXPECT_FALSE(Parse({"info", "--library"}, &error));
    EXPECT_FALSE(Parse({"info", "--library", ""}, &error));
    EXPECT_NE(error.find("empty"), std::string::npos);
    EXPECT_FALSE(Parse({"get", "1", "x.bmp", "--format"}, &error));
    EXPECT_FALSE(Parse({"list", "--filename="}, &error));
    auto o = Parse({"--help"}, &error);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->help);
    o = Parse({"--version"}, &error);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->version);
    EXPECT_EQ(cli::VersionText().rfind("quorbit-cli 1.", 0), 0u) << cli::VersionText();
}

TEST(Options, FormatsAndPatterns) {
    std::string error;
    auto o = Parse({"get", "2", "a.JPG"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->number, 2);
    EXPECT_EQ(cli::OutputFormat(*o), cli::PictureFormat::kJpeg);
    o = Parse({"get", "2", "a.png", "--format=bmp"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(cli::OutputFormat(*o), cli::PictureFormat::kBmp) << "--format wins";
    o = Parse({"get-all", "-q", "d", "--filename", "%Y/%i.%C"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_TRUE(o->quiet);
    EXPECT_EQ(cli::OutputFormat(*o), cli::PictureFormat::kPng) << "get-all's default";
    EXPECT_EQ(cli::NamePattern(*o), "%Y/%i.%C");
    o = Parse({"format", "64"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->card_size, 64);
    EXPECT_FALSE(Parse({"get", "2", "a"}, &error)) << "no extension, no --format";
    EXPECT_NE(error.find("--format"), std::string::npos);
    EXPECT_FALSE(Parse({"delete", "-1"}, &error));
    EXPECT_FALSE(Parse({"put", "p.png", "--parsable"}, &error));
}

TEST(Options, HelpSaysHowPhotosAreNumbered) {
    const std::string help = cli::HelpText();
    EXPECT_NE(help.find("numbered from 1"), std::string::npos);
    for (const char* command :
         {"info", "list", "get N", "get-all", "put", "delete", "backup", "format", "strings",
          "--library", "--force", "--yes", "--quiet", "--version", "--format", "--filename",
          "--parsable", "--no-scale", "Exit status"}) {
        EXPECT_NE(help.find(command), std::string::npos) << command;
    }
}

TEST(Text, StatusTemplateTakesPhotosThenFreeSlots) {
    EXPECT_EQ(cli::FillStatusTemplate("%d is used up %d is available", 3, 49),
              "3 is used up 49 is available");
    // Japanese text with an ideographic space (U+3000).
    EXPECT_EQ(cli::FillStatusTemplate("%dは使い果たされました\u3000%dは利用可能です", 1, 25),
              "1は使い果たされました\u3000"
              "25は利用可能です");
    // Anything else stays as it is: no stray conversions, no third number.
    EXPECT_EQ(cli::FillStatusTemplate("%s %d %d %d %% %", 1, 2), "%s 1 2 %d % %");
}

TEST(Text, PhotoNumbers) {
    EXPECT_EQ(cli::ParsePositive("1"), 1);
    EXPECT_EQ(cli::ParsePositive("340"), 340);
    EXPECT_EQ(cli::ParsePositive("007"), 7);
    for (const char* bad : {"", "0", "-1", "+1", " 1", "1 ", "1x", "x", "99999999999"}) {
        EXPECT_FALSE(cli::ParsePositive(bad)) << bad;
    }
    EXPECT_TRUE(cli::IsCardSize(128));
    EXPECT_FALSE(cli::IsCardSize(0));
    EXPECT_FALSE(cli::IsCardSize(24));
}

TEST(Progress, BarStaysWithinItsWidth) {
    EXPECT_EQ(cli::RenderProgressLine("x", 0, 20, 10), "x  [..........]   0%");
    EXPECT_EQ(cli::RenderProgressLine("x", 10, 20, 10), "x  [#####.....]  50%");
    EXPECT_EQ(cli::RenderProgressLine("x", 20, 20, 10), "x  [##########] 100%");
    // More steps than announced (8 MB little-endian cards: 42 after 39).
    EXPECT_EQ(cli::RenderProgressLine("x", 42, 39, 10), "x  [##########] 100%");
    EXPECT_EQ(cli::RenderProgressLine("x", 3, 0, 10), "x  [..........]   0%");
}

TEST(Progress, CallbacksDriveTheSharedBar) {
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    cli::ProgressBar& bar = cli::ProgressBar::Instance();
    bar.SetOutput(out);
    bar.SetLabel("reading photo 1");
    cli::ProgressBar::BeginCallback(4);
    for (int i = 0; i < 4; ++i)
        cli::ProgressBar::StepCallback();
    EXPECT_EQ(bar.done(), 4);
    EXPECT_EQ(bar.total(), 4);
    bar.Finish();
    bar.SetOutput(nullptr);
    std::fclose(out);
    const std::string drawn(buf, len);
    std::free(buf);
    EXPECT_EQ(drawn.back(), '\n');
    EXPECT_NE(drawn.find("reading photo 1  [#"), std::string::npos);
    EXPECT_NE(drawn.find("100%"), std::string::npos);
    // One redraw per change of the figure: begin plus four steps.
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 5);
}

TEST(Library, DefaultSearchOrder) {
    const auto c = cli::DefaultLibraryCandidates("/opt/q/bin");
    ASSERT_GE(c.size(), 4u);
    EXPECT_EQ(c[0], "/opt/q/bin/libquorbit.so.1");
    EXPECT_EQ(c[1], "/opt/q/cardlib/libquorbit.so.1");
    EXPECT_EQ(c[2].rfind("/opt/q/lib", 0), 0u);
    EXPECT_EQ(c.back(), "libquorbit.so.1") << "last, the dynamic linker's own search";
}

TEST(Library, ExplicitPathThatIsNoLibrary) {
    std::string error;
    EXPECT_FALSE(cli::QuorbitLibrary::Find("/nonexistent/libquorbit.so", &error));
    EXPECT_NE(error.find("/nonexistent/libquorbit.so"), std::string::npos);
}

TEST(Library, MissingExportsAreNamed) {
    // A shared library with only some of the exports (built beside this test).
    std::string error;
    const char* partial = std::getenv("QUORBIT_TEST_PARTIAL_LIBRARY");
    ASSERT_NE(partial, nullptr);
    EXPECT_FALSE(cli::QuorbitLibrary::LoadFile(partial, &error));
    EXPECT_NE(error.find("lacks the export(s) CloseDevice"), std::string::npos) << error;
    EXPECT_EQ(error.find("OpenDevice"), std::string::npos) << error;
}

TEST(Library, EnvironmentVariableComesBeforeTheSearch) {
    setenv(cli::kLibraryEnvironmentVariable, "/nonexistent/from-env.so", 1);
    std::string error;
    EXPECT_FALSE(cli::QuorbitLibrary::Find("", &error));
    EXPECT_NE(error.find("from-env.so"), std::string::npos);
    unsetenv(cli::kLibraryEnvironmentVariable);
}

}  // namespace
