// The driver as photo programs use it: through the libgphoto2 API in this
// process, on the emulated USB bus driven by the simulated camera. Every
// result is compared with what the card library itself gives on a twin of
// the same card.
#include <gphoto2/gphoto2-result.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <future>

#include "cardlib/photo_io.h"
#include "cardlib/tests/test_support.h"
#include "gphoto/tests/gphoto_rig.h"

namespace gphototest {
namespace {

using quorbit_gphoto::DecodePng;
using quorbit_gphoto::EncodeJpeg;
using quorbit_gphoto::EncodePng;
using quorbit_gphoto::RgbPicture;

class BusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("CAMLIBS", DriverFolder().c_str(), 1);
        usbtest::Bus();
    }
};
[[maybe_unused]] ::testing::Environment* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

class GphotoApiTest : public ::testing::TestWithParam<sim::Variant> {
  protected:
    void TearDown() override {
        camera_.reset();
        if (device_ != nullptr)
            usbtest::Bus().Unplug(*device_);
    }

    // Plugs the camera; opens libgphoto2 on it.
    void Plug(std::shared_ptr<sim::Camera> camera) {
        plugged_ = std::move(camera);
        usbtest::PlugOptions options;
        options.port = usbtest::FreshPort();
        device_ = &usbtest::Bus().Plug(plugged_, options);
        camera_ = std::make_unique<GpCamera>();
        ASSERT_EQ(camera_->Open(GphotoPortOf(*device_), context_), GP_OK) << context_.AllErrors();
    }

    Context context_;
    std::shared_ptr<sim::Camera> plugged_;
    usbtest::MockUsbDevice* device_ = nullptr;
    std::unique_ptr<GpCamera> camera_;
};

TEST_P(GphotoApiTest, ListGetPreviewDeleteAndUploadDoWhatTheLibraryDoes) {
    CameraPair pair = MakeCameraPair(GetParam(), 2);
    Twin twin(pair.twin);
    Plug(pair.plugged);
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"slot-000.png", "slot-001.png"}));

    CameraFileInfo info;
    ASSERT_EQ(gp_camera_file_get_info(camera_->get(), "/", "slot-001.png", &info, context_.get()),
              GP_OK);
    EXPECT_STREQ(info.file.type, "image/png");
    EXPECT_EQ(info.file.width, 322u);
    EXPECT_EQ(info.file.height, 242u);

    // Slot 1: on the little-endian cards an odd slot is read shifted.
    const std::vector<uint8_t> png = camera_->Get("slot-001.png", GP_FILE_TYPE_NORMAL, context_);
    EXPECT_EQ(png.size(), info.file.size);
    const std::optional<RgbPicture> picture = DecodePng(png, 322, 242);
    ASSERT_TRUE(picture) << context_.AllErrors();
    EXPECT_TRUE(picture->rgb == LibraryPicture(twin.session(), 1).rgb)
        << "the PNG's pixels differ from the library's bitmap";
    const std::vector<uint8_t> preview =
        camera_->Get("slot-001.png", GP_FILE_TYPE_PREVIEW, context_);
    ASSERT_GE(preview.size(), 3u);
    EXPECT_EQ(preview[0], 0xFF);
    EXPECT_EQ(preview[1], 0xD8);

    // Delete: the other photo keeps its name.
    ASSERT_EQ(camera_->Delete("slot-000.png", context_), GP_OK) << context_.AllErrors();
    ASSERT_EQ(quorbit::DeletePhoto(twin.session(), 0), 1);
    EXPECT_EQ(camera_->ListFiles(context_), (std::vector<std::string>{"slot-001.png"}));
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));

    // Upload a PNG: the card as the library's upload of the same bitmap
    // leaves it; the freed slot's name comes back, the uploaded name does not
    // stay in libgphoto2's list.
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(7);
    ASSERT_EQ(camera_->Put("holiday.png", EncodePng(PictureOfBitmap(bitmap)), context_), GP_OK)
        << context_.AllErrors();
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    // (libgphoto2 sorts the list by name.)
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"slot-000.png", "slot-001.png"}));
    EXPECT_TRUE(
        DecodePng(camera_->Get("slot-000.png", GP_FILE_TYPE_NORMAL, context_), 322, 242)->rgb ==
        LibraryPicture(twin.session(), 1).rgb)
        << "slot-000.png is not the uploaded picture";

    CameraStorageInformation* storage = nullptr;
    int count = 0;
    ASSERT_EQ(gp_camera_get_storageinfo(camera_->get(), &storage, &count, context_.get()), GP_OK);
    ASSERT_EQ(count, 1);
    const int slots = sim::GeometryOf(GetParam()).max_photos;
    EXPECT_EQ(storage->freeimages, static_cast<uint64_t>(slots - 2));
    EXPECT_EQ(storage->access, GP_STORAGEINFO_AC_READWRITE);
    EXPECT_EQ(storage->type, GP_STORAGEINFO_ST_REMOVABLE_RAM);
    EXPECT_STREQ(storage->basedir, "/");
    std::free(storage);
}

