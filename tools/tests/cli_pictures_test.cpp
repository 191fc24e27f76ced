// The picture side of quorbit-cli: the files it reads (nothing endless,
// nothing that is no regular file), photo ids and name patterns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "picture/codecs.h"
#include "testsupport/files.h"
#include "tools/cli/input_file.h"
#include "tools/cli/photo_names.h"
#include "tools/sample_photos.h"

namespace {

namespace fs = std::filesystem;

TEST(PhotoNames, IdsIgnoreThePixelsPastTheSlot) {
    picture::Picture a = tools::SamplePhotos()[0].image;
    picture::Picture b = a;
    b.Set(300, 241, 1, 2, 3);  // past the slot: not on the card
    EXPECT_EQ(cli::PhotoId(a), cli::PhotoId(b));
    EXPECT_EQ(cli::PhotoId(a).size(), 12u);
    b.Set(221, 241, 1, 2, 3);  // the last stored pixel
    EXPECT_NE(cli::PhotoId(a), cli::PhotoId(b));
    EXPECT_NE(cli::PhotoId(a), cli::PhotoId(tools::SamplePhotos()[1].image));
}

TEST(PhotoNames, PatternsExpandTheirFields) {
    cli::PhotoNameFields f;
    f.number = 7;
    f.id = "0123456789ab";
    f.extension = "jpg";
    f.time.tm_year = 124, f.time.tm_mon = 11, f.time.tm_mday = 31;
    f.time.tm_hour = 23, f.time.tm_min = 5, f.time.tm_sec = 9;
    EXPECT_EQ(cli::ExpandNamePattern("photo-%i.%C", f), "photo-0123456789ab.jpg");
    EXPECT_EQ(cli::ExpandNamePattern("%Y/%m/%d/%H%M%S-%3n-%n%%.%C", f),
              "2024/12/31/230509-007-7%.jpg");
    std::string error;
    EXPECT_TRUE(cli::CheckNamePattern("%Y/%m/%d/%3n.%C", &error)) << error;
    for (const char* bad : {"", "%Y.png", "x-%q-%i", "%i%", "%3i", "/tmp/%i", "%i/"}) {
        EXPECT_FALSE(cli::CheckNamePattern(bad, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

class BoundedFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/quorbit-cli-input-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

// The ctest entry's time limit bounds these: a blocking open would hang it.
TEST_F(BoundedFile, RefusesWhatIsNoRegularFileWithoutWaiting) {
    std::string error;
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(cli::ReadBoundedFile(fifo, 1000, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(cli::ReadBoundedFile("/dev/zero", 1000, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
    EXPECT_FALSE(cli::ReadBoundedFile(dir_, 1000, &error));
    EXPECT_FALSE(cli::ReadBoundedFile(dir_ + "/missing", 1000, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos);
}

TEST_F(BoundedFile, ReadsNoMoreThanItTakes) {
    const std::string big = dir_ + "/big";
    ASSERT_EQ(truncate((big).c_str(), 0), -1);  // not there yet
    ASSERT_TRUE(testsupport::WriteWholeFile(big, {}, nullptr));
    ASSERT_EQ(truncate(big.c_str(), off_t{1} << 40), 0);  // a terabyte, sparse
    std::string error;
    EXPECT_FALSE(cli::ReadBoundedFile(big, picture::kMaxPictureFileBytes, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    const std::string small = dir_ + "/small";
    ASSERT_TRUE(testsupport::WriteWholeFile(small, {1, 2, 3}, nullptr));
    const auto bytes = cli::ReadBoundedFile(small, 3, &error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ(*bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(cli::ReadBoundedFile(small, 2, &error));
}

}  // namespace
