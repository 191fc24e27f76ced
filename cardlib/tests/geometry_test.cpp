// Layout operations of the seven geometries and recognition of the card.
#include <gtest/gtest.h>

#include <cstring>

#include "cardlib/geometry.h"
#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/tests/test_support.h"
#include "sim/card_maker.h"

namespace quorbit::testing {
namespace {

struct Constants {
    GeometryKind kind;
    uint16_t page, mb;
    uint32_t system_page, directory_page;
    int max_photos;
    uint8_t pages_per_block;
    uint32_t block_bytes;
    uint8_t blocks_per_photo;
    uint32_t kept_bytes, write_back_pages;
};

const Constants kConstants[] = {
    {GeometryKind::k8MbLe, 512, 8, 0xFFE0, 0x3FF0, 26, 16, 8192, 38, 8192, 16},
    // The 16 MB little-endian card has only its last 8 KB for the system block.
    {GeometryKind::k16MbLe, 512, 16, 0xFFE0, 0x7FF0, 52, 32, 16384, 19, 16384, 16},
    {GeometryKind::k8Mb, 512, 8, 0x3FF0, 0x3FF0, 26, 16, 8192, 38, 8192, 16},
    {GeometryKind::k16Mb, 512, 16, 0x7FE0, 0x7FE0, 52, 32, 16384, 19, 16384, 32},
    {GeometryKind::k32Mb, 512, 32, 0xFFE0, 0xFFE0, 104, 32, 16384, 19, 16384, 32},
    {GeometryKind::k64Mb, 512, 64, 0x1FFE0, 0x1FFE0, 208, 32, 16384, 19, 16384, 32},
    {GeometryKind::k128Mb, 2048, 128, 0xFFC0, 0xFFC0, 340, 64, 131072, 3, 16384, 8},
};

TEST(GeometryTest, ConstantsOfEveryVariant) {
    for (const Constants& c : kConstants) {
        SCOPED_TRACE(GeometryName(c.kind));
        auto g = MakeGeometry(c.kind, nullptr);
        EXPECT_EQ(g->PageSize(), c.page);
        EXPECT_EQ(g->FlashSizeMb(), c.mb);
        EXPECT_EQ(g->SystemBlockPage(), c.system_page);
        EXPECT_EQ(g->DirectoryPage(), c.directory_page);
        EXPECT_EQ(g->MaxPhotos(), c.max_photos);
        EXPECT_EQ(g->PagesPerBlock(), c.pages_per_block);
        EXPECT_EQ(g->BlockBytes(), c.block_bytes);
        EXPECT_EQ(g->BlocksPerPhoto(), c.blocks_per_photo);
        EXPECT_EQ(g->SystemBlockBytes(), c.kept_bytes);
        EXPECT_EQ(g->SystemBlockWritePages(), c.write_back_pages);
        // Slots never reach the system block.
        const uint64_t slot_bytes = uint64_t{g->BlocksPerPhoto()} * g->BlockBytes();
        EXPECT_LE(slot_bytes * g->MaxPhotos(), uint64_t{g->DirectoryPage()} * g->PageSize());
    }
}

SystemBlock WithSlot(uint16_t page_size, int index, uint16_t slot) {
    SystemBlock b;
    b.fill(0xFF);
    StoreLe16(&b[EntryOffset(page_size, index) + 8], slot);
    return b;
}

TEST(GeometryTest, PhotoFirstPage) {
    auto le = MakeGeometry(GeometryKind::k16MbLe, nullptr);
    EXPECT_EQ(le->PhotoFirstPage(WithSlot(512, 0, 0), 0), 0u);
    EXPECT_EQ(le->PhotoFirstPage(WithSlot(512, 3, 1), 3), 1152u);  // byte 0x48000
    EXPECT_EQ(le->PhotoFirstPage(WithSlot(512, 0, 2), 0), 2432u);  // byte 0x98000
    EXPECT_EQ(MakeGeometry(GeometryKind::k128Mb, nullptr)->PhotoFirstPage(WithSlot(2048, 1, 5), 1),
              960u);
    EXPECT_EQ(MakeGeometry(GeometryKind::k16Mb, nullptr)->PhotoFirstPage(WithSlot(512, 0, 5), 0),
              3040u);
    EXPECT_EQ(MakeGeometry(GeometryKind::k8Mb, nullptr)->PhotoFirstPage(WithSlot(512, 0, 7), 0),
              7u * 608);
}

TEST(GeometryTest, EntrySlotOfErasedAndOutOfRangeEntries) {
    SystemBlock erased;
    erased.fill(0xFF);
    EXPECT_EQ(MakeGeometry(GeometryKind::k32Mb, nullptr)->EntrySlot(erased, 4), 0xFFFF);
    EXPECT_EQ(MakeGeometry(GeometryKind::k8MbLe, nullptr)->EntrySlot(erased, 4), 0xFF);
    // The little-endian cards read the low byte only.
    EXPECT_EQ(MakeGeometry(GeometryKind::k16MbLe, nullptr)->EntrySlot(WithSlot(512, 2, 0x0107), 2),
              7);
    EXPECT_EQ(MakeGeometry(GeometryKind::k16Mb, nullptr)->EntrySlot(WithSlot(512, 2, 0x0107), 2),
              0x107);
    // Entries outside the kept part of the system block read as erased.
    SystemBlock zero{};
    auto g8 = MakeGeometry(GeometryKind::k8Mb, nullptr);
    EXPECT_EQ(g8->EntrySlot(zero, (8192 - 512) / 16 - 1), 0);
    EXPECT_EQ(g8->EntrySlot(zero, (8192 - 512) / 16), 0xFFFF);
    EXPECT_EQ(g8->EntrySlot(zero, -1), 0xFFFF);
    EXPECT_EQ(MakeGeometry(GeometryKind::k128Mb, nullptr)->EntrySlot(zero, 100000), 0xFFFF);
}

TEST(GeometryTest, NoSlotValues) {
    EXPECT_TRUE(MakeGeometry(GeometryKind::k32Mb, nullptr)->IsNoSlot(0xFF));
    EXPECT_TRUE(MakeGeometry(GeometryKind::k8MbLe, nullptr)->IsNoSlot(0xFF));
    EXPECT_FALSE(MakeGeometry(GeometryKind::k128Mb, nullptr)->IsNoSlot(0xFF));
    EXPECT_TRUE(MakeGeometry(GeometryKind::k128Mb, nullptr)->IsNoSlot(0xFFFF));
}

TEST(GeometryTest, BlockToPageStepsOneBlockOfCard) {
    EXPECT_EQ(MakeGeometry(GeometryKind::k8Mb, nullptr)->BlockToPage(3), 48u);
    EXPECT_EQ(MakeGeometry(GeometryKind::k128Mb, nullptr)->BlockToPage(3), 192u);
    EXPECT_EQ(MakeGeometry(GeometryKind::k16MbLe, nullptr)->BlockToPage(3),
              192u);  // 16 KB in 256-byte units
    EXPECT_EQ(MakeGeometry(GeometryKind::k8MbLe, nullptr)->BlockToPage(3), 96u);  // 8 KB blocks
}

// --- recognition ---------------------------------------------------------

class DetectionTest : public ::testing::Test {
  protected:
    void TearDown() override { CloseDevice(); }
    CameraRig rig_;
};

TEST_F(DetectionTest, RecognisesEveryVariant) {
    for (const Constants& c : kConstants) {
        SCOPED_TRACE(GeometryName(c.kind));
        ASSERT_NE(rig_.Attach(ToVariant(c.kind), 2), nullptr);
        rig_.ClearReports();
        ASSERT_EQ(OpenDevice(), 1);
        EXPECT_EQ(IsConnect(), 1);
        EXPECT_EQ(GetFlashSize(), c.mb);
        EXPECT_EQ(GetPhotoTotalSize(), c.max_photos);
        EXPECT_EQ(GetPhotoCount(), 2);
        // The probes of other variants fail quietly.
        EXPECT_TRUE(rig_.reports().empty());
        EXPECT_EQ(CloseDevice(), 1);
    }
}

// A card of the variant with its header bytes replaced.
std::unique_ptr<sim::CardImage> CardWithHeader(sim::Variant v, size_t offset,
                                               std::vector<uint8_t> bytes) {
    std::string error;
    auto card = sim::MakeCardInMemory(v, {}, &error);
    EXPECT_NE(card, nullptr) << error;
    EXPECT_TRUE(card->Overwrite(sim::GeometryOf(v).system_block_offset + offset, bytes, &error));
    return card;
}

std::vector<uint8_t> Text(const char* s) {
    return {s, s + std::strlen(s)};
}

TEST_F(DetectionTest, MagicSuffixIsIgnored) {
    for (const char* header :
         {"ZPX PHOTO CAM IMAGE V1.0", "ZPX PHOTO CAM IMAGE V1.5", "ZPX PHOTO CAM IMAGE!!!!!"}) {
        SCOPED_TRACE(header);
        rig_.AttachCard(sim::Variant::k32Mb, CardWithHeader(sim::Variant::k32Mb, 0, Text(header)));
        ASSERT_EQ(OpenDevice(), 1);
        EXPECT_EQ(GetFlashSize(), 32);
    }
}

TEST_F(DetectionTest, RefusesWrongMagicAndCapacity) {
    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"lower case", 0, Text("zpx photo cam image")},
        {"first byte", 0, {'Y'}},
        {"last magic byte", 18, {'F'}},
        {"capacity", 258, {105, 0}},
        {"capacity high byte", 259, {1}},
    };
    for (sim::Variant v : {sim::Variant::k32Mb, sim::Variant::k16MbLe}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(sim::VariantName(v)) + " " + c.what);
            rig_.AttachCard(v, CardWithHeader(v, c.offset, c.bytes));
            ASSERT_EQ(OpenDevice(), 1);
            EXPECT_EQ(IsConnect(), 1);
            const bool le_ignores_high_byte = v == sim::Variant::k16MbLe && c.offset == 259;
            EXPECT_EQ(GetFlashSize(), le_ignores_high_byte ? 16 : 0);
        }
    }
}

