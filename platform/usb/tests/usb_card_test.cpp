// libquorbit.so, loaded as a host loads it, reaching the simulated camera
// through its own USB backend on an emulated bus: the library needs no
// change to work with a real camera.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "cardlib/quorbit.h"
#include "picture/raw_photo.h"
#include "platform/usb/tests/usb_bus_fixture.h"

namespace usbtest {
namespace {

class BusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { Bus(); }
};
[[maybe_unused]] ::testing::Environment* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

struct Api {
    decltype(&::OpenDevice) OpenDevice;
    decltype(&::CloseDevice) CloseDevice;
    decltype(&::GetFlashSize) GetFlashSize;
    decltype(&::GetPhotoCount) GetPhotoCount;
    decltype(&::ReadPhotoToFile) ReadPhotoToFile;
    decltype(&::WriteFileToFlash) WriteFileToFlash;
    decltype(&::DeletePhoto) DeletePhoto;
    decltype(&::FormatFlash) FormatFlash;
};

Api& Library() {
    static Api api = [] {
        void* h = ::dlopen(QUORBIT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!h)
            throw std::runtime_error(::dlerror());
        Api a{};
        a.OpenDevice = reinterpret_cast<decltype(a.OpenDevice)>(::dlsym(h, "OpenDevice"));
        a.CloseDevice = reinterpret_cast<decltype(a.CloseDevice)>(::dlsym(h, "CloseDevice"));
        a.GetFlashSize = reinterpret_cast<decltype(a.GetFlashSize)>(::dlsym(h, "GetFlashSize"));
        a.GetPhotoCount = reinterpret_cast<decltype(a.GetPhotoCount)>(::dlsym(h, "GetPhotoCount"));
        a.ReadPhotoToFile =
            reinterpret_cast<decltype(a.ReadPhotoToFile)>(::dlsym(h, "ReadPhotoToFile"));
        a.WriteFileToFlash =
            reinterpret_cast<decltype(a.WriteFileToFlash)>(::dlsym(h, "WriteFileToFlash"));
        a.DeletePhoto = reinterpret_cast<decltype(a.DeletePhoto)>(::dlsym(h, "DeletePhoto"));
        a.FormatFlash = reinterpret_cast<decltype(a.FormatFlash)>(::dlsym(h, "FormatFlash"));
        return a;
    }();
    return api;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pixel rows of the library's bitmap for a raw slot: bottom row first,
// blue, green (the raw photo's second green byte) and red, two pad bytes.
std::vector<uint8_t> ExpectedBitmapPixels(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> rows;
    for (int y = 241; y >= 0; --y) {
        for (int x = 0; x < 322; ++x) {
            const uint8_t* p = &raw[(static_cast<size_t>(y) * 322 + x) * 4];
            rows.insert(rows.end(), {p[0], p[2], p[3]});
        }
        rows.insert(rows.end(), {0, 0});
    }
    return rows;
}

// A slot keeps the first 0x4C000 bytes of the 311,696-byte raw photo: its
// last 100 pixels (the right end of the bottom row, the bitmap's first row)
// are not on the card, and what a read puts there depends on how much it
// reads. Blanks them in a bitmap file's bytes.
void BlankUnstoredPixels(std::vector<uint8_t>& bitmap) {
    std::fill(bitmap.begin() + 54 + 222 * 3, bitmap.begin() + 54 + 322 * 3, 0);
}

std::vector<uint8_t> ExpectedBitmapFile(const std::vector<uint8_t>& header_from,
                                        const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> file(header_from.begin(), header_from.begin() + 54);
    const std::vector<uint8_t> pixels = ExpectedBitmapPixels(raw);
    file.insert(file.end(), pixels.begin(), pixels.end());
    BlankUnstoredPixels(file);
    return file;
}

class UsbCardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("usb-card-" + std::to_string(::getpid()) + "-" + FreshPort());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        if (camera_) {
            Library().CloseDevice();
            Bus().Unplug(*device_);
        }
        std::filesystem::remove_all(dir_);
    }