INSTANTIATE_TEST_SUITE_P(Cards, GphotoApiTest,
                         ::testing::Values(sim::Variant::k16MbLe, sim::Variant::k32Mb,
                                           sim::Variant::k128Mb),
                         [](const auto& info) {
                             return "Card" + std::string(sim::GeometryOf(info.param).name);
                         });

class GphotoApiCardTest : public GphotoApiTest {};

TEST_F(GphotoApiCardTest, AnUploadOfTheLibrarysBitmapIsTheLibrarysUploadAndOtherFilesAreRefused) {
    CameraPair pair = MakeCameraPair(sim::Variant::k16MbLe, 1);
    Twin twin(pair.twin);
    Plug(pair.plugged);
    const std::vector<uint8_t> before = plugged_->Peek(0, plugged_->geometry().card_bytes);
    const std::vector<uint8_t> jpeg = EncodeJpeg(RgbPicture(322, 242), 90);
    for (const std::vector<uint8_t>& bad :
         {std::vector<uint8_t>(jpeg.begin(), jpeg.end() - 40), std::vector<uint8_t>(100, 'x')}) {
        context_.Clear();
        EXPECT_LT(camera_->Put("bad.jpg", bad, context_), GP_OK);
        EXPECT_NE(context_.AllErrors().find("322 x 242"), std::string::npos)
            << context_.AllErrors();
    }
    EXPECT_TRUE(plugged_->Peek(0, plugged_->geometry().card_bytes) == before);
    EXPECT_EQ(camera_->ListFiles(context_), (std::vector<std::string>{"slot-000.png"}));

    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(3);
    ASSERT_EQ(camera_->Put("photo.bmp", bitmap, context_), GP_OK) << context_.AllErrors();
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"slot-000.png", "slot-001.png"}));
}

TEST_F(GphotoApiCardTest, TheSummaryGivesCardSizePhotosAndFreeSlots) {
    Plug(MakeCameraPair(sim::Variant::k32Mb, 2).plugged);
    CameraText summary;
    ASSERT_EQ(gp_camera_get_summary(camera_->get(), &summary, context_.get()), GP_OK);
    const std::string text = summary.text;
    EXPECT_NE(text.find("Card size: 32 MB"), std::string::npos) << text;
    EXPECT_NE(text.find("2 is used up 102 is available"), std::string::npos) << text;
}

