// The driver's card side against the simulated camera in process: names
// follow slots, and what cannot be uploaded never reaches the card. (Pixels
// and card contents against the library: gphoto_api_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>

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

TEST(PhotoFileNames, AreTheSlotAndParseBackOnlyInTheirOwnForm) {
    EXPECT_EQ(PhotoFileName(7), "slot-007.png");
    EXPECT_EQ(PhotoFileName(339), "slot-339.png");
    EXPECT_EQ(SlotOfFileName("slot-007.png"), 7);
    EXPECT_EQ(SlotOfFileName("slot-1234.png"), 1234);
    for (const char* bad : {"slot-7.png", "slot-007.PNG", "slot-007.png.bmp", "slot--01.png",
                            "photo-001.bmp", "slot-.png", "slot-99999999.png", ""}) {
        EXPECT_FALSE(SlotOfFileName(bad)) << bad;
    }
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
              (std::vector<std::string>{"slot-000.png", "slot-001.png", "slot-002.png"}));
    std::string error;
    const RgbPicture third = *card_.ReadPhoto(*card_.Find("slot-002.png"), &error);

    ASSERT_TRUE(card_.Delete(*card_.Find("slot-000.png"), &error)) << error;
    EXPECT_EQ(Names(card_), (std::vector<std::string>{"slot-001.png", "slot-002.png"}));
    const std::optional<RgbPicture> still = card_.ReadPhoto(*card_.Find("slot-002.png"), &error);
    ASSERT_TRUE(still) << error;
    EXPECT_TRUE(still->rgb == third.rgb) << "slot-002.png now shows another photo";

    // The upload reuses the freed slot, so its name comes back.
    const std::vector<uint8_t> bitmap = quorbit::testing::TestBitmap(9);
    const PhotoCard::UploadResult added = card_.Upload(bitmap);
    ASSERT_TRUE(added.file) << added.error;
    EXPECT_EQ(added.file->name, "slot-000.png");
    EXPECT_EQ(Names(card_),
              (std::vector<std::string>{"slot-001.png", "slot-002.png", "slot-000.png"}));
    EXPECT_FALSE(card_.Find("slot-003.png"));
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
    EXPECT_FALSE(card_.Find("slot-000.png"));
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
    EXPECT_EQ(Names(card_), (std::vector<std::string>{"slot-000.png"}));
}

}  // namespace
}  // namespace quorbit_gphoto
