// The commands of quorbit-cli against a stand-in library whose answers each
// test sets: exit statuses, messages, index translation, refusals and the
// files left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "picture/codecs.h"
#include "testsupport/files.h"
#include "tools/cli/commands.h"
#include "tools/cli/options.h"
#include "tools/cli/photo_names.h"

namespace {

namespace fs = std::filesystem;

// The stand-in library's state: what it answers and what it was asked.
struct FakeCard {
    bool device = true;
    int flash_mb = 16;
    std::vector<int> photos{10, 20, 30};  // a tag per photo: its colour
    int slots = 52;
    int op_result = 1;  // what the five operations return
    long bytes_written =
        234310;  // size of the files ReadAll writes (and ReadPhotoToFile, if not 234310)
    bool write_file = true;
    bool change_count = true;  // upload/delete/format update the count
    std::vector<std::string> calls;
    int close_calls = 0;
    int open_calls = 0;
    std::vector<int> indexes;
    int format_arg = -1;
    int tail = 0;                              // past-slot pixels of the next read
    bool tail_changes = true;                  // as they do when a neighbour changes
    std::optional<picture::Picture> uploaded;  // what WriteFileToFlash was given
};
FakeCard g;

// The photo of a tag: one colour, and a different one in the bottom row's
// pixels that lie past the card's slot (the library fills them from
// whatever follows the slot).
picture::Picture TagPicture(int tag, int tail = 0) {
    picture::Picture image(picture::kPhotoWidth, picture::kPhotoHeight);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const bool past_slot = y == image.height - 1 && x >= 222;
            image.Set(x, y, static_cast<uint8_t>(past_slot ? tail : tag), 7,
                      static_cast<uint8_t>(255 - tag));
        }
    }
    return image;
}

void WriteBytes(const char* path, long n, int tag) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return;
    for (long i = 0; i < n; ++i)
        std::fputc(i == 0 ? 'B' : i == 1 ? 'M' : tag, f);
    std::fclose(f);
}

int OpenDevice() {
    ++g.open_calls;
    return g.device ? 1 : 0;
}
int CloseDevice() {
    ++g.close_calls;
    return g.device ? 1 : -1;
}
int IsConnect() {
    return g.device ? 1 : 0;
}
uint16_t GetPhotoCount() {
    return g.flash_mb ? static_cast<uint16_t>(g.photos.size()) : 0;
}
int GetPhotoTotalSize() {
    return g.flash_mb ? g.slots : 0;
}
uint16_t GetFlashSize() {
    return g.flash_mb;
}
int ReadPhotoToFile(int index, const char* path) {
    g.calls.push_back("read");
    g.indexes.push_back(index);
    if (g.write_file && g.bytes_written == 234310 && index < static_cast<int>(g.photos.size())) {
        testsupport::WriteWholeFile(
            path,
            picture::EncodeBmp(TagPicture(g.photos[index], g.tail_changes ? g.tail++ : g.tail)));
    } else if (g.write_file) {
        WriteBytes(path, g.bytes_written, 'a' + index);
    }
    return g.op_result;
}
int DeletePhoto(int index) {
    g.calls.push_back("delete");
    g.indexes.push_back(index);
    if (g.op_result && g.change_count)
        g.photos.erase(g.photos.begin() + index);
    return g.op_result;
}
int WriteFileToFlash(const char* path) {
    g.calls.push_back("put");
    const auto bitmap = testsupport::ReadWholeFile(path);
    std::string error;
    g.uploaded = bitmap ? picture::DecodeBmp(*bitmap, &error) : std::nullopt;
    if (g.op_result && g.change_count)
        g.photos.push_back(99);
    return g.op_result;
}
int FormatFlash(int size) {
    g.calls.push_back("format");
    g.format_arg = size;
    if (g.op_result && g.change_count) {
        g.photos.clear();
        if (!g.flash_mb)
            g.flash_mb = size;
    }
    return g.op_result;
}
int ReadAll(const char* path) {
    g.calls.push_back("backup");
    if (g.write_file)
        WriteBytes(path, g.bytes_written, 'x');
    return g.op_result;
}
int GetString(int id, char* buffer) {
    if (id == 2) {
        std::snprintf(buffer, 255, "%s", "%d is used up %d is available");
        return 1;
    }
    if (id < 1 || id > 14)
        return 0;
    std::snprintf(buffer, 255, "text %d", id);
    return 1;
}
void SetProcessFunc(ProgressStepFunc, ProgressBeginFunc) {}