TEST_F(DetectionTest, UnformattedCard) {
    std::string error;
    auto blank =
        sim::CardImage::CreateInMemory(sim::GeometryOf(sim::Variant::k64Mb).card_bytes, &error);
    rig_.AttachCard(sim::Variant::k64Mb, std::move(blank));
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(IsConnect(), 1);
    EXPECT_EQ(GetFlashSize(), 0);
    EXPECT_EQ(GetPhotoTotalSize(), 0);
    EXPECT_EQ(GetPhotoCount(), 0);
    EXPECT_TRUE(rig_.reports().empty());
}

TEST_F(DetectionTest, FirstMatchWinsAndProbesReadTheVariantsSystemBlock) {
    // A 16 MB big-endian card is probed by both little-endian variants (whose
    // commands the firmware refuses), then by the 8 MB big-endian variant at
    // page 0x3FF0, then recognised at page 0x7FE0.
    rig_.Attach(sim::Variant::k16Mb, 0);
    rig_.log().Clear();
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(GetFlashSize(), 16);
    const auto reads = rig_.log().Commands(kOpRead);
    ASSERT_EQ(reads.size(), 2u + 16 + 32);
    EXPECT_EQ(reads[0].data[3], 0xE0);  // little-endian 0xFFE0
    EXPECT_EQ(reads[2].data[4], 0x3F);
    EXPECT_EQ(reads[2].data[5], 0xF0);
    EXPECT_EQ(reads[18].data[4], 0x7F);
    EXPECT_EQ(reads[18].data[5], 0xE0);
}

}  // namespace
}  // namespace quorbit::testing
