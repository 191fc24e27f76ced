// The camera as the desktop sees it: the gphoto2 volume monitor and gio
// (GNOME Files' and gThumb's way to cameras) in a private D-Bus session, on
// the emulated USB bus, the camera carrying the udev properties a real
// system gives it. gvfs_session.sh drives gio; this process serves the bus
// and checks every result against the card library on a twin card.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cardlib/bitmap.h"
#include "cardlib/photo_io.h"
#include "cardlib/tests/test_support.h"
#include "gphoto/tests/gphoto_rig.h"
#include "picture/codecs.h"
#include "picture/raw_photo.h"
#include "tools/tests/process.h"

namespace gphototest {
namespace {

namespace fs = std::filesystem;
using quorbit_gphoto::DecodePng;

[[maybe_unused]] ::testing::Environment* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new DriverOnBusEnvironment);

std::string Missing() {
#ifdef QUORBIT_SANITIZER_RUNTIME
    // The sanitized driver needs the sanitizer runtime preloaded into every
    // process that loads it; gvfs's daemons do not start with it (their D-Bus
    // activation times out). The driver runs sanitized under gphoto2 and in
    // the fuzz target instead.
    return "gvfs's daemons do not start with the sanitizer runtime preloaded";
#endif
    for (const char* program :
         {"/usr/bin/gio", "/usr/bin/dbus-run-session", "/usr/libexec/gvfs-gphoto2-volume-monitor",
          "/usr/libexec/gvfsd-gphoto2"}) {
        if (::access(program, X_OK) != 0)
            return std::string(program) +
                   " is not installed (Debian packages libglib2.0-bin, dbus, gvfs-daemons, "
                   "gvfs-backends)";
    }
    return {};
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

TEST(GvfsDesktopTest, TheFileManagerShowsListsCopiesRemovesAndCopiesIn) {
    if (const std::string why = Missing(); !why.empty())
        GTEST_SKIP() << why;
    constexpr int kPhotos = 5;
    CameraPair pair = MakeCameraPair(sim::Variant::k16MbLe, kPhotos);
    Twin twin(pair.twin);
    usbtest::PlugOptions options;
    options.port = usbtest::FreshPort();
    options.udev_properties = DesktopUdevProperties();
    usbtest::MockUsbDevice* device = nullptr;
    device = &usbtest::Bus().Plug(pair.plugged, options);

    quorbit::testing::TempDir home;
    quorbit::testing::TempDir out;
    const std::string runtime = home.File("runtime");
    fs::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    // A JPEG of another size, fitted to the photo as quorbit-cli put does.
    const std::string picture = home.File("holiday.jpg");
    quorbit_gphoto::RgbPicture wide(640, 360);
    for (int y = 0; y < wide.height; ++y) {
        for (int x = 0; x < wide.width; ++x)
            wide.Set(x, y, static_cast<uint8_t>(x * 255 / 639), static_cast<uint8_t>(y * 255 / 359),
                     static_cast<uint8_t>((x + y) % 256));
    }
    const std::vector<uint8_t> jpeg = picture::EncodeJpeg(wide);
    quorbit::testing::WriteFileBytes(picture, jpeg);
    std::string why;
    const std::optional<quorbit_gphoto::RgbPicture> decoded = picture::Decode(jpeg, &why);
    ASSERT_TRUE(decoded) << why;
    const std::vector<uint8_t> bitmap =
        quorbit::EncodeBitmap(picture::RawFromPicture(*decoded, picture::SecondGreen::kZero));

    const time_t started = std::time(nullptr);
    const testproc::Result session =
        testproc::Run({"dbus-run-session", "--", "bash", QUORBIT_GVFS_SESSION_SCRIPT, out.path(),
                       picture, "ORVT0001.PNG"},
                      240,
                      {"HOME=" + home.path(), "XDG_RUNTIME_DIR=" + runtime,
                       "XDG_CONFIG_HOME=" + home.File("config"),
                       "XDG_DATA_HOME=" + home.File("data"), "XDG_CACHE_HOME=" + home.File("cache"),
                       "LC_ALL=C", "-DISPLAY", "-DBUS_SESSION_BUS_ADDRESS", "GIO_USE_VFS=gvfs"});
    usbtest::Bus().Unplug(*device);
    ASSERT_EQ(session.status, 0) << session.out << session.err << FileText(out.File("volumes.out"));

    EXPECT_NE(FileText(out.File("volumes.out")).find("Photo Camera"), std::string::npos)
        << FileText(out.File("volumes.out"));
    EXPECT_EQ(Lines(FileText(out.File("list-root.out"))), (std::vector<std::string>{"DCIM"}));
    EXPECT_EQ(Lines(FileText(out.File("list-dcim.out"))), (std::vector<std::string>{"100ORVTA"}));
    std::vector<std::string> before;
    for (const std::string& line : Lines(FileText(out.File("list-before.out"))))
        before.push_back(line.substr(0, line.find('\t')));
    EXPECT_EQ(before, (std::vector<std::string>{"ORVT0000.PNG", "ORVT0001.PNG", "ORVT0002.PNG",
                                                "ORVT0003.PNG", "ORVT0004.PNG"}));
    for (int i = 0; i < kPhotos; ++i) {
        const std::string copy = out.File("copies/" + quorbit_gphoto::PhotoFileName(i));
        const std::optional<quorbit_gphoto::RgbPicture> got =
            DecodePng(quorbit::testing::ReadFileBytes(copy), 322, 242);
        ASSERT_TRUE(got) << copy << " is not the photo's PNG";
        EXPECT_TRUE(got->rgb == LibraryPicture(twin.session(), i).rgb) << copy;
        struct stat st {};
        ASSERT_EQ(::stat(copy.c_str(), &st), 0);
        EXPECT_GE(st.st_mtime, started - 5) << copy << " is dated " << st.st_mtime;
    }

    // The card as the library leaves it after the same removal and upload.
    ASSERT_EQ(quorbit::DeletePhoto(twin.session(), 1), 1);
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*pair.plugged, twin.camera()));
    const std::vector<std::string> after = Lines(FileText(out.File("list-after.out")));
    EXPECT_EQ(std::count(after.begin(), after.end(), "ORVT0001.PNG"), 0);
    EXPECT_EQ(std::count(after.begin(), after.end(), "holiday.jpg"), 1);
    EXPECT_EQ(after.size(), static_cast<size_t>(kPhotos)) << FileText(out.File("list-after.out"));
}

