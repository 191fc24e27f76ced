// The unmodified gphoto2 program as a separate process against the emulated
// camera: it inherits this process's umockdev preload and testbed, and this
// process serves its USB requests on umockdev's thread while it runs.
#include <fcntl.h>
#include <gphoto2/gphoto2-result.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cardlib/photo_io.h"
#include "cardlib/tests/test_support.h"
#include "gphoto/tests/gphoto_rig.h"
#include "picture/fit_photo.h"
#include "tools/tests/process.h"

namespace gphototest {
namespace {

namespace fs = std::filesystem;
using quorbit_gphoto::DecodePng;

class BusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("CAMLIBS", DriverFolder().c_str(), 1);
#ifdef QUORBIT_SANITIZER_RUNTIME
        // The sanitized driver module needs its runtime in gphoto2 as well.
        const char* preload = std::getenv("LD_PRELOAD");
        const std::string both = std::string(QUORBIT_SANITIZER_RUNTIME) +
                                 (preload != nullptr ? std::string(":") + preload : "");
        ::setenv("LD_PRELOAD", both.c_str(), 1);
#endif
        usbtest::Bus();
    }
};
[[maybe_unused]] ::testing::Environment* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

class GphotoProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access("/usr/bin/gphoto2", X_OK) != 0)
            GTEST_SKIP() << "the gphoto2 program is not installed (Debian package gphoto2)";
        home_ = std::make_unique<quorbit::testing::TempDir>();
        out_ = std::make_unique<quorbit::testing::TempDir>();
    }
    void TearDown() override {
        if (device_ != nullptr)
            usbtest::Bus().Unplug(*device_);
    }

    void Plug(sim::Variant variant, int photos) {
        pair_ = MakeCameraPair(variant, photos);
        twin_ = std::make_unique<Twin>(pair_.twin);
        usbtest::PlugOptions options;
        options.port = usbtest::FreshPort();
        device_ = &usbtest::Bus().Plug(pair_.plugged, options);
        port_ = GphotoPortOf(*device_);
    }

    // gphoto2 with our camera and port; its settings go to a scratch home.
    testproc::Result Gphoto(std::vector<std::string> args, double timeout_s = 120) {
        std::vector<std::string> argv = {"gphoto2", "--port", port_, "--camera",
                                         "Orvanta Photo Camera"};
        argv.insert(argv.end(), args.begin(), args.end());
        return testproc::Run(argv, timeout_s, {"HOME=" + home_->path(), "LC_ALL=C"}, out_->path());
    }

    std::vector<std::string> Downloaded() const {
        std::vector<std::string> names = out_->Entries();
        std::sort(names.begin(), names.end());
        return names;
    }

    CameraPair pair_;
    std::unique_ptr<Twin> twin_;
    usbtest::MockUsbDevice* device_ = nullptr;
    std::string port_;
    std::unique_ptr<quorbit::testing::TempDir> home_;
    std::unique_ptr<quorbit::testing::TempDir> out_;
};

std::string Said(const testproc::Result& r) {
    return "exit " + std::to_string(r.status) + "\n" + r.out + r.err;
}