    // The only camera on the bus while the test runs.
    void Plug(sim::Variant variant, int photos) {
        camera_ = MakeCamera(variant, photos);
        PlugOptions options;
        options.port = FreshPort();
        device_ = &Bus().Plug(camera_, options);
        ASSERT_TRUE(Library().OpenDevice() == 1 ||
                    Eventually([] { return Library().OpenDevice() == 1; }))
            << "the library never found the camera on the bus";
    }
    std::string File(const std::string& name) const { return (dir_ / name).string(); }
    std::vector<uint8_t> RawSlot(uint64_t offset) {
        return camera_->Peek(offset, picture::kRawPhotoBytes);
    }

    std::filesystem::path dir_;
    std::shared_ptr<sim::Camera> camera_;
    MockUsbDevice* device_ = nullptr;
};

// Reads photo `index`, checks it against the slot, uploads it again, reads the
// upload back, deletes the first photo and formats.
void ReadUploadDeleteFormat(const std::function<std::vector<uint8_t>()>& slot0, int photos,
                            const std::string& first, const std::string& again) {
    Api& q = Library();
    ASSERT_EQ(q.ReadPhotoToFile(0, first.c_str()), 1);
    std::vector<uint8_t> bitmap = FileBytes(first);
    ASSERT_EQ(bitmap.size(), 234310u);
    std::vector<uint8_t> shown = bitmap;
    BlankUnstoredPixels(shown);
    EXPECT_TRUE(shown == ExpectedBitmapFile(bitmap, slot0())) << "photo 0 differs from its slot";

    ASSERT_EQ(q.WriteFileToFlash(first.c_str()), 1);
    ASSERT_EQ(q.GetPhotoCount(), photos + 1);
    ASSERT_EQ(q.ReadPhotoToFile(photos, again.c_str()), 1);
    std::vector<uint8_t> back = FileBytes(again);
    ASSERT_EQ(back.size(), bitmap.size());
    BlankUnstoredPixels(back);
    std::vector<uint8_t> sent = bitmap;
    BlankUnstoredPixels(sent);
    const auto diff = std::mismatch(back.begin(), back.end(), sent.begin());
    EXPECT_TRUE(diff.first == back.end())
        << "the uploaded photo reads back differently from file byte "
        << (diff.first - back.begin());

    ASSERT_EQ(q.DeletePhoto(0), 1);
    EXPECT_EQ(q.GetPhotoCount(), photos);
    ASSERT_EQ(q.FormatFlash(0), 1);
    EXPECT_EQ(q.GetPhotoCount(), 0);
}

TEST_F(UsbCardTest, SixteenMegabyteLittleEndianCard) {
    Plug(sim::Variant::k16MbLe, 2);
    Api& q = Library();
    EXPECT_EQ(q.GetFlashSize(), 16);
    EXPECT_EQ(q.GetPhotoCount(), 2);
    ReadUploadDeleteFormat([&] { return RawSlot(0); }, 2, File("p0.bmp"), File("p2.bmp"));
    // The change is on the card, not only in the library's copy.
    ASSERT_EQ(q.CloseDevice(), 1);
    ASSERT_EQ(q.OpenDevice(), 1);
    EXPECT_EQ(q.GetPhotoCount(), 0);
}

TEST_F(UsbCardTest, ACameraHeldByAnotherProgramIsSaidToBeInUseNotJustMissing) {
    // A photo import daemon (libgphoto2 in the desktop) has claimed it.
    std::shared_ptr<sim::Camera> camera = MakeCamera(sim::Variant::k16MbLe, 1);
    PlugOptions options;
    options.port = FreshPort();
    options.claimed_elsewhere = true;
    MockUsbDevice& device = Bus().Plug(camera, options);
    ::testing::internal::CaptureStderr();
    // Until the library's libusb sees the device, and a while after.
    Eventually([&] { return Library().OpenDevice() == 1; }, 1500);
    const int opened = Library().OpenDevice();
    const std::string said = ::testing::internal::GetCapturedStderr();
    Bus().Unplug(device);
    EXPECT_EQ(opened, 0);
    const size_t at = said.find("another program");
    EXPECT_NE(at, std::string::npos) << said;
    EXPECT_NE(said.find(device.device_path()), std::string::npos) << said;
    EXPECT_EQ(said.find("another program", at + 1), std::string::npos) << "said more than once";
}