// The camera pulled out while GNOME Files copies a photo: the copy fails,
// and no file that looks like the finished photo is left behind.
TEST(GvfsDesktopTest, UnpluggedDuringACopyItFailsAndLeavesNoFinishedPhoto) {
    if (const std::string why = Missing(); !why.empty())
        GTEST_SKIP() << why;
    usbtest::PlugOptions options;
    options.port = usbtest::FreshPort();
    options.udev_properties = DesktopUdevProperties();
    // The 32 MB card reads a photo page by page: hundreds of transfers.
    usbtest::MockUsbDevice* device =
        &usbtest::Bus().Plug(MakeCameraPair(sim::Variant::k32Mb, 1).plugged, options);
    quorbit::testing::TempDir home;
    quorbit::testing::TempDir out;
    const std::string runtime = home.File("runtime");
    fs::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    for (const auto& [name, value] :
         std::vector<std::pair<const char*, std::string>>{{"HOME", home.path()},
                                                          {"XDG_RUNTIME_DIR", runtime},
                                                          {"XDG_CONFIG_HOME", home.File("config")},
                                                          {"XDG_DATA_HOME", home.File("data")},
                                                          {"XDG_CACHE_HOME", home.File("cache")},
                                                          {"LC_ALL", "C"},
                                                          {"GIO_USE_VFS", "gvfs"}}) {
        ::setenv(name, value.c_str(), 1);
    }
    ::unsetenv("DISPLAY");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    testproc::Background session;
    ASSERT_TRUE(session.Start({"dbus-run-session", "--", "bash", QUORBIT_GVFS_SESSION_SCRIPT,
                               out.path(), "--copy-only", "ORVT0000.PNG"},
                              home.File("session.log")));
    const bool reading =
        usbtest::Eventually([&] { return device->counters().bulk_in > 300; }, 60000);
    usbtest::Bus().Unplug(*device);
    ASSERT_TRUE(reading) << "gio never read the photo\n" << FileText(home.File("session.log"));
    usbtest::Eventually([&] { return !session.Running(); }, 120000);
    const int status = session.Stop();
    EXPECT_NE(status, 0) << FileText(home.File("session.log"));
    EXPECT_LT(status, 128) << "killed or crashed\n" << FileText(home.File("session.log"));
    const std::string copy = out.File("copies/ORVT0000.PNG");
    if (fs::exists(copy)) {
        EXPECT_FALSE(DecodePng(quorbit::testing::ReadFileBytes(copy), 322, 242))
            << "the interrupted copy looks like a finished photo";
    }
}

}  // namespace
}  // namespace gphototest
