// The commands of quorbit-cli against a stand-in library whose answers each
// test sets: exit statuses, messages, index translation, refusals and the
// files left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/bmp24.h"
#include "tools/cli/commands.h"
#include "tools/cli/options.h"

namespace {

namespace fs = std::filesystem;

// The stand-in library's state: what it answers and what it was asked.
struct FakeCard {
    bool device = true;
    int flash_mb = 16;
    int count = 3;
    int slots = 52;
    int op_result = 1;            // what the five operations return
    long bytes_written = 234310;  // size of the files ReadPhotoToFile / ReadAll write
    bool write_file = true;
    bool change_count = true;  // upload/delete/format update the count
    std::vector<std::string> calls;
    int close_calls = 0;
    int open_calls = 0;
    std::vector<int> indexes;
    int format_arg = -1;
};
FakeCard g;

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
    return g.flash_mb ? g.count : 0;
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
    if (g.write_file)
        WriteBytes(path, g.bytes_written, 'a' + index);
    return g.op_result;
}
int DeletePhoto(int index) {
    g.calls.push_back("delete");
    g.indexes.push_back(index);
    if (g.op_result && g.change_count)
        --g.count;
    return g.op_result;
}
int WriteFileToFlash(const char*) {
    g.calls.push_back("put");
    if (g.op_result && g.change_count)
        ++g.count;
    return g.op_result;
}
int FormatFlash(int size) {
    g.calls.push_back("format");
    g.format_arg = size;
    if (g.op_result && g.change_count) {
        g.count = 0;
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
        EXPECT_TRUE(options) << error;
        if (!options)
            return {-1, "", error};
        const cli::QuorbitApi api = FakeApi();
        cli::CommandContext ctx{api};
        char* out_buf = nullptr;
        char* err_buf = nullptr;
        size_t out_len = 0, err_len = 0;
        ctx.io.out = open_memstream(&out_buf, &out_len);
        ctx.io.err = open_memstream(&err_buf, &err_len);
        ctx.io.in = fmemopen(answer.data(), answer.size() + 1, "r");
        ctx.io.interactive = interactive;
        ctx.force = options->force;
        ctx.yes = options->yes;
        const int status = cli::RunCommand(ctx, options->command, options->args);
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
    r = Run({"get", "0", Path("q.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("start at 1"), std::string::npos);
    r = Run({"get", "2x", Path("q.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.indexes, std::vector<int>{2}) << "refused numbers never reach the library";
    EXPECT_EQ(Listing(), std::vector<std::string>{"p.bmp"});
}

TEST_F(CommandsTest, GetNeverLeavesAFileWhenTheReadFails) {
    g.op_result = 0;
    auto r = Run({"get", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_TRUE(Listing().empty()) << "neither the file nor its temporary remains";

    // Success reported, but the file is not a whole photo bitmap.
    g = FakeCard{};
    g.bytes_written = 1000;
    r = Run({"get", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_TRUE(Listing().empty());
}

TEST_F(CommandsTest, GetKeepsAnExistingFileUnlessForced) {
    ASSERT_TRUE(tools::WriteWholeFile(Path("p.bmp"), {'k', 'e', 'e', 'p'}, nullptr));
    auto r = Run({"get", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("already exists"), std::string::npos);
    EXPECT_EQ(tools::ReadWholeFile(Path("p.bmp"), nullptr)->size(), 4u);
    EXPECT_TRUE(g.indexes.empty()) << "nothing is read for a file that would not be kept";

    r = Run({"get", "--force", "1", Path("p.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tools::ReadWholeFile(Path("p.bmp"), nullptr)->size(), 234310u);
    EXPECT_EQ(Listing(), std::vector<std::string>{"p.bmp"});
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

TEST_F(CommandsTest, GetAllNumbersFilesAndSkipsExistingOnes) {
    auto r = Run({"get-all", Path("out/sub")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Listing("out/sub"),
              (std::vector<std::string>{"photo-001.bmp", "photo-002.bmp", "photo-003.bmp"}));
    EXPECT_EQ(g.indexes, (std::vector<int>{0, 1, 2}));
    // The stand-in tags each file with its index: photo-002 holds index 1.
    EXPECT_EQ((*tools::ReadWholeFile(Path("out/sub/photo-002.bmp"), nullptr))[2], 'a' + 1);
    EXPECT_EQ(r.out, Path("out/sub/photo-001.bmp") + "\n" + Path("out/sub/photo-002.bmp") + "\n" +
                         Path("out/sub/photo-003.bmp") + "\n");

    ASSERT_TRUE(tools::WriteWholeFile(Path("out/sub/photo-002.bmp"), {'k'}, nullptr));
    g.indexes.clear();
    r = Run({"get-all", Path("out/sub")});
    EXPECT_EQ(r.status, cli::kExitFailed) << "a photo that was not saved is a failure";
    EXPECT_TRUE(g.indexes.empty()) << "existing files are skipped before reading";
    EXPECT_EQ(tools::ReadWholeFile(Path("out/sub/photo-002.bmp"), nullptr)->size(), 1u);

    r = Run({"get-all", "-f", Path("out/sub")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tools::ReadWholeFile(Path("out/sub/photo-002.bmp"), nullptr)->size(), 234310u);
}

TEST_F(CommandsTest, GetAllReportsAFailedPhotoAndGoesOn) {
    g.op_result = 0;
    const auto r = Run({"get-all", Path("out")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.indexes.size(), 3u);
    EXPECT_TRUE(Listing("out").empty());
    EXPECT_NE(r.err.find("saved 0 of 3 photos"), std::string::npos);
}

TEST_F(CommandsTest, StringsPrintsAllFourteen) {
    const auto r = Run({"strings"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 19), "1: text 1\n2: %d is ");
    EXPECT_NE(r.out.find("\n14: text 14\n"), std::string::npos);
    EXPECT_EQ(g.open_calls, 0) << "texts need no camera";
}

TEST_F(CommandsTest, PutChecksTheBitmapBeforeOpeningTheCamera) {
    tools::Image wrong(100, 80);
    ASSERT_TRUE(tools::WriteBmp24(Path("small.bmp"), wrong, nullptr));
    auto r = Run({"put", Path("small.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("100 x 80"), std::string::npos);
    r = Run({"put", Path("missing.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.open_calls, 0);
    EXPECT_TRUE(g.calls.empty());
}

TEST_F(CommandsTest, PutRefusesAFullCardAndReportsFailures) {
    tools::Image photo(tools::kPhotoWidth, tools::kPhotoHeight);
    ASSERT_TRUE(tools::WriteBmp24(Path("p.bmp"), photo, nullptr));
    auto r = Run({"put", Path("p.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(g.count, 4);
    EXPECT_NE(r.err.find("stored as photo 4"), std::string::npos);

    g.count = g.slots;
    r = Run({"put", Path("p.bmp")});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("full"), std::string::npos);
    EXPECT_EQ(g.calls.size(), 1u);

    g.count = 3;
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
    EXPECT_EQ(g.count, 2);
    r = Run({"delete", "3"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("photo index 3 out of range (card holds 2 photos)"), std::string::npos);
    g.op_result = 0;
    r = Run({"delete", "2"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_EQ(g.count, 2);
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
    EXPECT_EQ(g.count, 0);
}

TEST_F(CommandsTest, FormatOfAnUnrecognisedCardNeedsASize) {
    g.flash_mb = 0;
    auto r = Run({"format", "--yes"});
    EXPECT_EQ(r.status, cli::kExitNotRecognised);
    EXPECT_NE(r.err.find("give its size"), std::string::npos);
    r = Run({"format", "--yes", "12"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_TRUE(g.calls.empty());

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
    tools::Image photo(tools::kPhotoWidth, tools::kPhotoHeight);
    ASSERT_TRUE(tools::WriteBmp24(Path("p.bmp"), photo, nullptr));
    for (const auto& words : std::vector<std::vector<std::string>>{{"get", "1", Path("x.bmp")},
                                                                   {"get-all", Path("out")},
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

}  // namespace
