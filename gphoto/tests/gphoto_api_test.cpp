// The driver as photo programs use it: through the libgphoto2 API in this
// process, on the emulated USB bus driven by the simulated camera. Every
// result is compared with what the card library itself gives on a twin of
// the same card.
#include <gphoto2/gphoto2-result.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <future>
#include <map>

#include "cardlib/photo_io.h"
#include "cardlib/tests/test_support.h"
#include "gphoto/tests/gphoto_rig.h"

namespace gphototest {
namespace {

using quorbit_gphoto::DecodePng;
using quorbit_gphoto::EncodeJpeg;
using quorbit_gphoto::EncodePng;
using quorbit_gphoto::kPhotoFolder;
using quorbit_gphoto::RgbPicture;

[[maybe_unused]] ::testing::Environment* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new DriverOnBusEnvironment);

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
              (std::vector<std::string>{"ORVT0000.PNG", "ORVT0001.PNG"}));

    CameraFileInfo info;
    ASSERT_EQ(gp_camera_file_get_info(camera_->get(), kPhotoFolder, "ORVT0001.PNG", &info,
                                      context_.get()),
              GP_OK);
    EXPECT_STREQ(info.file.type, "image/png");
    EXPECT_EQ(info.file.width, 322u);
    EXPECT_EQ(info.file.height, 242u);

    // Slot 1: on the little-endian cards an odd slot is read shifted.
    const std::vector<uint8_t> png = camera_->Get("ORVT0001.PNG", GP_FILE_TYPE_NORMAL, context_);
    EXPECT_EQ(png.size(), info.file.size);
    const std::optional<RgbPicture> picture = DecodePng(png, 322, 242);
    ASSERT_TRUE(picture) << context_.AllErrors();
    EXPECT_TRUE(picture->rgb == LibraryPicture(twin.session(), 1).rgb)
        << "the PNG's pixels differ from the library's bitmap";
    const std::vector<uint8_t> preview =
        camera_->Get("ORVT0001.PNG", GP_FILE_TYPE_PREVIEW, context_);
    ASSERT_GE(preview.size(), 3u);
    EXPECT_EQ(preview[0], 0xFF);
    EXPECT_EQ(preview[1], 0xD8);

    // Delete: the other photo keeps its name.
    ASSERT_EQ(camera_->Delete("ORVT0000.PNG", context_), GP_OK) << context_.AllErrors();
    ASSERT_EQ(quorbit::DeletePhoto(twin.session(), 0), 1);
    EXPECT_EQ(camera_->ListFiles(context_), (std::vector<std::string>{"ORVT0001.PNG"}));
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));

    // Upload a PNG: the card as the library's upload of the same bitmap
    // leaves it; the photo in the freed slot goes by its uploaded name for
    // the rest of the session.
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(7);
    ASSERT_EQ(camera_->Put("holiday.png", EncodePng(PictureOfBitmap(bitmap)), context_), GP_OK)
        << context_.AllErrors();
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    // (libgphoto2 sorts the list by name.)
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"ORVT0001.PNG", "holiday.png"}));
    EXPECT_TRUE(
        DecodePng(camera_->Get("holiday.png", GP_FILE_TYPE_NORMAL, context_), 322, 242)->rgb ==
        LibraryPicture(twin.session(), 1).rgb)
        << "holiday.png is not the uploaded picture";

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
    EXPECT_EQ(camera_->ListFiles(context_), (std::vector<std::string>{"ORVT0000.PNG"}));

    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(3);
    ASSERT_EQ(camera_->Put("photo.bmp", bitmap, context_), GP_OK) << context_.AllErrors();
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"ORVT0000.PNG", "photo.bmp"}));
}

TEST_F(GphotoApiCardTest, TheSummaryAndStorageSayCardSizePhotosAndFreeSlotsInPlainEnglish) {
    Plug(MakeCameraPair(sim::Variant::k32Mb, 2).plugged);
    CameraText summary;
    ASSERT_EQ(gp_camera_get_summary(camera_->get(), &summary, context_.get()), GP_OK);
    const std::string text = summary.text;
    EXPECT_NE(text.find("32 MB card, big-endian firmware"), std::string::npos) << text;
    EXPECT_NE(text.find("2 photos, 102 free slots of 104"), std::string::npos) << text;
    CameraStorageInformation* storage = nullptr;
    int count = 0;
    ASSERT_EQ(gp_camera_get_storageinfo(camera_->get(), &storage, &count, context_.get()), GP_OK);
    EXPECT_STREQ(storage->description, "2 photos, 102 free slots of 104");
    EXPECT_STREQ(storage->label, "32 MB card");
    std::free(storage);
}