TEST_F(GphotoApiCardTest, AnUnformattedCardIsAnEmptyFolderWithAMessage) {
    Plug(MakeBlankCamera(sim::Variant::k32Mb));
    int result = GP_ERROR;
    EXPECT_TRUE(camera_->ListFiles(context_, &result).empty());
    EXPECT_EQ(result, GP_OK);
    bool said = false;
    for (const std::string& m : context_.messages())
        said = said || m.find("not formatted or not recognised") != std::string::npos;
    EXPECT_TRUE(said) << "no message about the card";
    EXPECT_LT(camera_->Put("p.bmp", quorbit::testing::TestBitmap(1), context_), GP_OK);
    CameraStorageInformation* storage = nullptr;
    int count = 0;
    ASSERT_EQ(gp_camera_get_storageinfo(camera_->get(), &storage, &count, context_.get()), GP_OK);
    EXPECT_EQ(storage->freeimages, 0u);
    std::free(storage);
}

TEST_F(GphotoApiCardTest, AReadErrorGoesToTheContextNotToStderr) {
    Plug(MakeCameraPair(sim::Variant::k32Mb, 1).plugged);
    device_->SetNextInFault(usbtest::Fault::Stall);
    ::testing::internal::CaptureStderr();
    int result = GP_OK;
    EXPECT_TRUE(camera_->Get("slot-000.png", GP_FILE_TYPE_NORMAL, context_, &result).empty());
    const std::string stderr_text = ::testing::internal::GetCapturedStderr();
    EXPECT_LT(result, GP_OK);
    EXPECT_NE(context_.AllErrors().find("read card error,work incomplete"), std::string::npos)
        << context_.AllErrors();
    EXPECT_EQ(stderr_text.find("read card error"), std::string::npos) << stderr_text;
    // The camera still works afterwards.
    context_.Clear();
    EXPECT_TRUE(DecodePng(camera_->Get("slot-000.png", GP_FILE_TYPE_NORMAL, context_), 322, 242))
        << context_.AllErrors();
}

TEST_F(GphotoApiCardTest, ATimedOutPageReadIsRetriedAsTheLibraryDoesAndThePhotoCompletes) {
    CameraPair pair = MakeCameraPair(sim::Variant::k32Mb, 1);
    Twin twin(pair.twin);
    Plug(pair.plugged);
    device_->SetNextInFault(usbtest::Fault::Hang);  // the photo's first page: port timeout
    const std::optional<RgbPicture> picture =
        DecodePng(camera_->Get("slot-000.png", GP_FILE_TYPE_NORMAL, context_), 322, 242);
    ASSERT_TRUE(picture) << context_.AllErrors();
    EXPECT_EQ(device_->counters().discards, 1);
    EXPECT_TRUE(picture->rgb == LibraryPicture(twin.session(), 0).rgb);
    EXPECT_TRUE(context_.errors().empty()) << context_.AllErrors();
}

TEST_F(GphotoApiCardTest, UnpluggedDuringADownloadTheCallFailsWithoutACardErrorAndSoDoLaterOnes) {
    Plug(MakeCameraPair(sim::Variant::k16MbLe, 1).plugged);
    device_->SetNextInFault(usbtest::Fault::Hang);
    auto download = std::async(std::launch::async, [&] {
        int result = GP_OK;
        const std::vector<uint8_t> bytes =
            camera_->Get("slot-000.png", GP_FILE_TYPE_NORMAL, context_, &result);
        return std::make_pair(result, bytes.size());
    });
    ASSERT_TRUE(device_->WaitForParkedIn(5000));
    usbtest::Bus().Unplug(*device_);
    ASSERT_EQ(download.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const auto [result, size] = download.get();
    EXPECT_LT(result, GP_OK);
    EXPECT_EQ(size, 0u);
    // A camera that left is not a read error of the card's.
    EXPECT_EQ(context_.AllErrors().find("read card error"), std::string::npos)
        << context_.AllErrors();
    int again = GP_OK;
    EXPECT_TRUE(camera_->Get("slot-000.png", GP_FILE_TYPE_NORMAL, context_, &again).empty());
    EXPECT_LT(again, GP_OK);
    camera_.reset();
    device_ = nullptr;  // already unplugged
}

}  // namespace
}  // namespace gphototest
