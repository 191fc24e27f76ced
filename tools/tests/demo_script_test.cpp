// scripts/demo without a display: it must download every photo of its sample
// card into the output folder, with the right pixels, and stop its camsim.
// Also the cli's texts, which need no camera.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "picture/codecs.h"
#include "testsupport/files.h"
#include "tools/cli/photo_names.h"
#include "tools/sample_photos.h"
#include "tools/tests/e2e_support.h"
#include "tools/tests/process.h"

namespace {

namespace fs = std::filesystem;

TEST(DemoScript, DownloadsEveryPhotoWithoutADisplay) {
    const std::string source = e2e::Required("QUORBIT_TEST_SOURCE_DIR");
    const std::string build = e2e::Required("QUORBIT_TEST_BUILD_DIR");
    e2e::TempDir tmp;
    const std::string out = tmp / "demo-out";
    const std::string work = tmp / "work";
    const auto r = testproc::Run({"bash", source + "/scripts/demo"}, 240,
                                 {"-DISPLAY", "QUORBIT_SKIP_BOOTSTRAP=1",
                                  "QUORBIT_BUILD_DIR=" + build, "QUORBIT_DEMO_WORK=" + work},
                                 tmp.path());
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // It says where the photos went (./demo-out of the folder it ran in).
    EXPECT_NE((r.out + r.err).find(out), std::string::npos) << r.out << r.err;

    const auto photos = tools::SamplePhotos();
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(out))
        files += e.path().extension() == ".png";
    EXPECT_EQ(files, photos.size());
    for (const auto& photo : photos) {
        const std::string name = "/photo-" + cli::PhotoId(photo.image) + ".png";
        std::string error;
        const auto bytes = testsupport::ReadWholeFile(out + name, &error);
        ASSERT_TRUE(bytes) << error;
        const auto image = picture::DecodePng(*bytes, &error);
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(e2e::ComparePhoto(*image, photo.image), "") << name;
    }
    // camsim was stopped: its socket is gone from the demo's device folder.
    for (const auto& e : fs::recursive_directory_iterator(work)) {
        EXPECT_FALSE(fs::is_socket(e.path())) << e.path() << " left behind";
    }

    // A second run finds its earlier download complete rather than failing.
    const auto again = testproc::Run({"bash", source + "/scripts/demo"}, 240,
                                     {"-DISPLAY", "QUORBIT_SKIP_BOOTSTRAP=1",
                                      "QUORBIT_BUILD_DIR=" + build, "QUORBIT_DEMO_WORK=" + work},
                                     tmp.path());
    EXPECT_EQ(again.status, 0) << again.out << again.err;
}

TEST(CliStrings, FourteenTextsInTheLocaleLanguage) {
    const std::string cli = e2e::Required("QUORBIT_TEST_CLI");
    const std::string lib = e2e::Required("QUORBIT_TEST_LIBRARY");
    auto r = testproc::Run({cli, "--library", lib, "strings"}, 30, {"LC_ALL=C", "-LANG"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 14);
    EXPECT_NE(r.out.find("\n2: %d is used up %d is available\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n13: read card error,work incomplete\n"), std::string::npos);

    r = testproc::Run({cli, "--library", lib, "strings"}, 30, {"LC_ALL=ja_JP.UTF-8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n2: %dは使い果たされました\u3000%dは利用可能です\n"), std::string::npos)
        << r.out;

    // The library found through $QUORBIT_LIBRARY, no camera needed.
    r = testproc::Run({cli, "strings"}, 30, {"LC_ALL=C", "QUORBIT_LIBRARY=" + lib});
    EXPECT_EQ(r.status, 0) << r.err;
    r = testproc::Run({cli, "strings"}, 30, {"QUORBIT_LIBRARY=/nonexistent/libquorbit.so"});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("/nonexistent/libquorbit.so"), std::string::npos);
}

TEST(CliNoCamera, UsageErrorsComeFirst) {
    const std::string cli = e2e::Required("QUORBIT_TEST_CLI");
    const std::string lib = e2e::Required("QUORBIT_TEST_LIBRARY");
    e2e::TempDir tmp;
    // Without a camera, a command that opened it first would exit 3.
    const std::vector<std::vector<std::string>> wrong = {{"get", "abc", tmp / "x.bmp"},
                                                         {"delete", "x"},
                                                         {"get", "1", tmp / "x.tiff"},
                                                         {"get-all", tmp / "o", "--format", "gif"},
                                                         {"format", "7"},
                                                         {"--library", "", "info"},
                                                         {"list", "--filename", "%q"},
                                                         {"info", "--bogus"},
                                                         {}};
    for (const auto& words : wrong) {
        std::vector<std::string> argv{cli, "--library", lib};
        argv.insert(argv.end(), words.begin(), words.end());
        const auto r = testproc::Run(argv, 30, {"CAMSIM_DIR=" + (tmp / "nothing-here")});
        EXPECT_EQ(r.status, 2) << (words.empty() ? "" : words[0]) << ": " << r.err;
        EXPECT_NE(r.err.find("Try 'quorbit-cli --help'"), std::string::npos);
    }
    auto r = testproc::Run({cli, "--version"}, 30);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("quorbit-cli ", 0), 0u) << r.out;
    r = testproc::Run({cli, "--quiet", "--library", lib, "info"}, 30,
                      {"CAMSIM_DIR=" + (tmp / "nothing-here")});
    EXPECT_EQ(r.status, 3) << "--quiet is taken; errors still said";
    EXPECT_NE(r.err.find("no camera found"), std::string::npos);
}

TEST(CliNoCamera, SaysSoAndFails) {
    const std::string cli = e2e::Required("QUORBIT_TEST_CLI");
    const std::string lib = e2e::Required("QUORBIT_TEST_LIBRARY");
    e2e::TempDir tmp;
    const auto r = testproc::Run({cli, "--library", lib, "info"}, 30,
                                 {"CAMSIM_DIR=" + (tmp / "nothing-here")});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("no camera found"), std::string::npos) << r.err;
}

}  // namespace