// The folder layout camera programs expect, reached by every spelling
// libgphoto2 accepts for a folder (gvfs passes the base folder as "//").
TEST_F(GphotoApiCardTest, EverySpellingOfAFolderListsGetsDeletesAndUploads) {
    CameraPair pair = MakeCameraPair(sim::Variant::k16MbLe, 3);
    Twin twin(pair.twin);
    Plug(pair.plugged);
    EXPECT_EQ(camera_->ListFolders("/", context_), (std::vector<std::string>{"DCIM"}));
    EXPECT_EQ(camera_->ListFolders("//", context_), (std::vector<std::string>{"DCIM"}));
    EXPECT_EQ(camera_->ListFolders("//DCIM/", context_), (std::vector<std::string>{"100ORVTA"}));
    EXPECT_TRUE(camera_->ListFolders("/DCIM/100ORVTA", context_).empty());
    EXPECT_TRUE(camera_->ListFiles(context_, nullptr, "//").empty());
    EXPECT_TRUE(camera_->ListFiles(context_, nullptr, "/DCIM").empty());
    const std::vector<std::string> all = {"ORVT0000.PNG", "ORVT0001.PNG", "ORVT0002.PNG"};
    for (const char* spelling : {"/DCIM/100ORVTA", "//DCIM//100ORVTA/", "/DCIM/100ORVTA//"}) {
        EXPECT_EQ(camera_->ListFiles(context_, nullptr, spelling), all) << spelling;
        const std::optional<RgbPicture> picture = DecodePng(
            camera_->Get("ORVT0002.PNG", GP_FILE_TYPE_NORMAL, context_, nullptr, spelling), 322,
            242);
        ASSERT_TRUE(picture) << spelling << ": " << context_.AllErrors();
        EXPECT_TRUE(picture->rgb == LibraryPicture(twin.session(), 2).rgb) << spelling;
    }
    ASSERT_EQ(camera_->Delete("ORVT0001.PNG", context_, "//DCIM//100ORVTA//"), GP_OK)
        << context_.AllErrors();
    ASSERT_EQ(quorbit::DeletePhoto(twin.session(), 1), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(4);
    ASSERT_EQ(camera_->Put("ORVT0001.PNG", bitmap, context_, "//DCIM//100ORVTA/"), GP_OK)
        << context_.AllErrors();
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    EXPECT_EQ(camera_->ListFiles(context_, nullptr, "//DCIM/100ORVTA"), all);

    // Folders the camera does not have, and names that are no photos.
    const std::vector<uint8_t> before = plugged_->Peek(0, plugged_->geometry().card_bytes);
    int result = GP_OK;
    for (const char* missing : {"/DCIM/101ORVTA", "/slot", "/DCIM/100ORVTA/ORVT0000.PNG"}) {
        camera_->ListFiles(context_, &result, missing);
        EXPECT_EQ(result, GP_ERROR_DIRECTORY_NOT_FOUND) << missing;
        EXPECT_LT(camera_->Put("x.bmp", bitmap, context_, missing), GP_OK) << missing;
    }
    for (const auto& [folder, name] :
         std::vector<std::pair<const char*, const char*>>{{"/", "ORVT0000.PNG"},
                                                          {"/DCIM", "ORVT0000.PNG"},
                                                          {kPhotoFolder, "ORVT0003.PNG"},
                                                          {kPhotoFolder, "ORVT0000.png"},
                                                          {kPhotoFolder, "slot-000.png"}}) {
        camera_->Get(name, GP_FILE_TYPE_NORMAL, context_, &result, folder);
        EXPECT_LT(result, GP_OK) << folder << " " << name;
        EXPECT_LT(camera_->Delete(name, context_, folder), GP_OK) << folder << " " << name;
    }
    EXPECT_TRUE(plugged_->Peek(0, plugged_->geometry().card_bytes) == before);
}

TEST_F(GphotoApiCardTest, PhotosAreDatedWhenTheCameraWasConnectedNot1970) {
    const time_t before = std::time(nullptr);
    Plug(MakeCameraPair(sim::Variant::k32Mb, 2).plugged);
    const time_t after = std::time(nullptr);
    for (const char* name : {"ORVT0000.PNG", "ORVT0001.PNG"}) {
        CameraFileInfo info;
        ASSERT_EQ(
            gp_camera_file_get_info(camera_->get(), kPhotoFolder, name, &info, context_.get()),
            GP_OK);
        EXPECT_TRUE(info.file.fields & GP_FILE_INFO_MTIME) << name;
        EXPECT_GE(info.file.mtime, before) << name;
        EXPECT_LE(info.file.mtime, after) << name;
    }
    CameraFile* file = nullptr;
    gp_file_new(&file);
    ASSERT_EQ(gp_camera_file_get(camera_->get(), kPhotoFolder, "ORVT0001.PNG", GP_FILE_TYPE_NORMAL,
                                 file, context_.get()),
              GP_OK);
    time_t mtime = 0;
    gp_file_get_mtime(file, &mtime);
    gp_file_unref(file);
    EXPECT_GE(mtime, before);
    EXPECT_LE(mtime, after);
}

// Read-only facts as configuration widgets, by name.
std::map<std::string, std::string> ConfigOf(Camera* camera, Context& context) {
    std::map<std::string, std::string> values;
    CameraWidget* window = nullptr;
    if (gp_camera_get_config(camera, &window, context.get()) < GP_OK) {
        ADD_FAILURE() << "no configuration: " << context.AllErrors();
        return values;
    }
    CameraWidget* section = nullptr;
    EXPECT_EQ(gp_widget_get_child_by_name(window, "card", &section), GP_OK);
    for (int i = 0; section != nullptr && i < gp_widget_count_children(section); ++i) {
        CameraWidget* child = nullptr;
        gp_widget_get_child(section, i, &child);
        const char* name = nullptr;
        const char* value = nullptr;
        int readonly = 0;
        gp_widget_get_name(child, &name);
        gp_widget_get_value(child, &value);
        gp_widget_get_readonly(child, &readonly);
        EXPECT_EQ(readonly, 1) << name;
        values[name] = value != nullptr ? value : "";
    }
    gp_widget_free(window);
    return values;
}

TEST_F(GphotoApiCardTest, TheConfigurationShowsTheCardReadOnly) {
    const struct {
        sim::Variant variant;
        int photos;
        std::map<std::string, std::string> expected;
    } cases[] = {
        {sim::Variant::k16MbLe,
         3,
         {{"cardkind", "16 MB card, little-endian firmware"},
          {"cardsize", "16 MB"},
          {"photos", "3"},
          {"freeslots", "49 of 52"},
          {"byteorder", "little-endian"}}},
        {sim::Variant::k128Mb,
         1,
         {{"cardkind", "128 MB card, big-endian firmware"},
          {"cardsize", "128 MB"},
          {"photos", "1"},
          {"freeslots", "339 of 340"},
          {"byteorder", "big-endian"}}},
    };
    for (const auto& c : cases) {
        Plug(MakeCameraPair(c.variant, c.photos).plugged);
        EXPECT_EQ(ConfigOf(camera_->get(), context_), c.expected);
        camera_.reset();
        usbtest::Bus().Unplug(*device_);
        device_ = nullptr;
    }
}

TEST_F(GphotoApiCardTest, AnUnformattedCardIsShownWithHowToFormatItAndRefusesUploads) {
    Plug(MakeBlankCamera(sim::Variant::k32Mb));
    int result = GP_ERROR;
    EXPECT_TRUE(camera_->ListFiles(context_, &result).empty());
    EXPECT_EQ(result, GP_OK);
    bool said = false;
    for (const std::string& m : context_.messages())
        said = said || m.find("not formatted or not recognised") != std::string::npos;
    EXPECT_TRUE(said) << "no message about the card";
    const std::vector<uint8_t> before = plugged_->Peek(0, plugged_->geometry().card_bytes);
    EXPECT_LT(camera_->Put("p.bmp", quorbit::testing::TestBitmap(1), context_), GP_OK);
    EXPECT_TRUE(plugged_->Peek(0, plugged_->geometry().card_bytes) == before);
    CameraStorageInformation* storage = nullptr;
    int count = 0;
    ASSERT_EQ(gp_camera_get_storageinfo(camera_->get(), &storage, &count, context_.get()), GP_OK);
    ASSERT_EQ(count, 1);
    // A storage that claims a capacity of 0 is hidden by the desktop; an
    // unknown size is not claimed at all.
    EXPECT_FALSE((storage->fields & GP_STORAGEINFO_MAXCAPACITY) && storage->capacitykbytes == 0);
    EXPECT_TRUE(storage->fields & GP_STORAGEINFO_DESCRIPTION);
    EXPECT_NE(std::string(storage->description).find("quorbit-cli format"), std::string::npos)
        << storage->description;
    EXPECT_EQ(storage->access, GP_STORAGEINFO_AC_READONLY);
    std::free(storage);
    EXPECT_EQ(ConfigOf(camera_->get(), context_)["cardkind"], "not formatted or not recognised");
}

// A program that uploads a picture looks it up by the name it gave it (an
// import dialog shows the new file, a retry checks it is there): for the
// rest of the session that name is the photo's; the next session shows its
// DCF name.
TEST_F(GphotoApiCardTest, AnUploadedPhotoKeepsItsNameForTheSessionAndADuplicateNameIsRefused) {
    CameraPair pair = MakeCameraPair(sim::Variant::k16MbLe, 2);
    Twin twin(pair.twin);
    Plug(pair.plugged);
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(6);
    ASSERT_EQ(camera_->Put("up.png", EncodePng(PictureOfBitmap(bitmap)), context_), GP_OK)
        << context_.AllErrors();
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    CameraFileInfo info;
    ASSERT_EQ(
        gp_camera_file_get_info(camera_->get(), kPhotoFolder, "up.png", &info, context_.get()),
        GP_OK)
        << context_.AllErrors();
    EXPECT_STREQ(info.file.type, "image/png");
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"ORVT0000.PNG", "ORVT0001.PNG", "up.png"}));
    const std::optional<RgbPicture> back =
        DecodePng(camera_->Get("up.png", GP_FILE_TYPE_NORMAL, context_), 322, 242);
    ASSERT_TRUE(back) << context_.AllErrors();
    EXPECT_TRUE(back->rgb == LibraryPicture(twin.session(), 2).rgb);

    // The same name again, or the name of a photo already there: refused,
    // the card untouched.
    const std::vector<uint8_t> before = plugged_->Peek(0, plugged_->geometry().card_bytes);
    for (const char* taken : {"up.png", "ORVT0001.PNG"}) {
        context_.Clear();
        EXPECT_LT(camera_->Put(taken, bitmap, context_), GP_OK) << taken;
        EXPECT_NE(context_.AllErrors().find("already holds a photo named"), std::string::npos)
            << context_.AllErrors();
    }
    EXPECT_TRUE(plugged_->Peek(0, plugged_->geometry().card_bytes) == before);

    // The next session knows the photo by its slot.
    camera_ = std::make_unique<GpCamera>();
    ASSERT_EQ(camera_->Open(GphotoPortOf(*device_), context_), GP_OK) << context_.AllErrors();
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"ORVT0000.PNG", "ORVT0001.PNG", "ORVT0002.PNG"}));
    // Deleting an uploaded photo by its name frees the name.
    ASSERT_EQ(camera_->Put("again.bmp", bitmap, context_), GP_OK) << context_.AllErrors();
    ASSERT_EQ(camera_->Delete("again.bmp", context_), GP_OK) << context_.AllErrors();
    EXPECT_EQ(camera_->ListFiles(context_),
              (std::vector<std::string>{"ORVT0000.PNG", "ORVT0001.PNG", "ORVT0002.PNG"}));
}