TEST_F(UsbCardTest, ThirtyTwoMegabyteBigEndianCard) {
    Plug(sim::Variant::k32Mb, 1);
    Api& q = Library();
    EXPECT_EQ(q.GetFlashSize(), 32);
    EXPECT_EQ(q.GetPhotoCount(), 1);
    ReadUploadDeleteFormat([&] { return RawSlot(0); }, 1, File("p0.bmp"), File("p1.bmp"));
}

TEST_F(UsbCardTest, ATimedOutPageReadIsRetriedAndThePhotoCompletes) {
    Plug(sim::Variant::k32Mb, 1);
    device_->SetNextInFault(Fault::Hang);  // the first page of the photo
    const std::string path = File("p0.bmp");
    ASSERT_EQ(Library().ReadPhotoToFile(0, path.c_str()), 1);
    EXPECT_EQ(device_->counters().discards, 1);
    std::vector<uint8_t> bitmap = FileBytes(path);
    ASSERT_EQ(bitmap.size(), 234310u);
    const std::vector<uint8_t> expected = ExpectedBitmapFile(bitmap, RawSlot(0));
    BlankUnstoredPixels(bitmap);
    EXPECT_TRUE(bitmap == expected) << "the photo differs from its slot";
}

TEST_F(UsbCardTest, AStalledPageReadFailsWithTheReadErrorText) {
    Plug(sim::Variant::k32Mb, 1);
    device_->SetNextInFault(Fault::Stall);
    const std::string path = File("p0.bmp");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Library().ReadPhotoToFile(0, path.c_str()), 0);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("read card error,work incomplete"), std::string::npos) << said;
}

TEST_F(UsbCardTest, UnpluggedDuringAReadTheSessionStopsWithoutAMessage) {
    Plug(sim::Variant::k16MbLe, 1);
    device_->SetNextInFault(Fault::Hang);
    const std::string path = File("p0.bmp");
    ::testing::internal::CaptureStderr();
    auto reading =
        std::async(std::launch::async, [&] { return Library().ReadPhotoToFile(0, path.c_str()); });
    ASSERT_TRUE(device_->WaitForParkedIn(5000));
    Bus().Unplug(*device_);
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reading.get(), 0);
    const auto before = device_->counters();
    EXPECT_EQ(Library().ReadPhotoToFile(0, path.c_str()), 0);
    const auto after = device_->counters();
    EXPECT_EQ(after.bulk_in + after.bulk_out, before.bulk_in + before.bulk_out)
        << "after the device left, the geometry sends nothing";
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("read card error"), std::string::npos) << said;
    camera_.reset();  // already unplugged
    Library().CloseDevice();
}

// The names of this process's threads.
std::vector<std::string> ThreadNames() {
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(UsbCardTest, ClosedCameraLeavesNoThreadAndTheHostsTimerSlack) {
    const std::vector<std::string> threads_before = ThreadNames();
    const int slack = ::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    ASSERT_EQ(::prctl(PR_SET_TIMERSLACK, 77777UL, 0UL, 0UL, 0UL), 0);
    Plug(sim::Variant::k32Mb, 1);
    const std::vector<std::string> threads_open = ThreadNames();
    ASSERT_EQ(Library().ReadPhotoToFile(0, File("p0.bmp").c_str()), 1);  // pauses 1216 times
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 77777);
    ASSERT_EQ(Library().CloseDevice(), 1);
    EXPECT_EQ(ThreadNames(), threads_before)
        << "while open: " << threads_open.size() << " threads, before: " << threads_before.size();
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0UL, 0UL, 0UL);
}

}  // namespace
}  // namespace usbtest
