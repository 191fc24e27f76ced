// End to end over the socket: a camsim process per test serving a card made
// with known photos, quorbit-cli (and the library loaded with dlopen) talking
// to it, results checked against the photos and the card file itself.
// Each geometry is its own ctest entry (see CMakeLists.txt), so they run in
// parallel; big-endian cards take about 1.3 s per photo read (the protocol's
// own pauses), hence the small photo counts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/cli/library.h"
#include "tools/tests/e2e_support.h"
#include "tools/tests/process.h"

namespace {

namespace fs = std::filesystem;

struct Geometry {
    const char* name;
    int megabytes;
    int slots;
    int begin_steps;  // what ReadPhotoToFile announces
    int step_calls;   // and how often it steps
};

void PrintTo(const Geometry& g, std::ostream* os) {
    *os << g.name;
}

const Geometry kGeometries[] = {
    {"8MbLe", 8, 26, 39, 42},  {"16MbLe", 16, 52, 20, 21}, {"8Mb", 8, 26, 39, 39},
    {"16Mb", 16, 52, 20, 20},  {"32Mb", 32, 104, 20, 20},  {"64Mb", 64, 208, 20, 20},
    {"128Mb", 128, 340, 4, 4},
};

// One device directory for the whole test program: the library in this
// process reads $CAMSIM_DIR too. Tests run one camsim at a time in it.
class CamsimDirectory : public ::testing::Environment {
  public:
    void SetUp() override {
        dir_ = std::make_unique<e2e::TempDir>();
        setenv("CAMSIM_DIR", (*dir_ / "dev").c_str(), 1);
    }
    void TearDown() override { dir_.reset(); }

  private:
    std::unique_ptr<e2e::TempDir> dir_;
};
const auto* const kCamsimDirectory = ::testing::AddGlobalTestEnvironment(new CamsimDirectory);

class CliEndToEnd : public ::testing::TestWithParam<Geometry> {
  protected:
    void SetUp() override {
        cli_ = e2e::Required("QUORBIT_TEST_CLI");
        library_ = e2e::Required("QUORBIT_TEST_LIBRARY");
        camsim_ = e2e::Required("QUORBIT_TEST_CAMSIM");
        samples_ = e2e::WriteSamplePhotos(work_.path());
        card_ = work_ / "card.img";
    }
    void TearDown() override { StopCamera(); }

    const Geometry& g() const { return GetParam(); }

    void MakeCard(const std::vector<std::string>& photos) {
        std::vector<std::string> argv{camsim_, "make-card", card_, "--geometry", g().name};
        argv.insert(argv.end(), photos.begin(), photos.end());
        const auto r = testproc::Run(argv, 60);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    void MakeBlankCard() {
        const auto r =
            testproc::Run({camsim_, "make-card", card_, "--geometry", g().name, "--blank"}, 60);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    void StartCamera() {
        const std::string socket = std::string(std::getenv("CAMSIM_DIR")) + "/e2e.sock";
        ASSERT_TRUE(camera_.Start(
            {camsim_, "serve", "--card", card_, "--geometry", g().name, "--name", "e2e"},
            work_ / "camsim.log"));
        ASSERT_TRUE(testproc::WaitForPath(socket, 10)) << "camsim did not come up";
    }
    void StopCamera() {
        if (camera_.pid() > 0) {
            EXPECT_EQ(camera_.Stop(), 0) << "camsim did not end cleanly";
        }
    }

    testproc::Result Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {cli_, "--library", library_});
        return testproc::Run(args, 300, {"LC_ALL=C"}, work_.path());
    }

    std::string Info(int photos) const {
        return "connected: yes\ncard size: " + std::to_string(g().megabytes) +
               " MB\nphotos: " + std::to_string(photos) + "\nslots: " + std::to_string(g().slots) +
               "\nstatus: " + std::to_string(photos) + " is used up " +
               std::to_string(g().slots - photos) + " is available\n";
    }

