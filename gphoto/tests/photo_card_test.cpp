// The driver's card side against the simulated camera in process: names
// follow slots, and what cannot be uploaded never reaches the card. (Pixels
// and card contents against the library: gphoto_api_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "cardlib/bitmap.h"
#include "cardlib/tests/test_support.h"
#include "gphoto/photo_card.h"
#include "picture/fit_photo.h"
#include "picture/raw_photo.h"
#include "platform/device.h"
#include "sim/card_maker.h"

namespace quorbit_gphoto {
namespace {

using quorbit::testing::CameraRig;

std::unique_ptr<platform::DeviceHandle> OpenCamera() {
    return platform::OpenPath("mem:cam").handle;
}

std::vector<std::string> Names(const PhotoCard& card) {
    std::vector<std::string> names;
    for (const PhotoFile& f : card.List())
        names.push_back(f.name);
    return names;
}

TEST(PhotoFileNames, AreTheSlotInFourDigits) {
    EXPECT_EQ(PhotoFileName(0), "ORVT0000.PNG");
    EXPECT_EQ(PhotoFileName(7), "ORVT0007.PNG");
    EXPECT_EQ(PhotoFileName(339), "ORVT0339.PNG");
}

TEST(CameraFolders, EverySpellingLibgphoto2AcceptsNamesTheSameFolder) {
    const struct {
        const char* path;
        std::optional<Folder> folder;
    } cases[] = {
        {"/", Folder::kRoot},
        {"//", Folder::kRoot},
        {"///", Folder::kRoot},
        {"/DCIM", Folder::kDcim},
        {"/DCIM/", Folder::kDcim},
        {"//DCIM//", Folder::kDcim},
        {"/DCIM/100ORVTA", Folder::kPhotos},
        {"//DCIM/100ORVTA", Folder::kPhotos},
        {"/DCIM//100ORVTA/", Folder::kPhotos},
        {"//DCIM//100ORVTA//", Folder::kPhotos},
        {"", std::nullopt},
        {"DCIM", std::nullopt},
        {"DCIM/100ORVTA", std::nullopt},
        {"/dcim", std::nullopt},
        {"/DCIM/100ORVTB", std::nullopt},
        {"/DCIM/100ORVTA/ORVT0000.PNG", std::nullopt},
        {"/DCIM/./100ORVTA", std::nullopt},
        {"/store_00010001", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FolderOf(c.path), c.folder) << '"' << c.path << '"';
    EXPECT_FALSE(FolderOf(nullptr));
    EXPECT_EQ(SubfoldersOf(Folder::kRoot), (std::vector<std::string>{"DCIM"}));
    EXPECT_EQ(SubfoldersOf(Folder::kDcim), (std::vector<std::string>{"100ORVTA"}));
    EXPECT_TRUE(SubfoldersOf(Folder::kPhotos).empty());
    EXPECT_EQ(std::string(kPhotoFolder), "/DCIM/100ORVTA");
}

class PhotoCardTest : public ::testing::Test {
  protected:
    CameraRig rig_;
    PhotoCard card_;
};

TEST_F(PhotoCardTest, PhotosKeepTheirNamesWhileOthersAreDeletedAndAdded) {
    rig_.Attach(sim::Variant::k16MbLe, 3);
    ASSERT_TRUE(card_.Open(OpenCamera()));
    EXPECT_EQ(Names(card_),
              (std::vector<std::string>{"ORVT0000.PNG", "ORVT0001.PNG", "ORVT0002.PNG"}));
    std::string error;
    const RgbPicture third = *card_.ReadPhoto(*card_.Find("ORVT0002.PNG"), &error);

    ASSERT_TRUE(card_.Delete(*card_.Find("ORVT0000.PNG"), &error)) << error;
    EXPECT_EQ(Names(card_), (std::vector<std::string>{"ORVT0001.PNG", "ORVT0002.PNG"}));
    const std::optional<RgbPicture> still = card_.ReadPhoto(*card_.Find("ORVT0002.PNG"), &error);
    ASSERT_TRUE(still) << error;
    EXPECT_TRUE(still->rgb == third.rgb) << "ORVT0002.PNG now shows another photo";

    // The upload reuses the freed slot, so its name comes back.
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(9);
    const PhotoCard::UploadResult added = card_.Upload(bitmap);
    ASSERT_TRUE(added.file) << added.error;
    EXPECT_EQ(added.file->name, "ORVT0000.PNG");
    EXPECT_EQ(Names(card_),
              (std::vector<std::string>{"ORVT0001.PNG", "ORVT0002.PNG", "ORVT0000.PNG"}));
    EXPECT_FALSE(card_.Find("ORVT0003.PNG"));
}

TEST_F(PhotoCardTest, WhatIsNoPictureOrADamagedOneIsRefusedWithWhatIsExpectedAndTheCardUntouched) {
    rig_.Attach(sim::Variant::k16MbLe, 1);
    ASSERT_TRUE(card_.Open(OpenCamera()));
    const std::vector<uint8_t> before = rig_.CardBytes();
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(1);
    const std::vector<uint8_t> jpeg = EncodeJpeg(RgbPicture(322, 242), 90);
    const std::vector<std::vector<uint8_t>> bad = {
        {},
        {'h', 'e', 'l', 'l', 'o'},
        std::vector<uint8_t>(jpeg.begin(), jpeg.end() - 40),
        std::vector<uint8_t>(bitmap.begin(), bitmap.begin() + 1000),
    };
    for (const std::vector<uint8_t>& file : bad) {
        const PhotoCard::UploadResult added = card_.Upload(file);
        EXPECT_FALSE(added.file);
        EXPECT_TRUE(added.refused);
        EXPECT_NE(added.error.find("PNG, JPEG and BMP pictures"), std::string::npos) << added.error;
    }
    EXPECT_TRUE(rig_.CardBytes() == before);
    EXPECT_EQ(Names(card_).size(), 1u);
}

// What quorbit-cli's put takes, the driver takes the same way: fitted to the
// photo with black around, its second green 0 as the library writes it.
TEST_F(PhotoCardTest, APictureOfAnotherSizeIsFittedAsPutFitsIt) {
    rig_.Attach(sim::Variant::k16MbLe, 0);
    ASSERT_TRUE(card_.Open(OpenCamera()));
    RgbPicture wide(644, 200);
    for (int y = 0; y < wide.height; ++y)
        for (int x = 0; x < wide.width; ++x)
            wide.Set(x, y, static_cast<uint8_t>(x / 3), static_cast<uint8_t>(y), 200);
    const PhotoCard::UploadResult added = card_.Upload(EncodePng(wide));
    ASSERT_TRUE(added.file) << added.error;
    std::string error;
    const std::optional<RgbPicture> stored = card_.ReadPhoto(*added.file, &error);
    ASSERT_TRUE(stored) << error;
    const RgbPicture fitted = picture::FitToPhoto(wide);
    // The bottom row's last 100 pixels lie past the slot.
    const size_t kept = (static_cast<size_t>(322) * 241 + picture::kStoredPixelsOfLastRow) * 3;
    EXPECT_TRUE(std::equal(fitted.rgb.begin(), fitted.rgb.begin() + static_cast<long>(kept),
                           stored->rgb.begin()));
    EXPECT_EQ(stored->At(0, 0)[2], 0) << "black above the picture";
}

TEST_F(PhotoCardTest, AFullCardRefusesAnUploadUntouched) {
    rig_.Attach(sim::Variant::k8MbLe, 26);
    ASSERT_TRUE(card_.Open(OpenCamera()));
    EXPECT_EQ(card_.Status().free_slots(), 0);
    const std::vector<uint8_t> before = rig_.CardBytes();
    const PhotoCard::UploadResult added = card_.Upload(quorbit::testing::TestBitmap(1));
    EXPECT_TRUE(added.refused);
    EXPECT_NE(added.error.find("full"), std::string::npos) << added.error;
    EXPECT_TRUE(rig_.CardBytes() == before);
}

TEST_F(PhotoCardTest, AnUnformattedCardListsNothingAndRefusesUploads) {
    std::string error;
    rig_.AttachCard(
        sim::Variant::k32Mb,
        sim::CardImage::CreateInMemory(sim::GeometryOf(sim::Variant::k32Mb).card_bytes, &error));
    EXPECT_FALSE(card_.Open(OpenCamera()));
    EXPECT_FALSE(card_.Status().recognised);
    EXPECT_TRUE(card_.List().empty());
    EXPECT_FALSE(card_.Find("ORVT0000.PNG"));
    const PhotoCard::UploadResult added = card_.Upload(quorbit::testing::TestBitmap(1));
    EXPECT_TRUE(added.refused);
    EXPECT_NE(added.error.find("not formatted"), std::string::npos) << added.error;
}

TEST_F(PhotoCardTest, DirectoryEntriesNamingNoUsableSlotAreNotListed) {
    std::unique_ptr<sim::CardImage> card;
    {
        std::string error;
        card = sim::MakeCardInMemory(
            sim::Variant::k32Mb,
            {quorbit::testing::TestPicture(0), quorbit::testing::TestPicture(1),
             quorbit::testing::TestPicture(2)},
            &error);
        ASSERT_TRUE(card) << error;
    }
    // Entry 1 names slot 0 again, entry 2 a slot past the card's 104.
    const uint64_t directory = sim::GeometryOf(sim::Variant::k32Mb).system_block_offset + 512;
    const uint8_t again[2] = {0, 0};
    const uint8_t beyond[2] = {200, 0};
    ASSERT_TRUE(card->Overwrite(directory + 16 + 8, again, nullptr));
    ASSERT_TRUE(card->Overwrite(directory + 32 + 8, beyond, nullptr));
    rig_.AttachCard(sim::Variant::k32Mb, std::move(card));
    ASSERT_TRUE(card_.Open(OpenCamera()));
    EXPECT_EQ(Names(card_), (std::vector<std::string>{"ORVT0000.PNG"}));
}

// Cards whose directory no camera wrote: the driver lists only what it can
// read, reads those photos, and changes nothing on the card.
TEST_F(PhotoCardTest, MalformedDirectoriesListOnlyReadablePhotosAndLeaveTheCardAlone) {
    constexpr sim::Variant kVariant = sim::Variant::k32Mb;
    const sim::Geometry& g = sim::GeometryOf(kVariant);
    std::mt19937 random(22);
    const auto garbage = [&random](size_t n) {
        std::vector<uint8_t> bytes(n);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        return bytes;
    };
    const auto entries = [](std::initializer_list<uint16_t> slots) {
        std::vector<uint8_t> bytes;
        for (uint16_t slot : slots) {
            const uint8_t entry[16] = {0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       static_cast<uint8_t>(slot),
                                       static_cast<uint8_t>(slot >> 8),
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF,
                                       0xFF};
            bytes.insert(bytes.end(), entry, entry + 16);
        }
        return bytes;
    };
    const struct {
        const char* name;
        uint16_t count;
        uint16_t capacity;
        std::vector<uint8_t> directory;
        bool recognised;
        std::optional<std::vector<std::string>> listed;  // nullopt: any readable set
    } cases[] = {
        {"count at its maximum over garbage entries", 0xFFFF, 104, garbage(15872), true,
         std::nullopt},
        {"several entries naming one slot", 5, 104, entries({2, 2, 1, 2, 1}), true,
         std::vector<std::string>{"ORVT0002.PNG", "ORVT0001.PNG"}},
        {"slots beyond the card", 4, 104, entries({104, 0, 0xFFFE, 0xFFFF}), true,
         std::vector<std::string>{"ORVT0000.PNG"}},
        {"capacity 65535", 1, 0xFFFF, entries({0}), false, std::vector<std::string>{}},
        {"random bytes behind the magic", 0, 104, garbage(15872), true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        std::unique_ptr<sim::CardImage> image = sim::MakeCardInMemory(
            kVariant,
            {quorbit::testing::TestPicture(0), quorbit::testing::TestPicture(1),
             quorbit::testing::TestPicture(2)},
            &error);
        ASSERT_TRUE(image) << error;
        std::vector<uint8_t> header = garbage(512);
        std::memcpy(header.data(), "ZPX PHOTO CAM IMAGE", 19);
        header[256] = static_cast<uint8_t>(c.count);
        header[257] = static_cast<uint8_t>(c.count >> 8);
        header[258] = static_cast<uint8_t>(c.capacity);
        header[259] = static_cast<uint8_t>(c.capacity >> 8);
        ASSERT_TRUE(image->Overwrite(g.system_block_offset, header, &error)) << error;
        ASSERT_TRUE(image->Overwrite(g.system_block_offset + 512, c.directory, &error)) << error;
        rig_.AttachCard(kVariant, std::move(image));
        const std::vector<uint8_t> before = rig_.CardBytes();

        PhotoCard card;
        EXPECT_EQ(card.Open(OpenCamera()), c.recognised);
        const CardStatus status = card.Status();
        EXPECT_EQ(status.recognised, c.recognised);
        const std::vector<std::string> names = Names(card);
        if (c.listed) {
            EXPECT_EQ(names, *c.listed);
        }
        EXPECT_EQ(status.photos, static_cast<int>(names.size()));
        EXPECT_LE(status.photos, g.max_photos);
        const std::set<std::string> distinct(names.begin(), names.end());
        EXPECT_EQ(distinct.size(), names.size()) << "a slot is listed twice";
        const std::vector<PhotoFile> files = card.List();
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_LT(files[i].slot, g.max_photos);
            if (i < 3) {
                EXPECT_TRUE(card.ReadPhoto(files[i], &error)) << files[i].name << ": " << error;
            }
        }
        EXPECT_TRUE(rig_.CardBytes() == before) << "reading changed the card";
    }
}

}  // namespace
}  // namespace quorbit_gphoto
