// What the library reads and writes besides the card: regular files only. A
// FIFO with nobody at its other end, a device node, a socket or a folder is
// refused at once, with no transfer to the camera and nothing replaced.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <future>

#include "cardlib/quorbit.h"
#include "cardlib/tests/test_support.h"

namespace quorbit::testing {
namespace {

using namespace std::chrono_literals;

class FilesTest : public CountingSessionTest {
  protected:
    void SetUp() override {
        CountingSessionTest::SetUp();
        ASSERT_NE(rig_.Attach(sim::Variant::k16MbLe, 2), nullptr);
        ASSERT_EQ(OpenDevice(), 1);
        card_before_ = rig_.CardBytes();
        rig_.log().Clear();
    }

    // The call's result. A call that blocks is a failure of the library,
    // but must not hang the test: after the bound the FIFO's other end is
    // opened (and closed again) so that the call can return; a write into
    // the closed FIFO then fails with EPIPE instead of ending the test.
    int CallWithin(const std::string& fifo, int other_end, const std::function<int()>& call) {
        struct sigaction ignore {
        }, previous{};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &previous);
        std::future<int> result = std::async(std::launch::async, call);
        if (result.wait_for(20s) != std::future_status::ready) {
            ADD_FAILURE() << "the call blocked on " << fifo;
            const int fd = ::open(fifo.c_str(), other_end | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        const int value = result.get();
        ::sigaction(SIGPIPE, &previous, nullptr);
        return value;
    }

    void ExpectCardUntouched() {
        EXPECT_EQ(rig_.log().Count(Event::Kind::Out), 0u);
        EXPECT_EQ(rig_.log().Count(Event::Kind::In), 0u);
        EXPECT_TRUE(rig_.CardBytes() == card_before_);
        EXPECT_EQ(GetPhotoCount(), 2);
    }

    std::string MakeFifo(const std::string& name) {
        const std::string path = dir_.File(name);
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        return path;
    }

    CameraRig rig_;
    TempDir dir_;
    std::vector<uint8_t> card_before_;
};

TEST_F(FilesTest, FifoWithNobodyOnTheOtherEndIsRefusedAtOnce) {
    const std::string out = MakeFifo("out.bmp");
    EXPECT_EQ(CallWithin(out, O_RDONLY, [&] { return ReadPhotoToFile(0, out.c_str()); }), 0);
    EXPECT_EQ(CallWithin(out, O_RDONLY, [&] { return ReadAll(out.c_str()); }), 0);
    const std::string in = MakeFifo("in.bmp");
    EXPECT_EQ(CallWithin(in, O_WRONLY, [&] { return WriteFileToFlash(in.c_str()); }), 0);
    ExpectCardUntouched();

    // Still FIFOs: none was replaced by a regular file.
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(dir_.Entries().size(), 2u);
}

TEST_F(FilesTest, FifoWithAPeerIsRefusedToo) {
    // A reader waiting on the FIFO would take a bitmap; the library still
    // writes only files it can put whole into place.
    const std::string out = MakeFifo("out.bmp");
    const int reader = ::open(out.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(ReadPhotoToFile(0, out.c_str()), 0);
    EXPECT_EQ(ReadAll(out.c_str()), 0);
    char byte;
    EXPECT_LE(::read(reader, &byte, 1), 0);  // nothing arrived
    ::close(reader);
    ExpectCardUntouched();
}

TEST_F(FilesTest, DevicesSocketsAndFoldersAreNeitherReadNorWritten) {
    const std::string socket_path = dir_.File("sock");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    for (const std::string& path :
         {std::string("/dev/null"), std::string("/dev/zero"), socket_path, dir_.path()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadPhotoToFile(0, path.c_str()), 0);
        EXPECT_EQ(ReadAll(path.c_str()), 0);
        EXPECT_EQ(WriteFileToFlash(path.c_str()), 0);
    }
    ::close(sock);
    ExpectCardUntouched();
}

TEST_F(FilesTest, SymbolicLinksToRegularFilesStillWork) {
    const std::string target = dir_.File("target.bmp");
    WriteFileBytes(target, std::vector<uint8_t>{'o', 'l', 'd'});
    const std::string link = dir_.File("link.bmp");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(ReadPhotoToFile(0, link.c_str()), 1);
    EXPECT_EQ(ReadFileBytes(target).size(), 234310u);
    ASSERT_EQ(WriteFileToFlash(link.c_str()), 1);
    EXPECT_EQ(GetPhotoCount(), 3);

    // A backup over an existing longer file leaves only the card's bytes.
    const std::string image = dir_.File("card.img");
    WriteFileBytes(image, std::vector<uint8_t>(16 * 1024 * 1024 + 100, 0x5A));
    ASSERT_EQ(ReadAll(image.c_str()), 1);
    EXPECT_TRUE(ReadFileBytes(image) == rig_.CardBytes());
}

// A backup never destroys the file it is to replace: it is written beside
// it and takes its place (and its permissions) only when whole. Where no file
// was, a failed backup keeps the blocks read so far.
TEST_F(FilesTest, AFailedBackupLeavesTheOldFileAsItWas) {
    enum class Failure { kNone, kReadAtBlock5, kDiskFull };
    struct Case {
        const char* name;
        Failure failure;
        bool existing;
        bool through_link;
    };
    const Case cases[] = {
        {"read fails", Failure::kReadAtBlock5, true, false},
        {"read fails, through a link", Failure::kReadAtBlock5, true, true},
        {"disk full", Failure::kDiskFull, true, false},
        {"read fails, no file before", Failure::kReadAtBlock5, false, false},
        {"success", Failure::kNone, true, false},
        {"success, through a link", Failure::kNone, true, true},
    };
    const std::vector<uint8_t> old_bytes(100, 'o');
    constexpr size_t kBlockBytes = 16384;  // 16 MB little-endian: 32 pages a block
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.File("card.img");
        if (c.existing) {
            WriteFileBytes(file, old_bytes);
            ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        }
        std::string path = file;
        if (c.through_link) {
            path = dir.File("link.img");
            ASSERT_EQ(::symlink(file.c_str(), path.c_str()), 0);
        }
        if (c.failure == Failure::kReadAtBlock5)
            rig_.recorder().SetFault(
                FailNth(Event::Kind::In, 5 * 32 + 3, platform::IoError::Failed));
        struct rlimit old_limit {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
        auto* previous = std::signal(SIGXFSZ, SIG_IGN);
        if (c.failure == Failure::kDiskFull) {
            struct rlimit small = old_limit;
            small.rlim_cur = 1 << 20;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const int result = ReadAll(path.c_str());
        setrlimit(RLIMIT_FSIZE, &old_limit);
        std::signal(SIGXFSZ, previous);
        rig_.recorder().SetFault({});

        EXPECT_EQ(result, c.failure == Failure::kNone ? 1 : 0);
        EXPECT_EQ(dir.Entries().size(), c.through_link ? 2u : 1u) << "no temporary file is left";
        const std::vector<uint8_t> now = ReadFileBytes(file);
        if (c.failure == Failure::kNone)
            EXPECT_TRUE(now == card_before_);
        else if (c.existing)
            EXPECT_TRUE(now == old_bytes);
        else
            EXPECT_EQ(now.size(), 5 * kBlockBytes);
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), c.through_link);
        if (c.existing) {
            ASSERT_EQ(::stat(file.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    }
}

// A symbolic link that names nothing is refused by every call that writes a
// file: neither the link is replaced nor a file created where it points.
TEST_F(FilesTest, ADanglingLinkIsNeverWritten) {
    const std::string target = dir_.File("nowhere.bmp");
    const std::string link = dir_.File("dangling.bmp");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    for (const auto& call : std::vector<std::function<int()>>{
             [&] { return ReadPhotoToFile(0, link.c_str()); },
             [&] { return ReadAll(link.c_str()); },
         }) {
        EXPECT_EQ(call(), 0);
        struct stat st {};
        ASSERT_EQ(::lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_FALSE(FileExists(target));
    }
    ExpectCardUntouched();
}

}  // namespace
}  // namespace quorbit::testing
