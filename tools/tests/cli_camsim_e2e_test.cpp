// End to end over the socket: a camsim process per test serving a card made
// with known photos, quorbit-cli (and the library loaded with dlopen) talking
// to it, results checked against the photos and the card file itself.
// Each geometry is its own ctest entry (see CMakeLists.txt), so they run in
// parallel; big-endian cards take about 1.3 s per photo read (the protocol's
// own pauses), hence the small photo counts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "picture/codecs.h"
#include "testsupport/files.h"
#include "tools/cli/library.h"
#include "tools/cli/photo_names.h"
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

    r = Cli({"get-all", work_ / "out", "--format", "bmp", "--filename", "photo-%3n.%C"});
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
    r = Cli({"get-all", work_ / "after", "--format", "bmp", "--filename", "photo-%3n.%C"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "after/photo-001.bmp", e2e::SamplePicture(1)), "");
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "after/photo-002.bmp", e2e::SamplePicture(2)), "");
    // Slot 0 (the card's first bytes) now holds the last upload's raw pixels:
    // blue, a second green, green, red.
    const auto card = testsupport::ReadWholeFile(card_, nullptr);
    ASSERT_TRUE(card);
    const uint8_t* first = e2e::SamplePicture(2).At(0, 0);
    EXPECT_EQ((*card)[0], first[2]);
    EXPECT_EQ((*card)[2], first[1]);
    EXPECT_EQ((*card)[3], first[0]);

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

// What users of camera tools ask for, on the quick 16 MB little-endian card:
// listings, incremental downloads, formats, pictures of every kind uploaded,
// honest reports of what failed.
class CliFeatures : public CliEndToEnd {
  protected:
    // The lines of a --parsable listing, split into their fields.
    static std::vector<std::vector<std::string>> Records(const std::string& out) {
        std::vector<std::vector<std::string>> records;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            std::string field;
            while (std::getline(parts, field, '\t'))
                fields.push_back(field);
            records.push_back(fields);
        }
        return records;
    }
    static picture::Picture ReadPicture(const std::string& path) {
        std::string error;
        auto bytes = testsupport::ReadWholeFile(path, &error);
        EXPECT_TRUE(bytes) << error;
        auto image = bytes ? picture::Decode(*bytes, &error) : std::nullopt;
        EXPECT_TRUE(image) << path << ": " << error;
        return image ? *image : picture::Picture{};
    }
};