// gphotofs creates a file by putting a one-byte placeholder, deletes it when
// the file is closed and puts the picture under the same name: the card
// gains the picture once, and the placeholder never reaches it.
TEST_F(GphotoApiCardTest, APlaceholderThenThePictureStoresThePictureOnce) {
    CameraPair pair = MakeCameraPair(sim::Variant::k16MbLe, 1);
    Twin twin(pair.twin);
    Plug(pair.plugged);
    const std::vector<uint8_t> before = plugged_->Peek(0, plugged_->geometry().card_bytes);
    ASSERT_EQ(camera_->Put("new.png", {0}, context_), GP_OK) << context_.AllErrors();
    EXPECT_TRUE(plugged_->Peek(0, plugged_->geometry().card_bytes) == before);
    EXPECT_EQ(camera_->ListFiles(context_), (std::vector<std::string>{"ORVT0000.PNG", "new.png"}));
    CameraFileInfo info;
    ASSERT_EQ(
        gp_camera_file_get_info(camera_->get(), kPhotoFolder, "new.png", &info, context_.get()),
        GP_OK);
    EXPECT_EQ(info.file.size, 1u);
    EXPECT_EQ(camera_->Get("new.png", GP_FILE_TYPE_NORMAL, context_), std::vector<uint8_t>{0});
    ASSERT_EQ(camera_->Delete("new.png", context_), GP_OK) << context_.AllErrors();
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(2);
    ASSERT_EQ(camera_->Put("new.png", bitmap, context_), GP_OK) << context_.AllErrors();
    ASSERT_EQ(twin.Upload(bitmap), 1);
    EXPECT_TRUE(SameCard(*plugged_, twin.camera()));
    EXPECT_EQ(camera_->ListFiles(context_), (std::vector<std::string>{"ORVT0000.PNG", "new.png"}));
    // A placeholder under a photo's name is refused like an upload, and an
    // empty file is no placeholder but a file that is no picture.
    EXPECT_LT(camera_->Put("ORVT0000.PNG", {0}, context_), GP_OK);
    EXPECT_LT(camera_->Put("empty.png", {}, context_), GP_OK);
    EXPECT_EQ(camera_->ListFiles(context_), (std::vector<std::string>{"ORVT0000.PNG", "new.png"}));
}