cli::QuorbitApi FakeApi() {
    cli::QuorbitApi a;
    a.OpenDevice = OpenDevice;
    a.CloseDevice = CloseDevice;
    a.IsConnect = IsConnect;
    a.GetPhotoCount = GetPhotoCount;
    a.GetPhotoTotalSize = GetPhotoTotalSize;
    a.GetFlashSize = GetFlashSize;
    a.ReadPhotoToFile = ReadPhotoToFile;
    a.DeletePhoto = DeletePhoto;
    a.WriteFileToFlash = WriteFileToFlash;
    a.FormatFlash = FormatFlash;
    a.ReadAll = ReadAll;
    a.GetString = GetString;
    a.SetProcessFunc = SetProcessFunc;
    return a;
}

class CommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g = FakeCard{};
        char templ[] = "/tmp/quorbit-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }

    struct Result {
        int status;
        std::string out;
        std::string err;
    };

    Result Run(std::vector<std::string> words, std::string answer = "", bool interactive = false) {
        std::vector<std::string> argv{"quorbit-cli"};
        argv.insert(argv.end(), words.begin(), words.end());
        std::string error;
        auto options = cli::ParseArguments(argv, &error);
        if (!options)
            return {cli::kExitUsage, "", error};
        const cli::QuorbitApi api = FakeApi();
        cli::CommandContext ctx{api, *options};
        ctx.now = now_ != 0 ? now_ : kNow;
        char* out_buf = nullptr;
        char* err_buf = nullptr;
        size_t out_len = 0, err_len = 0;
        ctx.io.out = open_memstream(&out_buf, &out_len);
        ctx.io.err = open_memstream(&err_buf, &err_len);
        ctx.io.in = fmemopen(answer.data(), answer.size() + 1, "r");
        ctx.io.interactive = interactive;
        const int status = cli::RunCommand(ctx);
        std::fclose(ctx.io.out);
        std::fclose(ctx.io.err);
        std::fclose(ctx.io.in);
        Result r{status, out_buf, err_buf};
        std::free(out_buf);
        std::free(err_buf);
        return r;
    }

    std::string Path(const std::string& name) const { return (fs::path(dir_) / name).string(); }
    // Files in the test folder, temporary ones included.
    std::vector<std::string> Listing(const std::string& sub = "") const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(fs::path(dir_) / sub)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string Name(int tag, const char* ext = "png") {
        return "photo-" + cli::PhotoId(TagPicture(tag)) + "." + ext;
    }

    // 2024-03-05 06:07:08 local time: the download's time in name patterns.
    static std::time_t NowForTests() {
        std::tm t{};
        t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 5, t.tm_hour = 6, t.tm_min = 7, t.tm_sec = 8;
        t.tm_isdst = -1;
        return std::mktime(&t);
    }
    const std::time_t kNow = NowForTests();
    std::time_t now_ = 0;  // another time for the next runs
    std::string dir_;
};