TEST_P(CliFeatures, ListsAndFetchesOnlyWhatIsNew) {
    MakeCard({samples_[0], samples_[1]});
    StartCamera();
    auto r = Cli({"list", "--parsable"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto records = Records(r.out);
    ASSERT_EQ(records.size(), 2u) << r.out;
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(records[i].size(), 3u);
        EXPECT_EQ(records[i][0], std::to_string(i + 1));
        EXPECT_EQ(records[i][1], cli::PhotoId(e2e::SamplePicture(i)));
        EXPECT_EQ(records[i][2], "photo-" + records[i][1] + ".png");
    }
    r = Cli({"list"});
    EXPECT_EQ(r.out.rfind("No.", 0), 0u) << r.out;

    const std::string out = work_ / "out";
    r = Cli({"get-all", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out + "/" + records[0][2] + "\n" + out + "/" + records[1][2] + "\n");
    EXPECT_EQ(e2e::ComparePhoto(ReadPicture(out + "/" + records[1][2]), e2e::SamplePicture(1)), "");

    r = Cli({"get-all", out});
    EXPECT_EQ(r.status, 0) << "everything is there: " << r.err;
    EXPECT_EQ(r.out, "");

    // A new photo, and one of the old ones deleted: only the new one comes.
    ASSERT_EQ(Cli({"put", samples_[2]}).status, 0);
    ASSERT_EQ(Cli({"delete", "1"}).status, 0);
    r = Cli({"get-all", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string fresh = out + "/photo-" + cli::PhotoId(e2e::SamplePicture(2)) + ".png";
    EXPECT_EQ(r.out, fresh + "\n");
    EXPECT_EQ(e2e::ComparePhoto(ReadPicture(fresh), e2e::SamplePicture(2)), "");
    // Three photos and the index of what get-all saved.
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator{}), 4);
}

TEST_P(CliFeatures, EachFormatHoldsTheLibrarysPixels) {
    MakeCard({samples_[3], samples_[1]});
    StartCamera();
    for (const char* name : {"a.bmp", "a.png", "a.jpg"})
        ASSERT_EQ(Cli({"get", "1", work_ / name}).status, 0) << name;
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "a.bmp", e2e::SamplePicture(3)), "");
    std::string error;
    const auto bitmap = picture::DecodeBmp(*testsupport::ReadWholeFile(work_ / "a.bmp"), &error);
    ASSERT_TRUE(bitmap) << error;
    EXPECT_EQ(ReadPicture(work_ / "a.png").rgb, bitmap->rgb)
        << "PNG holds every pixel of the bitmap";
    EXPECT_EQ(*testsupport::ReadWholeFile(work_ / "a.jpg", nullptr), picture::EncodeJpeg(*bitmap))
        << "the JPEG encoder's file of the bitmap's pixels";

    auto r = Cli({"get-all", work_ / "out", "--format", "jpeg", "--filename", "%Y/%3n-%i.%C"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string year = std::to_string(1900 + local.tm_year);
    const std::string second =
        work_ / "out/" + year + "/002-" + cli::PhotoId(e2e::SamplePicture(1)) + ".jpg";
    EXPECT_NE(r.out.find(second), std::string::npos) << r.out;
}

TEST_P(CliFeatures, PutsPicturesOfOtherKindsAndSizes) {
    MakeCard({});
    StartCamera();
    // Twice the photo's size as PNG: each photo pixel the mean of four equal ones.
    const picture::Picture& sample = e2e::SamplePicture(0);
    picture::Picture big(644, 484);
    for (int y = 0; y < big.height; ++y)
        for (int x = 0; x < big.width; ++x)
            std::copy_n(sample.At(x / 2, y / 2), 3, big.At(x, y));
    ASSERT_TRUE(testsupport::WriteWholeFile(work_ / "big.png", picture::EncodePng(big), nullptr));
    auto r = Cli({"put", work_ / "big.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Cli({"get", "1", work_ / "big.bmp"}).status, 0);
    EXPECT_EQ(e2e::ComparePhotoFile(work_ / "big.bmp", sample), "");

    // A JPEG a quarter of the size with another aspect ratio: scaled up,
    // black bars left and right.
    picture::Picture square(100, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            square.Set(x, y, 200, 40, 40);
    ASSERT_TRUE(
        testsupport::WriteWholeFile(work_ / "square.jpg", picture::EncodeJpeg(square), nullptr));
    r = Cli({"put", "--no-scale", work_ / "square.jpg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("100 x 100"), std::string::npos) << r.err;
    r = Cli({"put", work_ / "square.jpg"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Cli({"get", "2", work_ / "square.png"}).status, 0);
    const picture::Picture got = ReadPicture(work_ / "square.png");
    EXPECT_EQ(got.At(10, 120)[0], 0) << "black beside the picture";
    EXPECT_NEAR(got.At(161, 120)[0], 200, 6);
    EXPECT_NEAR(got.At(161, 120)[2], 40, 6);
    EXPECT_EQ(Cli({"info"}).out, Info(2));
}

TEST_P(CliFeatures, RefusesWhatIsNoPictureWithoutWaitingOrReadingItAll) {
    MakeCard({samples_[0]});
    StartCamera();
    ASSERT_EQ(mkfifo((work_ / "fifo").c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> refused = {
        {"put", work_ / "fifo"}, {"put", "/dev/zero"}, {"put", card_}};
    for (const auto& words : refused) {
        auto args = words;
        args.insert(args.begin(), {cli_, "--library", library_});
        // Bounded in time: reading /dev/zero to its end, or waiting for a
        // writer of the FIFO, would not end.
        const auto r = testproc::Run(args, 30, {"LC_ALL=C"});
        EXPECT_FALSE(r.timed_out) << words[1];
        EXPECT_EQ(r.status, 1) << words[1] << ": " << r.err;
    }
    EXPECT_EQ(Cli({"info"}).out, Info(1)) << "nothing was stored";
}

TEST_P(CliFeatures, SaysWhatReallyFailed) {
    MakeCard({samples_[0]});
    StartCamera();
    // A file-size limit below a photo: the file system refuses, not the camera.
    for (const auto& words : std::vector<std::vector<std::string>>{{"get", "1", work_ / "p.bmp"},
                                                                   {"get-all", work_ / "out"},
                                                                   {"backup", work_ / "c.img"}}) {
        std::vector<std::string> args{"prlimit", "--fsize=100000", cli_, "--library", library_};
        args.insert(args.end(), words.begin(), words.end());
        const auto r = testproc::Run(args, 60, {"LC_ALL=C"});
        EXPECT_EQ(r.status, 1) << words[0] << ": " << r.err;
        EXPECT_NE(r.err.find("File too large"), std::string::npos) << words[0] << ": " << r.err;
        EXPECT_EQ(r.err.find("from the camera failed"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(work_ / "p.bmp"));
    EXPECT_FALSE(fs::exists(work_ / "c.img"));

    // Existing targets that are no regular files are never replaced.
    ASSERT_EQ(mkfifo((work_ / "fifo").c_str(), 0600), 0);
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"-f", "get", "1", work_ / "fifo", "--format", "bmp"},
             {"-f", "backup", work_ / "fifo"}}) {
        const auto r = Cli(words);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_fifo(work_ / "fifo"));
    }
    // Any name the folder can hold can be written.
    const std::string long_name = work_ / (std::string(246, 'p') + ".bmp");
    auto r = Cli({"get", "1", long_name});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ComparePhotoFile(long_name, e2e::SamplePicture(0)), "");
}

INSTANTIATE_TEST_SUITE_P(LittleEndian, CliFeatures, ::testing::Values(kGeometries[1]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