TEST_F(GphotoApiCardTest, AReadErrorGoesToTheContextNotToStderr) {
    Plug(MakeCameraPair(sim::Variant::k32Mb, 1).plugged);
    device_->SetNextInFault(usbtest::Fault::Stall);
    ::testing::internal::CaptureStderr();
    int result = GP_OK;
    EXPECT_TRUE(camera_->Get("ORVT0000.PNG", GP_FILE_TYPE_NORMAL, context_, &result).empty());
    const std::string stderr_text = ::testing::internal::GetCapturedStderr();
    EXPECT_LT(result, GP_OK);
    EXPECT_NE(context_.AllErrors().find("read card error,work incomplete"), std::string::npos)
        << context_.AllErrors();
    EXPECT_EQ(stderr_text.find("read card error"), std::string::npos) << stderr_text;
    // The camera still works afterwards.
    context_.Clear();
    EXPECT_TRUE(DecodePng(camera_->Get("ORVT0000.PNG", GP_FILE_TYPE_NORMAL, context_), 322, 242))
        << context_.AllErrors();
}

TEST_F(GphotoApiCardTest, ATimedOutPageReadIsRetriedAsTheLibraryDoesAndThePhotoCompletes) {
    CameraPair pair = MakeCameraPair(sim::Variant::k32Mb, 1);
    Twin twin(pair.twin);
    Plug(pair.plugged);
    device_->SetNextInFault(usbtest::Fault::Hang);  // the photo's first page: port timeout
    const std::optional<RgbPicture> picture =
        DecodePng(camera_->Get("ORVT0000.PNG", GP_FILE_TYPE_NORMAL, context_), 322, 242);
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
            camera_->Get("ORVT0000.PNG", GP_FILE_TYPE_NORMAL, context_, &result);
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
    EXPECT_TRUE(camera_->Get("ORVT0000.PNG", GP_FILE_TYPE_NORMAL, context_, &again).empty());
    EXPECT_LT(again, GP_OK);
    camera_.reset();
    device_ = nullptr;  // already unplugged
}

}  // namespace
}  // namespace gphototest