TEST_F(CommandsTest, InfoReportsTheCardAndFillsTheStatusText) {
    const auto r = Run({"info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "connected: yes\ncard size: 16 MB\nphotos: 3\nslots: 52\n"
              "status: 3 is used up 49 is available\n");
    EXPECT_EQ(g.close_calls, 1);
}

TEST_F(CommandsTest, InfoWithoutCameraOrCard) {
    g.device = false;
    auto r = Run({"info"});
    EXPECT_EQ(r.status, cli::kExitNoCamera);
    EXPECT_NE(r.err.find("no camera found"), std::string::npos);

    g = FakeCard{};
    g.flash_mb = 0;
    r = Run({"info"});
    EXPECT_EQ(r.status, cli::kExitNotRecognised);
    EXPECT_NE(r.out.find("connected: yes"), std::string::npos);
    EXPECT_NE(r.err.find("card not recognised"), std::string::npos);
}

TEST_F(CommandsTest, GetTakesPhotoNumbersFromOneAndChecksTheRange) {
    auto r = Run({"get", "3", Path("p.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(g.indexes, std::vector<int>{2});
    EXPECT_EQ(Listing(), std::vector<std::string>{"p.bmp"});

    r = Run({"get", "7", Path("q.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("photo index 7 out of range (card holds 3 photos)"), std::string::npos);
    EXPECT_EQ(Listing(), std::vector<std::string>{"p.bmp"});
}

TEST_F(CommandsTest, UsageErrorsAreFoundBeforeTheCameraIsOpened) {
    const std::vector<std::vector<std::string>> wrong = {
        {"get", "abc", Path("x.bmp")},
        {"get", "0", Path("x.bmp")},
        {"get", "1", Path("x.gif")},
        {"get", "1", Path("x.bmp"), "--format", "gif"},
        {"delete", "x"},
        {"format", "12"},
        {"get-all", Path("o"), "--filename", "same-name.png"},
        {"get-all", Path("o"), "--filename", "%i-%q"},
        {"get-all", Path("o"), "--filename", "/abs/%i"},
        {"put", Path("p.png"), "--format", "png"},
        {"info", "--parsable"},
        {"--library", "", "info"},
        {"--library=", "info"},
        {"list", "extra"},
    };
    for (const auto& words : wrong) {
        const auto r = Run(words);
        EXPECT_EQ(r.status, cli::kExitUsage) << words[0] << " " << words[1];
    }
    EXPECT_EQ(g.open_calls, 0);
    EXPECT_TRUE(Listing().empty());
}

TEST_F(CommandsTest, GetNeverLeavesAFileWhenTheReadFails) {
    g.op_result = 0;
    auto r = Run({"get", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("reading photo 1 from the camera failed"), std::string::npos) << r.err;
    EXPECT_TRUE(Listing().empty()) << "neither the file nor its temporary remains";

    // Success reported, but the file is not a whole photo bitmap.
    g = FakeCard{};
    g.bytes_written = 1000;
    r = Run({"get", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_TRUE(Listing().empty());
}

TEST_F(CommandsTest, GetKeepsAnExistingFileUnlessForced) {
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("p.bmp"), {'k', 'e', 'e', 'p'}, nullptr));
    auto r = Run({"get", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("already exists"), std::string::npos);
    EXPECT_EQ(testsupport::ReadWholeFile(Path("p.bmp"), nullptr)->size(), 4u);
    EXPECT_EQ(g.open_calls, 0) << "the camera is not even opened for a file that would not be kept";

    r = Run({"get", "--force", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testsupport::ReadWholeFile(Path("p.bmp"), nullptr)->size(), 234310u);
    EXPECT_EQ(Listing(), std::vector<std::string>{"p.bmp"});
}

TEST_F(CommandsTest, WhatIsNotARegularFileIsNeverReplaced) {
    ASSERT_EQ(mkfifo(Path("fifo.bmp").c_str(), 0600), 0);
    fs::create_directory(Path("dir.img"));
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"-f", "get", "1", Path("fifo.bmp")},
             {"get", "1", Path("fifo.bmp")},
             {"-f", "backup", Path("fifo.bmp")},
             {"-f", "backup", Path("dir.img")},
             {"-f", "get", "1", "--format", "png", Path("dir.img")}}) {
        const auto r = Run(words);
        EXPECT_EQ(r.status, cli::kExitFailed) << words[1];
        EXPECT_NE(r.err.find("is not a regular file"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(fs::is_fifo(Path("fifo.bmp")));
    EXPECT_TRUE(fs::is_directory(Path("dir.img")));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"dir.img", "fifo.bmp"}));
    EXPECT_TRUE(g.calls.empty());
}

TEST_F(CommandsTest, AnyNameTheFolderCanHoldCanBeWritten) {
    const std::string name(250, 'n');
    auto r = Run({"get", "1", "--format", "bmp", Path(name)});
    EXPECT_EQ(r.status, 0) << r.err;
    g.bytes_written = 16L << 20;
    r = Run({"backup", Path(name + "x")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Listing(), (std::vector<std::string>{name, name + "x"}));
}

TEST_F(CommandsTest, SavedFilesGetTheUsualPermissions) {
    const mode_t old = umask(022);
    const auto r = Run({"get", "1", Path("p.bmp")});
    umask(old);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::status(Path("p.bmp")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST_F(CommandsTest, GetWritesTheFormatOfTheExtension) {
    g.tail_changes = false;  // four reads of one photo, the same pixels
    ASSERT_EQ(Run({"get", "2", Path("a.BMP")}).status, 0);
    ASSERT_EQ(Run({"get", "2", Path("a.png")}).status, 0);
    ASSERT_EQ(Run({"get", "2", Path("a.jpeg")}).status, 0);
    ASSERT_EQ(Run({"get", "2", "--format", "jpeg", Path("a.pic")}).status, 0);
    const auto bmp = *testsupport::ReadWholeFile(Path("a.BMP"), nullptr);
    const auto png = *testsupport::ReadWholeFile(Path("a.png"), nullptr);
    const auto jpeg = *testsupport::ReadWholeFile(Path("a.jpeg"), nullptr);
    std::string error;
    const auto picture = picture::DecodeBmp(bmp, &error);
    ASSERT_TRUE(picture) << error;
    const auto from_png = picture::DecodePng(png, &error);
    ASSERT_TRUE(from_png) << error;
    EXPECT_EQ(from_png->rgb, picture->rgb) << "PNG is lossless";
    EXPECT_EQ(jpeg, picture::EncodeJpeg(*picture));
    EXPECT_EQ(*testsupport::ReadWholeFile(Path("a.pic"), nullptr), jpeg);
}

TEST_F(CommandsTest, GetAllFetchesOnlyWhatIsNotThereYet) {
    auto r = Run({"get-all", Path("out/sub")});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> first{Name(10), Name(20), Name(30)};
    std::vector<std::string> sorted = first;
    sorted.push_back(".quorbit-ids");  // what get-all saved there
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Listing("out/sub"), sorted);
    EXPECT_EQ(r.out, Path("out/sub/" + first[0]) + "\n" + Path("out/sub/" + first[1]) + "\n" +
                         Path("out/sub/" + first[2]) + "\n");

    // Photo 1 deleted and a new one added: the names of the others are those
    // of their pixels, not of their numbers.
    g.photos = {20, 30, 40};
    const auto kept = *testsupport::ReadWholeFile(Path("out/sub/" + Name(20)), nullptr);
    r = Run({"get-all", Path("out/sub")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Path("out/sub/" + Name(40)) + "\n");
    EXPECT_NE(r.err.find("saved 1 photo to " + Path("out/sub") + " (2 already there)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Listing("out/sub").size(), 5u);
    EXPECT_EQ(*testsupport::ReadWholeFile(Path("out/sub/" + Name(20)), nullptr), kept);

    r = Run({"get-all", "--quiet", Path("out/sub")});
    EXPECT_EQ(r.status, 0) << "everything is there";
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "") << "--quiet";
}

TEST_F(CommandsTest, GetAllTellsCopiesOfOnePictureApart) {
    g.photos = {10, 10, 20};
    auto r = Run({"get-all", Path("out")});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string id = cli::PhotoId(TagPicture(10));
    EXPECT_TRUE(fs::exists(Path("out/photo-" + id + ".png")));
    EXPECT_TRUE(fs::exists(Path("out/photo-" + id + "-2.png")));
    EXPECT_EQ(Listing("out").size(), 4u);
}

TEST_F(CommandsTest, GetAllNamesFromAPatternAndMakesFolders) {
    auto r = Run({"get-all", Path("out"), "--format", "jpeg", "--filename", "%Y/%m-%d/%3n-%i.%C"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string id = cli::PhotoId(TagPicture(30));
    EXPECT_TRUE(fs::exists(Path("out/2024/03-05/003-" + id + ".jpg"))) << r.out;
    EXPECT_EQ(Listing("out/2024/03-05").size(), 3u);
}

TEST_F(CommandsTest, GetAllKeepsWhatIsThereUnlessForced) {
    fs::create_directory(Path("out"));
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("out/" + Name(20)), {'k'}, nullptr));
    auto r = Run({"get-all", Path("out")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testsupport::ReadWholeFile(Path("out/" + Name(20)), nullptr)->size(), 1u);
    r = Run({"get-all", "-f", Path("out")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(testsupport::ReadWholeFile(Path("out/" + Name(20)), nullptr)->size(), 1u);
}

TEST_F(CommandsTest, GetAllReportsAFailedPhotoAndGoesOn) {
    g.op_result = 0;
    const auto r = Run({"get-all", Path("out")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.indexes.size(), 3u);
    EXPECT_FALSE(fs::exists(Path("out"))) << "nothing to write: DIR is not made";
    EXPECT_NE(r.err.find("saved 0 of 3 photos"), std::string::npos);
}

TEST_F(CommandsTest, ListGivesNumberIdAndTheNameGetAllGives) {
    auto r = Run({"list", "--parsable"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string want;
    for (int i = 0; i < 3; ++i) {
        const int tag = (i + 1) * 10;
        want +=
            std::to_string(i + 1) + "\t" + cli::PhotoId(TagPicture(tag)) + "\t" + Name(tag) + "\n";
    }
    EXPECT_EQ(r.out, want);
    r = Run({"list", "--format", "bmp", "--filename", "%n.%C"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("No."), std::string::npos) << "a heading for people";
    EXPECT_NE(r.out.find("  3.bmp\n"), std::string::npos) << r.out;
    EXPECT_TRUE(Listing().empty()) << "list leaves no files";
}

TEST_F(CommandsTest, StringsPrintsAllFourteen) {
    const auto r = Run({"strings"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 19), "1: text 1\n2: %d is ");
    EXPECT_NE(r.out.find("\n14: text 14\n"), std::string::npos);
    EXPECT_EQ(g.open_calls, 0) << "texts need no camera";
}

TEST_F(CommandsTest, PutChecksThePictureBeforeOpeningTheCamera) {
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("notes.txt"), {'h', 'i', '\n'}, nullptr));
    auto r = Run({"put", Path("notes.txt")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("not a picture"), std::string::npos) << r.err;
    r = Run({"put", Path("missing.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    picture::Picture wrong(100, 80);
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("small.bmp"), picture::EncodeBmp(wrong)));
    r = Run({"put", "--no-scale", Path("small.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("100 x 80"), std::string::npos);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    r = Run({"put", Path("fifo")});
    EXPECT_EQ(r.status, cli::kExitFailed) << "a FIFO without a writer is refused, not waited on";
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos);
    r = Run({"put", "/dev/zero"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.open_calls, 0);
    EXPECT_TRUE(g.calls.empty());
}

// A damaged picture would put a half-grey photo on the card: refused before
// the camera is opened unless --force, which stores what decodes.
TEST_F(CommandsTest, PutRefusesADamagedPictureUnlessForced) {
    picture::Picture photo(322, 242);
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x)
            photo.Set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), 90);
    const std::vector<uint8_t> jpeg = picture::EncodeJpeg(photo);
    const std::vector<uint8_t> bmp = picture::EncodeBmp(photo);
    const std::vector<uint8_t> png = picture::EncodePng(photo);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool forcible;  // --force stores it
    } cases[] = {
        {"cut.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.end() - jpeg.size() / 3), true},
        {"cut.bmp", std::vector<uint8_t>(bmp.begin(), bmp.end() - 968 * 10), true},
        {"cut.png", std::vector<uint8_t>(png.begin(), png.end() - png.size() / 2), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g = FakeCard{};
        ASSERT_TRUE(testsupport::WriteWholeFile(Path(c.name), c.file));
        auto r = Run({"put", Path(c.name)});
        EXPECT_EQ(r.status, cli::kExitFailed);
        EXPECT_NE(r.err.find(c.name), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("--force") != std::string::npos, c.forcible) << r.err;
        EXPECT_EQ(g.open_calls, 0) << "the camera is not opened";
        r = Run({"put", "--force", Path(c.name)});
        EXPECT_EQ(r.status, c.forcible ? cli::kExitOk : cli::kExitFailed) << r.err;
        EXPECT_EQ(g.uploaded.has_value(), c.forcible);
        if (g.uploaded) {
            EXPECT_NEAR(g.uploaded->At(5, 100)[0], 5, 3) << "the rows that are there are stored";
        }
    }
}

TEST_F(CommandsTest, PutScalesAPictureOfAnotherSize) {
    picture::Picture wide(644, 242);  // twice as wide: half height, centred
    for (int y = 0; y < wide.height; ++y)
        for (int x = 0; x < wide.width; ++x)
            wide.Set(x, y, 200, 100, 50);
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("wide.png"), picture::EncodePng(wide), nullptr));
    const auto r = Run({"put", Path("wide.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(g.uploaded);
    EXPECT_EQ(g.uploaded->width, 322);
    EXPECT_EQ(g.uploaded->height, 242);
    const uint8_t* top = g.uploaded->At(161, 10);
    const uint8_t* middle = g.uploaded->At(161, 121);
    EXPECT_EQ(top[0] + top[1] + top[2], 0) << "black above the picture";
    EXPECT_EQ(middle[0], 200);
    EXPECT_EQ(middle[1], 100);
    EXPECT_EQ(middle[2], 50);
}

TEST_F(CommandsTest, PutRefusesAFullCardAndReportsFailures) {
    picture::Picture photo(picture::kPhotoWidth, picture::kPhotoHeight);
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("p.bmp"), picture::EncodeBmp(photo)));
    auto r = Run({"put", Path("p.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(g.photos.size(), 4u);
    EXPECT_NE(r.err.find("stored as photo 4"), std::string::npos);

    g.photos.resize(g.slots);
    r = Run({"put", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("full"), std::string::npos);
    EXPECT_EQ(g.calls.size(), 1u);

    g.photos.resize(3);
    g.op_result = 0;
    r = Run({"put", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);

    // Success claimed without a new photo on the card.
    g.op_result = 1;
    g.change_count = false;
    r = Run({"put", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
}

TEST_F(CommandsTest, DeleteTranslatesTheNumberAndChecksIt) {
    auto r = Run({"delete", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(g.indexes, std::vector<int>{0});
    EXPECT_EQ(g.photos.size(), 2u);
    r = Run({"delete", "3"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("photo index 3 out of range (card holds 2 photos)"), std::string::npos);
    g.op_result = 0;
    r = Run({"delete", "2"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.photos.size(), 2u);
}

TEST_F(CommandsTest, BackupChecksTheImageSize) {
    g.bytes_written = 16L << 20;
    auto r = Run({"backup", Path("card.img")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(Path("card.img")), 16u << 20);

    r = Run({"backup", Path("card.img")});
    EXPECT_EQ(r.status, cli::kExitFailed) << "an existing backup is kept";

    g.bytes_written = 1 << 20;
    r = Run({"backup", Path("short.img")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    g.op_result = 0;
    r = Run({"backup", Path("failed.img")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(Listing(), std::vector<std::string>{"card.img"});
}

TEST_F(CommandsTest, FormatAsksOrNeedsYes) {
    auto r = Run({"format"});
    EXPECT_EQ(r.status, cli::kExitFailed) << "no terminal and no --yes";
    EXPECT_NE(r.err.find("--yes"), std::string::npos);
    r = Run({"format"}, "n\n", true);
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("3 photos will be lost"), std::string::npos);
    EXPECT_TRUE(g.calls.empty());

    r = Run({"format"}, "y\n", true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(g.format_arg, 0) << "a recognised card keeps its geometry";
    EXPECT_TRUE(g.photos.empty());
}

TEST_F(CommandsTest, FormatOfAnUnrecognisedCardNeedsASize) {
    g.flash_mb = 0;
    auto r = Run({"format", "--yes"});
    EXPECT_EQ(r.status, cli::kExitNotRecognised);
    EXPECT_NE(r.err.find("give its size"), std::string::npos);
    r = Run({"format", "--yes", "32"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(g.format_arg, 32);
}

TEST_F(CommandsTest, FormatRefusesAnotherSizeAndReportsFailure) {
    auto r = Run({"format", "-y", "64"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_TRUE(g.calls.empty());
    g.op_result = 0;
    r = Run({"format", "-y"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.close_calls, 2);
}

TEST_F(CommandsTest, EveryCommandNeedsACamera) {
    g.device = false;
    picture::Picture photo(picture::kPhotoWidth, picture::kPhotoHeight);
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("p.bmp"), picture::EncodeBmp(photo)));
    for (const auto& words : std::vector<std::vector<std::string>>{{"get", "1", Path("x.bmp")},
                                                                   {"get-all", Path("out")},
                                                                   {"list"},
                                                                   {"put", Path("p.bmp")},
                                                                   {"delete", "1"},
                                                                   {"backup", Path("c.img")},
                                                                   {"format", "-y", "16"}}) {
        const auto r = Run(words);
        EXPECT_EQ(r.status, cli::kExitNoCamera) << words[0];
        EXPECT_NE(r.err.find("no camera found"), std::string::npos) << words[0];
    }
    EXPECT_TRUE(g.calls.empty());
}

// quorbit-cli stays inside the folder it is given, refuses names no folder
// can hold before it opens the camera, treats a dangling link alike
// everywhere, and counts every photo get-all should have saved but did not.
// One row a case, each on a fresh card and an empty folder.
TEST_F(CommandsTest, NamesStayInsideAndEveryUnsavedPhotoIsCounted) {
    using Step = std::function<void()>;
    const std::string long_name(256, 'n');
    const auto file_is = [this](const std::string& name, size_t size) {
        const auto bytes = testsupport::ReadWholeFile(Path(name), nullptr);
        EXPECT_TRUE(bytes && bytes->size() == size) << name;
    };
    const auto is_link = [this](const std::string& name) {
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(Path(name)))) << name;
    };
    const auto dangling = [this](const std::string& name) {
        fs::create_symlink(Path("nowhere"), Path(name));
    };
    struct Case {
        const char* what;
        Step before;
        std::vector<std::string> words;
        int status;
        const char* message;  // part of stderr
        bool opens_camera;
        Step check;
    };
    const Case cases[] = {
        {"a wide number field: a name of its own for each photo",
         {},
         {"get-all", Path("out"), "--filename", "%40n.%C"},
         0,
         "saved 3 photos",
         true,
         [&] {
             for (int n = 1; n <= 3; ++n)
                 EXPECT_TRUE(
                     fs::exists(Path("out/" + std::string(39, '0') + char('0' + n) + ".png")));
         }},
        {".. in the pattern",
         {},
         {"get-all", Path("out"), "--filename", "../x-%i.%C"},
         2,
         "inside DIR",
         false,
         [&] { EXPECT_TRUE(Listing().empty()); }},
        {".. after a folder of the pattern",
         {},
         {"get-all", Path("out"), "--filename", "%i/../../x-%n.%C"},
         2,
         "inside DIR",
         false,
         [&] { EXPECT_TRUE(Listing().empty()); }},
        {"a field too wide for a name",
         {},
         {"get-all", Path("out"), "--filename", "%300n.%C"},
         2,
         "file name too long",
         false,
         {}},
        {"get FILE of 256 bytes",
         {},
         {"get", "1", Path(long_name + ".png")},
         2,
         "file name too long",
         false,
         {}},
        {"backup into a folder of 256 bytes",
         {},
         {"backup", Path(long_name + "/card.img")},
         2,
         "file name too long",
         false,
         {}},
        {"delete -1", {}, {"delete", "-1"}, 2, "photo numbers start at 1", false, {}},
        {"get-all of an empty card makes no folder",
         [] { g.photos.clear(); },
         {"get-all", Path("new/dir")},
         0,
         "",
         true,
         [&] { EXPECT_FALSE(fs::exists(Path("new"))); }},
        {"get-all without a camera makes no folder",
         [] { g.device = false; },
         {"get-all", Path("new")},
         3,
         "no camera found",
         true,
         [&] { EXPECT_FALSE(fs::exists(Path("new"))); }},
        {"a name that holds another photo's file",
         [&] {
             fs::create_directory(Path("out"));
             ASSERT_TRUE(testsupport::WriteWholeFile(Path("out/2.png"), {'k'}, nullptr));
         },
         {"get-all", Path("out"), "--filename", "%n.%C"},
         1,
         "(0 already there, 1 not saved)",
         true,
         [&] {
             file_is("out/2.png", 1);
             EXPECT_TRUE(fs::exists(Path("out/1.png")));
             EXPECT_TRUE(fs::exists(Path("out/3.png")));
         }},
        {"get into a dangling link",
         [&] { dangling("p.png"); },
         {"-f", "get", "1", Path("p.png")},
         1,
         "names no file",
         false,
         [&] {
             is_link("p.png");
             EXPECT_FALSE(fs::exists(Path("nowhere")));
         }},
        {"get-all meets a dangling link",
         [&] {
             fs::create_directory(Path("out"));
             dangling("out/" + Name(20));
         },
         {"get-all", Path("out")},
         1,
         "1 not saved",
         true,
         [&] {
             is_link("out/" + Name(20));
             EXPECT_FALSE(fs::exists(Path("nowhere")));
         }},
        {"get-all into a dangling link",
         [&] { dangling("out"); },
         {"get-all", Path("out")},
         1,
         "names no file",
         false,
         [&] { EXPECT_FALSE(fs::exists(Path("nowhere"))); }},
        {"a link to a file is written through",
         [&] {
             ASSERT_TRUE(testsupport::WriteWholeFile(Path("real.bmp"), {'o'}, nullptr));
             fs::create_symlink(Path("real.bmp"), Path("link.bmp"));
         },
         {"-f", "get", "1", Path("link.bmp")},
         0,
         "",
         true,
         [&] {
             is_link("link.bmp");
             file_is("real.bmp", 234310);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g = FakeCard{};
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        if (c.before)
            c.before();
        const auto r = Run(c.words);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(g.open_calls > 0, c.opens_camera);
        if (c.check)
            c.check();
    }
}

// The manual's folder-a-day pattern: the next day's get-all finds the photos
// saved the day before by their ids and fetches only the new one; --force
// fetches every photo again.
TEST_F(CommandsTest, GetAllSkipsByIdWhereverThePatternPutPhotos) {
    const std::vector<std::string> pattern{"--filename", "%Y-%m-%d/%i.%C"};
    auto words = std::vector<std::string>{"get-all", Path("out")};
    words.insert(words.end(), pattern.begin(), pattern.end());
    auto r = Run(words);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Listing("out/2024-03-05").size(), 3u);

    now_ = kNow + 24 * 3600;
    g.photos = {20, 30, 40, 10};  // renumbered, one new
    r = Run(words);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Path("out/2024-03-06/" + cli::PhotoId(TagPicture(40)) + ".png") + "\n");
    EXPECT_NE(r.err.find("saved 1 photo to " + Path("out") + " (3 already there)"),
              std::string::npos)
        << r.err;

    words.push_back("--force");
    r = Run(words);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Listing("out/2024-03-06").size(), 4u) << "fetched again";
}

}  // namespace