    e2e::TempDir work_;
    std::string cli_, library_, camsim_, card_;
    std::vector<std::string> samples_;
    testproc::Background camera_;
};

TEST_P(CliEndToEnd, ReadsEveryPhoto) {
    MakeCard({samples_[0], samples_[1]});
    StartCamera();
    auto r = Cli({"info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Info(2));

    r = Cli({"get-all", work_ / "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, work_ / "out/photo-001.bmp\n" + work_ / "out/photo-002.bmp\n");
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "out/photo-001.bmp", e2e::SamplePicture(0)), "");
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "out/photo-002.bmp", e2e::SamplePicture(1)), "");

    r = Cli({"get", "3", work_ / "third.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("photo index 3 out of range (card holds 2 photos)"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(work_ / "third.bmp"));
}

TEST_P(CliEndToEnd, ReadsThroughDlopenWithProgress) {
    MakeCard({samples_[2], samples_[3]});
    StartCamera();
    std::string error;
    auto lib = cli::QuorbitLibrary::LoadFile(library_, &error);
    ASSERT_TRUE(lib) << error;
    const cli::QuorbitApi& q = lib->api();
    static int begins, begin_value, steps;
    begins = begin_value = steps = 0;
    q.SetProcessFunc([] { ++steps; },
                     [](int32_t n) {
                         ++begins;
                         begin_value = n;
                     });
    ASSERT_EQ(q.OpenDevice(), 1);
    EXPECT_EQ(q.IsConnect(), 1);
    EXPECT_EQ(q.GetFlashSize(), g().megabytes);
    EXPECT_EQ(q.GetPhotoTotalSize(), g().slots);
    ASSERT_EQ(q.GetPhotoCount(), 2);

    // Photo 1 lies in slot 1: on the little-endian cards an odd slot is read
    // from 16 KB before its start and shifted into place.
    const std::string path = work_ / "second.bmp";
    ASSERT_EQ(q.ReadPhotoToFile(1, path.c_str()), 1);
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(begin_value, g().begin_steps);
    EXPECT_EQ(steps, g().step_calls);
    EXPECT_EQ(e2e::ComparePhotoFile(path, e2e::SamplePicture(3)), "");

    const std::string beyond = work_ / "beyond.bmp";
    EXPECT_EQ(q.ReadPhotoToFile(2, beyond.c_str()), 0);
    EXPECT_FALSE(fs::exists(beyond));

    EXPECT_NE(q.CloseDevice(), -1);
    EXPECT_EQ(q.CloseDevice(), -1);
    EXPECT_EQ(q.GetFlashSize(), 0);
    q.SetProcessFunc(nullptr, nullptr);
}

TEST_P(CliEndToEnd, ChangesThePhotoSet) {
    MakeCard({samples_[0]});
    StartCamera();
    auto r = Cli({"put", samples_[1]});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli({"get", "2", work_ / "uploaded.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "uploaded.bmp", e2e::SamplePicture(1)), "");

    // Deleting photo 1 moves the uploaded one up; the next upload reuses the
    // freed slot 0 and becomes photo 2.
    r = Cli({"delete", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli({"put", samples_[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli({"info"});
    EXPECT_EQ(r.out, Info(2));
    r = Cli({"get-all", work_ / "after"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "after/photo-001.bmp", e2e::SamplePicture(1)), "");
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "after/photo-002.bmp", e2e::SamplePicture(2)), "");
    // Slot 0 (the card's first bytes) now holds the last upload's raw pixels:
    // blue, a second green, green, red.
    const auto card = tools::ReadWholeFile(card_, nullptr);
    ASSERT_TRUE(card);
    const uint8_t* first = e2e::SamplePicture(2).At(0, 0);
    EXPECT_EQ((*card)[0], first[0]);
    EXPECT_EQ((*card)[2], first[1]);
    EXPECT_EQ((*card)[3], first[2]);

    r = Cli({"format", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Cli({"info"}).out, Info(0));
    // The format is on the card, not only in the library's copy.
    StopCamera();
    StartCamera();
    EXPECT_EQ(Cli({"info"}).out, Info(0));
    r = Cli({"put", samples_[3]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Cli({"info"}).out, Info(1));
}

// A whole-card backup reads every block with the protocol's pauses: seconds on
// the little-endian cards, but 2 ms a page on the big-endian ones (over four
// minutes for 64 MB). CMakeLists.txt runs it by default only where it is quick.
TEST_P(CliEndToEnd, BacksUpTheCardByteForByte) {
    MakeCard({samples_[0], samples_[1]});
    StartCamera();
    auto r = Cli({"put", samples_[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli({"backup", work_ / "backup.img"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string why;
    EXPECT_TRUE(e2e::SameFileContents(work_ / "backup.img", card_, &why)) << why;
    r = Cli({"backup", work_ / "backup.img"});
    EXPECT_EQ(r.status, 1) << "an existing backup is not overwritten";

    // The backup served as a card is the same card.
    StopCamera();
    card_ = work_ / "backup.img";
    StartCamera();
    EXPECT_EQ(Cli({"info"}).out, Info(3));
    r = Cli({"get", "3", work_ / "third.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "third.bmp", e2e::SamplePicture(2)), "");
}

TEST_P(CliEndToEnd, FormatsABlankCard) {
    MakeBlankCard();
    StartCamera();
    auto r = Cli({"info"});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("card not recognised"), std::string::npos);
    r = Cli({"format", "--yes"});
    EXPECT_EQ(r.status, 4) << "no size, no format";

    r = Cli({"format", "--yes", std::to_string(g().megabytes)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Cli({"info"}).out, Info(0));
    r = Cli({"put", samples_[3]});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli({"get", "1", work_ / "first.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "first.bmp", e2e::SamplePicture(3)), "");
}

INSTANTIATE_TEST_SUITE_P(Geometries, CliEndToEnd, ::testing::ValuesIn(kGeometries),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
