// quorbit-cli on a card image, as a user runs it: the real program, a card
// file made by the real camsim, no camera and no libquorbit.so anywhere to
// be found. A card whose system block was erased is checked, repaired and
// downloaded with every photo's pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/tests/e2e_support.h"
#include "tools/tests/process.h"

namespace {

namespace fs = std::filesystem;

class CliImage : public ::testing::Test {
  protected:
    testproc::Result Cli(std::vector<std::string> words) {
        words.insert(words.begin(), cli_);
        // Commands on an image load no library: a library search would fail.
        return testproc::Run(words, 60,
                             {"QUORBIT_LIBRARY=" + (tmp_ / "no-such-libquorbit.so.1"),
                              "CAMSIM_DIR=" + (tmp_ / "no-cameras")},
                             tmp_.path());
    }
    void EraseSystemBlock(const std::string& image) {
        // An 8MbLe card keeps its system block in the last 8 KB.
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp((8 << 20) - 8192);
        const std::string erased(8192, '\xFF');
        f.write(erased.data(), static_cast<std::streamsize>(erased.size()));
    }
    void ExpectSamplesIn(const std::string& dir, size_t n) {
        std::vector<std::string> files;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().extension() == ".bmp")  // get-all keeps an index beside them
                files.push_back(e.path().string());
        }
        ASSERT_EQ(files.size(), n);
        // Each file holds one of the samples, each sample is in one file.
        std::vector<int> found(n, 0);
        for (const std::string& f : files) {
            for (size_t i = 0; i < n; ++i) {
                if (e2e::ComparePhotoFile(f, e2e::SamplePicture(i)).empty())
                    ++found[i];
            }
        }
        EXPECT_EQ(found, std::vector<int>(n, 1));
    }

    const std::string cli_ = e2e::Required("QUORBIT_TEST_CLI");
    const std::string camsim_ = e2e::Required("QUORBIT_TEST_CAMSIM");
    e2e::TempDir tmp_;
};

TEST_F(CliImage, ATornCardImageIsRepairedAndEveryPhotoComesBack) {
    const std::string card = tmp_ / "card.img";
    std::vector<std::string> make{camsim_, "make-card", card, "--geometry", "8MbLe"};
    const std::vector<std::string> samples = e2e::WriteSamplePhotos(tmp_.path());
    make.insert(make.end(), samples.begin(), samples.end());
    const auto n = static_cast<long>(samples.size());
    ASSERT_EQ(testproc::Run(make, 60).status, 0);

    auto r = Cli({"--image", card, "list", "--parsable"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), n) << r.out;
    EXPECT_EQ(Cli({"--image", card, "check"}).status, 0);
    r = Cli({"--image", card, "info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out.rfind("image: " + card + "\ncard size: 8 MB\nphotos: " + std::to_string(n) + "\n", 0),
        0u)
        << "an image is no connected camera: " << r.out;

    EraseSystemBlock(card);
    r = Cli({"--image", card, "check", "--parsable"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("card\t8MbLe\tnot-recognised\n"), std::string::npos) << r.out;
    EXPECT_EQ(Cli({"--image", card, "list"}).status, 4);
    r = Cli({"--image", card, "repair"});  // no terminal: --yes is needed
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("add --yes"), std::string::npos) << r.err;

    r = Cli({"--image", card, "repair", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> backups;
    for (const auto& e : fs::directory_iterator(tmp_.path())) {
        if (e.path().filename().string().rfind("quorbit-backup-8MB-", 0) == 0)
            backups.push_back(e.path().string());
    }
    ASSERT_EQ(backups.size(), 1u);
    r = Cli({"--image", backups[0], "check", "--parsable"});
    EXPECT_NE(r.out.find("not-recognised"), std::string::npos) << "the backup is the torn card";

    r = Cli({"--image", card, "get-all", tmp_ / "out", "--format", "bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSamplesIn(tmp_ / "out", samples.size());
    EXPECT_EQ(Cli({"--image", card, "repair", "--yes"}).status, 1) << "nothing to repair";
}

TEST_F(CliImage, WhatIsNotACardImageIsRefusedWithoutTouchingIt) {
    const std::string odd = tmp_ / "odd.img";
    std::ofstream(odd) << std::string(12345, 'x');
    auto r = Cli({"--image", odd, "check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("holds 12345 bytes"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(odd), 12345u);
    r = Cli({"--image", odd, "put", odd});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--image is for"), std::string::npos) << r.err;
    r = Cli({"--geometry", "16Mb", "check"});
    EXPECT_EQ(r.status, 2);
}

}  // namespace