TEST_F(GphotoProgramTest, FindsListsDownloadsDeletesAndUploads) {
    Plug(sim::Variant::k16MbLe, 2);
    const testproc::Result detect =
        testproc::Run({"gphoto2", "--auto-detect"}, 60, {"HOME=" + home_->path()});
    ASSERT_EQ(detect.status, 0) << Said(detect);
    EXPECT_NE(detect.out.find("Orvanta Photo Camera"), std::string::npos) << Said(detect);
    EXPECT_NE(detect.out.find(port_), std::string::npos) << Said(detect);

    const testproc::Result list = Gphoto({"--list-files"});
    ASSERT_EQ(list.status, 0) << Said(list);
    EXPECT_NE(list.out.find("slot-000.png"), std::string::npos) << Said(list);
    EXPECT_NE(list.out.find("slot-001.png"), std::string::npos) << Said(list);

    const testproc::Result summary = Gphoto({"--summary"});
    ASSERT_EQ(summary.status, 0) << Said(summary);
    EXPECT_NE(summary.out.find("Card size: 16 MB"), std::string::npos) << Said(summary);
    EXPECT_NE(summary.out.find("2 is used up 50 is available"), std::string::npos) << Said(summary);

    const testproc::Result get = Gphoto({"--get-all-files"});
    ASSERT_EQ(get.status, 0) << Said(get);
    ASSERT_EQ(Downloaded(), (std::vector<std::string>{"slot-000.png", "slot-001.png"}));
    for (int i = 0; i < 2; ++i) {
        const std::string name = out_->File("slot-00" + std::to_string(i) + ".png");
        const auto picture = DecodePng(quorbit::testing::ReadFileBytes(name), 322, 242);
        ASSERT_TRUE(picture) << name;
        EXPECT_TRUE(picture->rgb == LibraryPicture(twin_->session(), i).rgb) << name;
    }

    const testproc::Result del = Gphoto({"--delete-file", "1"});  // slot-000.png
    ASSERT_EQ(del.status, 0) << Said(del);
    ASSERT_EQ(quorbit::DeletePhoto(twin_->session(), 0), 1);
    EXPECT_TRUE(SameCard(*pair_.plugged, twin_->camera()));

    const std::string upload = out_->File("holiday.bmp");
    quorbit::testing::WriteFileBytes(upload, quorbit::testing::TestBitmap(5));
    const testproc::Result put = Gphoto({"--upload-file", upload});
    ASSERT_EQ(put.status, 0) << Said(put);
    ASSERT_EQ(quorbit::WriteFileToFlash(twin_->session(), upload), 1);
    EXPECT_TRUE(SameCard(*pair_.plugged, twin_->camera()));

    // A JPEG of another size goes on the card fitted, as quorbit-cli's put
    // stores it: the library's upload of the fitted picture's bitmap.
    quorbit_gphoto::RgbPicture square(100, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            square.Set(x, y, static_cast<uint8_t>(2 * x), static_cast<uint8_t>(2 * y), 90);
    const std::vector<uint8_t> jpeg = quorbit_gphoto::EncodeJpeg(square, 90);
    const std::string square_path = out_->File("square.jpg");
    quorbit::testing::WriteFileBytes(square_path, jpeg);
    const testproc::Result put_jpeg = Gphoto({"--upload-file", square_path});
    ASSERT_EQ(put_jpeg.status, 0) << Said(put_jpeg);
    std::string error;
    const auto decoded = picture::DecodeJpeg(jpeg, &error);
    ASSERT_TRUE(decoded) << error;
    const std::string fitted = out_->File("fitted.bmp");
    quorbit::testing::WriteFileBytes(fitted, picture::EncodeBmp(picture::FitToPhoto(*decoded)));
    ASSERT_EQ(quorbit::WriteFileToFlash(twin_->session(), fitted), 1);
    EXPECT_TRUE(SameCard(*pair_.plugged, twin_->camera()));
    ::unlink(fitted.c_str());

    const testproc::Result again = Gphoto({"--list-files"});
    EXPECT_NE(again.out.find("slot-000.png"), std::string::npos) << Said(again);
    EXPECT_NE(again.out.find("slot-001.png"), std::string::npos) << Said(again);
    EXPECT_EQ(again.out.find("holiday"), std::string::npos) << Said(again);
}

TEST_F(GphotoProgramTest, AWrongPictureIsRefusedWithWhatIsExpected) {
    Plug(sim::Variant::k16MbLe, 1);
    const std::string upload = out_->File("wrong.png");
    std::vector<uint8_t> damaged = quorbit_gphoto::EncodePng(quorbit_gphoto::RgbPicture(64, 48));
    damaged.resize(damaged.size() / 2);
    quorbit::testing::WriteFileBytes(upload, damaged);
    const testproc::Result put = Gphoto({"--upload-file", upload});
    EXPECT_NE(put.status, 0) << Said(put);
    EXPECT_NE((put.out + put.err).find("322 x 242"), std::string::npos) << Said(put);
    EXPECT_TRUE(SameCard(*pair_.plugged, twin_->camera()));
}

TEST_F(GphotoProgramTest, UnpluggedDuringADownloadItFailsAndLeavesNoFinishedPhoto) {
    Plug(sim::Variant::k32Mb, 1);  // slow reads: about 600 page commands
    testproc::Background gphoto;
    ::setenv("HOME", home_->path().c_str(), 1);
    const std::string log = home_->File("gphoto2.log");
    const fs::path cwd = fs::current_path();
    fs::current_path(out_->path());
    ASSERT_TRUE(gphoto.Start(
        {"gphoto2", "--port", port_, "--camera", "Orvanta Photo Camera", "--get-all-files"}, log));
    fs::current_path(cwd);
    // Detection reads a few blocks; a photo reads hundreds of pages.
    const bool reading =
        usbtest::Eventually([&] { return device_->counters().bulk_in > 300; }, 30000);
    usbtest::Bus().Unplug(*device_);
    device_ = nullptr;
    ASSERT_TRUE(reading) << "gphoto2 never read the photo";
    for (int i = 0; i < 300 && gphoto.Running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int status = gphoto.Stop();
    const std::vector<uint8_t> said = quorbit::testing::ReadFileBytes(log);
    const std::string output(said.begin(), said.end());
    EXPECT_NE(status, 0) << output;
    EXPECT_LT(status, 128) << "gphoto2 was killed or crashed\n" << output;
    if (std::getenv("GPHOTO_TEST_SHOW") != nullptr)
        std::fprintf(stderr, "%s\nfiles: %zu\n", output.c_str(), Downloaded().size());
    for (const std::string& name : Downloaded()) {
        EXPECT_FALSE(DecodePng(quorbit::testing::ReadFileBytes(out_->File(name)), 322, 242))
            << name << " looks like a finished photo";
    }
}

// Why gphotofs cannot run here, or empty when it can.
std::string WhyNoGphotofs() {
    if (::access("/usr/bin/gphotofs", X_OK) != 0)
        return "gphotofs is not installed (Debian package gphotofs)";
    if (::access("/usr/bin/fusermount", X_OK) != 0)
        return "fusermount is not installed (Debian package fuse)";
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return "/dev/fuse cannot be opened here: " + std::string(std::strerror(errno));
    ::close(fd);
    return {};
}

TEST_F(GphotoProgramTest, GphotofsMountsTheCameraAndAPhotoCopiesOut) {
    if (const std::string why = WhyNoGphotofs(); !why.empty())
        GTEST_SKIP() << why;
    Plug(sim::Variant::k16MbLe, 2);
    const std::string mount = home_->File("camera");
    fs::create_directories(mount);
    ::setenv("HOME", home_->path().c_str(), 1);
    testproc::Background gphotofs;
    ASSERT_TRUE(gphotofs.Start(
        {"gphotofs", mount, "-f", "--port=" + port_, "--camera=Orvanta Photo Camera"},
        home_->File("gphotofs.log")));
    std::vector<std::string> listed;
    const bool mounted = usbtest::Eventually(
        [&] {
            std::error_code ec;
            listed.clear();
            for (const auto& e : fs::directory_iterator(mount, ec))
                listed.push_back(e.path().filename().string());
            std::sort(listed.begin(), listed.end());
            return !ec && !listed.empty();
        },
        20000);
    if (mounted) {
        EXPECT_EQ(listed, (std::vector<std::string>{"slot-000.png", "slot-001.png"}));
        std::error_code ec;
        fs::copy_file(mount + "/slot-001.png", out_->File("copy.png"), ec);
        EXPECT_FALSE(ec) << ec.message();
        const auto picture =
            DecodePng(quorbit::testing::ReadFileBytes(out_->File("copy.png")), 322, 242);
        ASSERT_TRUE(picture) << "the copied file is not the photo's PNG";
        EXPECT_TRUE(picture->rgb == LibraryPicture(twin_->session(), 1).rgb);
    }
    testproc::Run({"fusermount", "-u", mount}, 30);
    gphotofs.Stop();
    const std::vector<uint8_t> log = quorbit::testing::ReadFileBytes(home_->File("gphotofs.log"));
    ASSERT_TRUE(mounted) << "gphotofs never showed the photos:\n"
                         << std::string(log.begin(), log.end());
}

}  // namespace
}  // namespace gphototest
