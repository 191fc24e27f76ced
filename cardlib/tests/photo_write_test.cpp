// Upload and deletion: slot choice, directory rules, write-back, refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/tests/test_support.h"
#include "sim/card_maker.h"

namespace quorbit::testing {
namespace {

class PhotoWriteTest : public CountingSessionTest {
  protected:
    void Open(sim::Variant v, int photos) {
        ASSERT_NE(rig_.Attach(v, photos), nullptr);
        variant_ = v;
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_NE(GetFlashSize(), 0);
    }
    // Writes TestBitmap(seed) to a file and uploads it.
    int Upload(int seed) {
        const std::string path = dir_.File("up" + std::to_string(seed) + ".bmp");
        WriteFileBytes(path, TestBitmap(seed));
        return WriteFileToFlash(path.c_str());
    }
    // The card's system block as the camera holds it.
    std::vector<uint8_t> CardSystemBlock() {
        const auto& g = sim::GeometryOf(variant_);
        return rig_.camera().Peek(g.system_block_offset, std::min<uint32_t>(g.block_bytes, 16384));
    }
    uint16_t CardCount() {
        const auto b = CardSystemBlock();
        return b[256] | (b[257] << 8);
    }
    uint16_t CardEntrySlot(int i) {
        const auto b = CardSystemBlock();
        const size_t at = sim::GeometryOf(variant_).page_bytes + 16 * size_t(i) + 8;
        return b[at] | (b[at + 1] << 8);
    }
    std::vector<uint8_t> SlotOnCard(int slot) {
        return rig_.camera().Peek(sim::PhotoSlotOffset(variant_, slot), kPhotoSlotBytes);
    }

    CameraRig rig_;
    TempDir dir_;
    sim::Variant variant_ = sim::Variant::k32Mb;
};

TEST_F(PhotoWriteTest, UploadsOnAFreshCardTakeSlotsInOrder) {
    Open(sim::Variant::k32Mb, 0);
    ASSERT_EQ(Upload(10), 1);
    EXPECT_EQ(GetPhotoCount(), 1);
    ASSERT_EQ(Upload(11), 1);
    EXPECT_EQ(GetPhotoCount(), 2);
    EXPECT_EQ(CardCount(), 2);
    EXPECT_EQ(CardEntrySlot(0), 0);
    EXPECT_EQ(CardEntrySlot(1), 1);
    const auto b = CardSystemBlock();
    const uint8_t entry0[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(&b[512], entry0, 16), 0);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 512 + 32, b.begin() + 512 + 64),
              std::vector<uint8_t>(32, 0xFF));
    EXPECT_EQ(SlotOnCard(0), UploadedSlot(10));
    EXPECT_EQ(SlotOnCard(1), UploadedSlot(11));
    // The session's copy and the card agree.
    EXPECT_EQ(std::memcmp(Session().system_block.data(), b.data(), b.size()), 0);
}

TEST_F(PhotoWriteTest, PagesErasesAndProgressPerGeometry) {
    struct Row {
        sim::Variant v;
        size_t erases, pages, write_back;
    };
    const Row rows[] = {
        {sim::Variant::k8MbLe, 38, 608, 16}, {sim::Variant::k16MbLe, 19, 608, 16},
        {sim::Variant::k8Mb, 38, 608, 16},   {sim::Variant::k16Mb, 19, 608, 32},
        {sim::Variant::k32Mb, 19, 608, 32},  {sim::Variant::k64Mb, 19, 608, 32},
        {sim::Variant::k128Mb, 3, 152, 8},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(sim::VariantName(r.v)));
        Open(r.v, 1);
        rig_.log().Clear();
        ResetProgress();
        ASSERT_EQ(Upload(3), 1);
        // The photo's blocks, then the system block.
        EXPECT_EQ(rig_.log().CountCommands(kOpErase), r.erases + 1);
        EXPECT_EQ(rig_.log().CountCommands(kOpWrite), r.pages + r.write_back);
        EXPECT_EQ(rig_.log().Count(Event::Kind::Out) - rig_.log().Commands().size(),
                  r.pages + r.write_back);
        EXPECT_EQ(Progress().announced, int32_t(r.pages));
        EXPECT_EQ(Progress().steps, int(r.pages));
        EXPECT_EQ(rig_.log().TotalPause().count(), 0);
        EXPECT_EQ(SlotOnCard(1), UploadedSlot(3));
        EXPECT_EQ(GetPhotoCount(), 2);
        // And it reads back through a fresh open.
        ASSERT_EQ(OpenDevice(), 1);
        EXPECT_EQ(GetPhotoCount(), 2);
        EXPECT_TRUE(rig_.reports().empty());
    }
}

TEST_F(PhotoWriteTest, DeletionsAndHints) {
    Open(sim::Variant::k16Mb, 3);
    // Photo 0 of three: entries 1 and 2 move down.
    ASSERT_EQ(DeletePhoto(0), 1);
    EXPECT_EQ(GetPhotoCount(), 2);
    EXPECT_EQ(CardCount(), 2);
    EXPECT_EQ(CardEntrySlot(0), 1);
    EXPECT_EQ(CardEntrySlot(1), 2);
    EXPECT_EQ(CardEntrySlot(2), 0xFFFF);
    EXPECT_EQ(CardEntrySlot(3), 0);  // the hint
    // Then the last one: no move, its slot becomes the hint.
    ASSERT_EQ(DeletePhoto(1), 1);
    EXPECT_EQ(CardEntrySlot(0), 1);
    EXPECT_EQ(CardEntrySlot(2), 2);
    // Two uploads reuse both freed slots, the one freed last first.
    ASSERT_EQ(Upload(20), 1);
    EXPECT_EQ(CardEntrySlot(1), 2);
    ASSERT_EQ(Upload(21), 1);
    EXPECT_EQ(CardEntrySlot(2), 0);
    EXPECT_EQ(SlotOnCard(2), UploadedSlot(20));
    EXPECT_EQ(SlotOnCard(0), UploadedSlot(21));
    // No hints left: the next goes after the photos.
    ASSERT_EQ(Upload(22), 1);
    EXPECT_EQ(CardEntrySlot(3), 3);
    // Deletions make no progress calls.
    ResetProgress();
    ASSERT_EQ(DeletePhoto(3), 1);
    EXPECT_EQ(Progress().begins + Progress().steps, 0);
}

TEST_F(PhotoWriteTest, HintFF) {
    // On 128 MB a hint of 0xFF is slot 255; elsewhere it is no hint.
    for (sim::Variant v : {sim::Variant::k128Mb, sim::Variant::k32Mb}) {
        SCOPED_TRACE(std::string(sim::VariantName(v)));
        Open(v, 1);
        const size_t page = sim::GeometryOf(v).page_bytes;
        StoreLe16(&Session().system_block[page + 2 * 16 + 8], 0x00FF);
        ASSERT_EQ(Upload(5), 1);
        const uint16_t expected = v == sim::Variant::k128Mb ? 255 : 1;
        EXPECT_EQ(CardEntrySlot(1), expected);
        EXPECT_EQ(SlotOnCard(expected), UploadedSlot(5));
    }
}

TEST_F(PhotoWriteTest, NeverOverwritesASlotInUse) {
    Open(sim::Variant::k32Mb, 3);
    // A hint naming a photo in use, as another writer might leave it.
    StoreLe16(&Session().system_block[512 + 4 * 16 + 8], 1);
    const auto before = SlotOnCard(1);
    ASSERT_EQ(Upload(7), 1);
    EXPECT_EQ(SlotOnCard(1), before);
    EXPECT_EQ(CardEntrySlot(3), 3);  // the lowest free slot
    // Entries out of order: photos in slots 0, 2 and the count says 2; the
    // next upload must not take slot 2 although count = 2.
    Open(sim::Variant::k32Mb, 3);
    ASSERT_EQ(DeletePhoto(1), 1);                                  // entries now slots 0, 2; hint 1
    StoreLe16(&Session().system_block[512 + 3 * 16 + 8], 0xFFFF);  // drop the hint
    ASSERT_EQ(Upload(8), 1);
    EXPECT_EQ(CardEntrySlot(2), 1);
}

TEST_F(PhotoWriteTest, FullCardIsRefused) {
    Open(sim::Variant::k8Mb, 26);
    const auto card = rig_.CardBytes();
    rig_.log().Clear();
    EXPECT_EQ(Upload(1), 0);
    EXPECT_EQ(GetPhotoCount(), 26);
    EXPECT_EQ(rig_.log().Count(Event::Kind::Out), 0u);
    EXPECT_EQ(rig_.CardBytes(), card);
    // A hint at or above the slot count is ignored.
    Open(sim::Variant::k8Mb, 2);
    StoreLe16(&Session().system_block[512 + 3 * 16 + 8], 26);
    ASSERT_EQ(Upload(2), 1);
    EXPECT_EQ(CardEntrySlot(2), 2);
}

TEST_F(PhotoWriteTest, BadBitmapsAreRefusedWithNothingChanged) {
    Open(sim::Variant::k8MbLe, 2);
    const auto card = rig_.CardBytes();
    const auto block = Session().system_block;
    const std::vector<uint8_t> good = TestBitmap(1);
    auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        auto b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"headers only", std::vector<uint8_t>(good.begin(), good.begin() + 54)},
        {"not BM", with(0, {'M', 'B'})},
        {"width", with(18, {0x43, 0x01})},
        {"height", with(22, {0xF1})},
        {"depth 32", with(28, {32})},
        {"compressed", with(30, {1})},
        {"planes", with(26, {2})},
        {"core header", with(14, {12})},
        {"pixel offset past the end", with(10, {0xFF, 0xFF, 0x0F})},
        {"pixel offset inside the headers", with(10, {20})},
        {"text", {'h', 'e', 'l', 'l', 'o'}},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        const std::string path = dir_.File("bad.bmp");
        WriteFileBytes(path, bytes);
        rig_.log().Clear();
        ResetProgress();
        EXPECT_EQ(WriteFileToFlash(path.c_str()), 0);
        EXPECT_EQ(rig_.log().Count(Event::Kind::Out), 0u);
        EXPECT_EQ(Progress().begins, 0);
    }
    EXPECT_EQ(WriteFileToFlash(dir_.File("missing.bmp").c_str()), 0);
    EXPECT_EQ(WriteFileToFlash(dir_.path().c_str()), 0);
    EXPECT_EQ(WriteFileToFlash(nullptr), 0);
    EXPECT_EQ(rig_.CardBytes(), card);
    EXPECT_EQ(Session().system_block, block);
}

TEST_F(PhotoWriteTest, OtherBitmapLayoutsAreRead) {
    Open(sim::Variant::k16MbLe, 0);
    const std::vector<uint8_t> bottom_up = TestBitmap(4);
    // Top-down rows (negative height).
    std::vector<uint8_t> top_down(bottom_up.begin(), bottom_up.begin() + 54);
    StoreLe16(&top_down[22], 0xFF0E);  // -242
    top_down[24] = top_down[25] = 0xFF;
    for (int k = 241; k >= 0; --k)
        top_down.insert(top_down.end(), bottom_up.begin() + 54 + k * 968,
                        bottom_up.begin() + 54 + (k + 1) * 968);
    // A 124-byte info header and a colour table before the pixels, and
    // trailing bytes after them.
    std::vector<uint8_t> v5(bottom_up.begin(), bottom_up.begin() + 14);
    std::vector<uint8_t> info(124, 0);
    std::copy(bottom_up.begin() + 14, bottom_up.begin() + 54, info.begin());
    info[0] = 124;
    v5.insert(v5.end(), info.begin(), info.end());
    v5.insert(v5.end(), 16, 0x77);
    const uint32_t offset = uint32_t(v5.size());
    v5[10] = uint8_t(offset);
    v5[11] = uint8_t(offset >> 8);
    v5.insert(v5.end(), bottom_up.begin() + 54, bottom_up.end());
    v5.insert(v5.end(), 100, 0x55);

    int slot = 0;
    for (const std::vector<uint8_t>* file :
         {&bottom_up, static_cast<const std::vector<uint8_t>*>(&top_down),
          static_cast<const std::vector<uint8_t>*>(&v5)}) {
        const std::string path = dir_.File("layout.bmp");
        WriteFileBytes(path, *file);
        ASSERT_EQ(WriteFileToFlash(path.c_str()), 1);
        EXPECT_EQ(SlotOnCard(slot), UploadedSlot(4)) << slot;
        ++slot;
    }
}

TEST_F(PhotoWriteTest, WriteFaultInThePhotoChangesNoDirectory) {
    Open(sim::Variant::k64Mb, 2);
    const auto block_before = CardSystemBlock();
    const auto session_before = Session().system_block;
    // The data of the photo's 301st page fails.
    auto pages = std::make_shared<int>(0);
    rig_.recorder().SetFault([pages](Event::Kind k, size_t, std::span<const uint8_t> d) {
        return k == Event::Kind::Out && d.size() == 512 && (*pages)++ == 300
                   ? platform::IoError::Failed
                   : platform::IoError::None;
    });
    EXPECT_EQ(Upload(9), 0);
    EXPECT_EQ(CardSystemBlock(), block_before);
    EXPECT_EQ(Session().system_block, session_before);
    EXPECT_EQ(GetPhotoCount(), 2);
    ASSERT_EQ(rig_.reports().size(), 1u);
    EXPECT_EQ(rig_.reports()[0].text, "write card error,work incomplete");
    EXPECT_EQ(Progress().steps, 300);
    // The next upload goes to the same slot and works.
    rig_.recorder().SetFault({});
    ASSERT_EQ(Upload(9), 1);
    EXPECT_EQ(CardEntrySlot(2), 2);
    EXPECT_EQ(SlotOnCard(2), UploadedSlot(9));
}

TEST_F(PhotoWriteTest, SystemBlockWriteBackIsRetriedOnce) {
    Open(sim::Variant::k16Mb, 3);
    // Out transfers of a deletion: erase, then per page command, data, end.
    // The fifth page's data fails once: the second attempt stores it all,
    // and the user hears nothing of the passing fault.
    rig_.recorder().SetFault(FailNth(Event::Kind::Out, 1 + 4 * 3 + 1, platform::IoError::Failed));
    ASSERT_EQ(DeletePhoto(0), 1);
    EXPECT_EQ(CardCount(), 2);
    EXPECT_EQ(CardEntrySlot(0), 1);
    EXPECT_EQ(std::memcmp(Session().system_block.data(), CardSystemBlock().data(), 16384), 0);
    EXPECT_TRUE(rig_.reports().empty());

    // The erase of the system block fails once: erased and written again.
    rig_.recorder().SetFault(FailNth(Event::Kind::Out, 0, platform::IoError::Aborted));
    ASSERT_EQ(DeletePhoto(0), 1);
    EXPECT_EQ(CardCount(), 1);
    EXPECT_EQ(CardEntrySlot(0), 2);
    EXPECT_EQ(std::memcmp(Session().system_block.data(), CardSystemBlock().data(), 16384), 0);
    EXPECT_TRUE(rig_.reports().empty());
}

// A write-back that fails for good gives 0 with one report of text 14 and
// leaves the session's listing as it was before the call, whatever part of
// the write-back the fault hits; the host's retry then does the change once.
TEST_F(PhotoWriteTest, FailedWriteBackLeavesTheSessionAsBefore) {
    using Fault = std::function<platform::IoError(Event::Kind, size_t, std::span<const uint8_t>)>;
    const auto erase_fails = [](Event::Kind k, size_t, std::span<const uint8_t> d) {
        return k == Event::Kind::Out && d.size() == 16 && d[1] == kOpErase
                   ? platform::IoError::Failed
                   : platform::IoError::None;
    };
    const auto page_fails = [](Event::Kind k, size_t, std::span<const uint8_t> d) {
        return k == Event::Kind::Out && d.size() == 512 ? platform::IoError::Failed
                                                        : platform::IoError::None;
    };
    const auto command_fails = [](Event::Kind k, size_t, std::span<const uint8_t> d) {
        return k == Event::Kind::Out && d.size() == 16 && d[1] == kOpWrite
                   ? platform::IoError::Failed
                   : platform::IoError::None;
    };
    for (const Fault& fault : std::vector<Fault>{erase_fails, page_fails, command_fails}) {
        Open(sim::Variant::k16Mb, 3);
        const auto session_before = Session().system_block;
        rig_.ClearReports();
        rig_.recorder().SetFault(fault);
        EXPECT_EQ(DeletePhoto(0), 0);
        EXPECT_EQ(GetPhotoCount(), 3);
        EXPECT_EQ(Session().system_block, session_before);
        ASSERT_EQ(rig_.reports().size(), 1u);
        // With the note that the directory is lost where the fault also
        // keeps the old system block from being put back.
        EXPECT_EQ(rig_.reports()[0].text.rfind("write card error,work incomplete", 0), 0u);
        rig_.recorder().SetFault({});
        ASSERT_EQ(DeletePhoto(0), 1);
        EXPECT_EQ(CardCount(), 2);
        EXPECT_EQ(CardEntrySlot(0), 1);
        EXPECT_EQ(CardEntrySlot(1), 2);
        EXPECT_EQ(CardEntrySlot(3), 0);  // the hint of the one deletion

        // An upload whose photo went onto the card but whose directory did
        // not: the photo's 19 blocks pass (erase, then command, data and end
        // per page), the write-back meets the fault.
        const auto before_upload = Session().system_block;
        rig_.recorder().SetFault([fault, outs = std::make_shared<size_t>(0)](
                                     Event::Kind k, size_t n, std::span<const uint8_t> d) {
            return ++*outs <= 19 * (1 + 32 * 3) ? platform::IoError::None : fault(k, n, d);
        });
        rig_.ClearReports();
        EXPECT_EQ(Upload(4), 0);
        EXPECT_EQ(GetPhotoCount(), 2);
        EXPECT_EQ(Session().system_block, before_upload);
        EXPECT_EQ(rig_.reports().size(), 1u);
        rig_.recorder().SetFault({});
        ASSERT_EQ(Upload(4), 1);
        EXPECT_EQ(CardCount(), 3);
        EXPECT_EQ(CardEntrySlot(2), 0);  // the hint, taken once
        EXPECT_EQ(CardEntrySlot(3), 0xFFFF);
        EXPECT_EQ(SlotOnCard(0), UploadedSlot(4));
        EXPECT_EQ(std::memcmp(Session().system_block.data(), CardSystemBlock().data(), 16384), 0);
    }
}

// A page of nothing but 0xFF changes nothing in an erased block: when only
// such pages fail in both attempts, the card holds the intended block whole.
// The call reads it back and says so; a host that opens the camera again
// (as a command-line tool does for every command) sees the change once.
TEST_F(PhotoWriteTest, WriteBackThatReachedTheCardIsReportedAsDone) {
    const auto erased_pages_fail = [](Event::Kind k, size_t, std::span<const uint8_t> d) {
        const bool erased = std::all_of(d.begin(), d.end(), [](uint8_t b) { return b == 0xFF; });
        return k == Event::Kind::Out && d.size() == 512 && erased ? platform::IoError::Failed
                                                                  : platform::IoError::None;
    };
    for (sim::Variant v : {sim::Variant::k16MbLe, sim::Variant::k32Mb}) {
        SCOPED_TRACE(sim::VariantName(v));
        Open(v, 3);
        rig_.ClearReports();
        rig_.recorder().SetFault(erased_pages_fail);
        EXPECT_EQ(DeletePhoto(0), 1);
        EXPECT_TRUE(rig_.reports().empty());
        EXPECT_EQ(Upload(6), 1);
        EXPECT_TRUE(rig_.reports().empty());
        rig_.recorder().SetFault({});

        ASSERT_EQ(CloseDevice(), 1);
        ASSERT_EQ(OpenDevice(), 1);
        EXPECT_EQ(GetPhotoCount(), 3);
        EXPECT_EQ(CardCount(), 3);
        EXPECT_EQ(CardEntrySlot(2), 0);  // the upload took the freed slot, once
        EXPECT_EQ(SlotOnCard(0), UploadedSlot(6));
        ASSERT_EQ(CloseDevice(), 1);
    }
}

// A write-back whose read-back differs (or fails) stays a failure: one
// report, the session as before.
TEST_F(PhotoWriteTest, WriteBackIsNotTakenForDoneWhenTheCardDiffers) {
    Open(sim::Variant::k32Mb, 3);
    const auto session_before = Session().system_block;
    // The first page, which holds the count, never arrives; the reads work.
    rig_.recorder().SetFault([](Event::Kind k, size_t, std::span<const uint8_t> d) {
        const bool count_page = d.size() == 512 && d[256] == 2;
        return k == Event::Kind::Out && count_page ? platform::IoError::Failed
                                                   : platform::IoError::None;
    });
    EXPECT_EQ(DeletePhoto(0), 0);
    EXPECT_EQ(Session().system_block, session_before);
    ASSERT_EQ(rig_.reports().size(), 1u);
    EXPECT_EQ(rig_.reports()[0].text, "write card error,work incomplete");
}

// Programming only clears bits: a photo written into a block whose erase
// failed would mix with the old photo there.
TEST_F(PhotoWriteTest, UploadNeverWritesIntoABlockThatWasNotErased) {
    for (platform::IoError error :
         {platform::IoError::Aborted, platform::IoError::Failed, platform::IoError::DeviceGone}) {
        SCOPED_TRACE(platform::ToString(error));
        Open(sim::Variant::k32Mb, 2);
        rig_.ClearReports();
        ASSERT_EQ(DeletePhoto(0), 1);  // slot 0 keeps photo 0's bytes as the hint
        // The erase before the 97th page (the fourth block) fails once: it is
        // erased again and the photo is whole.
        rig_.recorder().SetFault([error, erases = std::make_shared<int>(0)](
                                     Event::Kind k, size_t, std::span<const uint8_t> d) {
            return k == Event::Kind::Out && d.size() == 16 && d[1] == kOpErase && ++*erases == 4
                       ? error
                       : platform::IoError::None;
        });
        ASSERT_EQ(Upload(6), 1);
        EXPECT_EQ(SlotOnCard(0), UploadedSlot(6));
        EXPECT_TRUE(rig_.reports().empty());

        // When it fails twice, nothing is written into the block: 0, text 14,
        // directory and session unchanged.
        ASSERT_EQ(DeletePhoto(1), 1);
        const auto session_before = Session().system_block;
        const auto card_block = CardSystemBlock();
        rig_.ClearReports();
        rig_.log().Clear();
        rig_.recorder().SetFault([error, erases = std::make_shared<int>(0)](
                                     Event::Kind k, size_t, std::span<const uint8_t> d) {
            const bool erase = k == Event::Kind::Out && d.size() == 16 && d[1] == kOpErase;
            return erase && (++*erases == 4 || *erases == 5) ? error : platform::IoError::None;
        });
        EXPECT_EQ(Upload(7), 0);
        EXPECT_EQ(rig_.log().Count(Event::Kind::Out), 3 * (1 + 32 * 3) + 2u);
        EXPECT_EQ(Session().system_block, session_before);
        EXPECT_EQ(CardSystemBlock(), card_block);
        ASSERT_EQ(rig_.reports().size(), 1u);
        EXPECT_EQ(rig_.reports()[0].text, "write card error,work incomplete");
    }
}

// A write-back that fails in both attempts while the camera still answers
// puts the old system block back: a host that closes the session (one
// process a command) finds the card as before the call, and its retry makes
// the change once. Only a camera that stops answering leaves the card
// without its directory, and the one report says so.
TEST_F(PhotoWriteTest, FailedWriteBackPutsTheOldSystemBlockBack) {
    enum class After { kAnswers, kStopsAnswering };
    struct Case {
        sim::Variant variant;
        bool upload;
        After after;
    };
    const Case cases[] = {
        {sim::Variant::k8MbLe, false, After::kAnswers},
        {sim::Variant::k8MbLe, true, After::kAnswers},
        {sim::Variant::k16Mb, false, After::kAnswers},
        {sim::Variant::k32Mb, true, After::kAnswers},
        {sim::Variant::k128Mb, false, After::kAnswers},
        {sim::Variant::k128Mb, true, After::kAnswers},
        {sim::Variant::k16MbLe, false, After::kStopsAnswering},
        {sim::Variant::k32Mb, true, After::kStopsAnswering},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::VariantName(c.variant)) + (c.upload ? " upload" : " delete") +
                     (c.after == After::kAnswers ? "" : ", camera stops answering"));
        Open(c.variant, 3);
        const auto card_before = CardSystemBlock();
        const int photo_erases = c.upload ? Session().geometry->BlocksPerPhoto() : 0;
        const size_t page = Session().geometry->PageSize();
        // The page data of both write-back attempts fails (the erases after
        // the photo's own); the put-back's erase and pages pass. Or, from
        // the first failed page on, every transfer fails.
        struct State {
            int erases = 0;
            bool stopped = false;
        };
        rig_.recorder().SetFault([&c, photo_erases, page, state = std::make_shared<State>()](
                                     Event::Kind k, size_t, std::span<const uint8_t> d) {
            if (state->stopped)
                return platform::IoError::Failed;
            const bool out = k == Event::Kind::Out;
            if (out && d.size() == 16 && d[1] == kOpErase)
                ++state->erases;
            const int write_back = state->erases - photo_erases;
            if (!out || d.size() != page || write_back < 1 || write_back > 2)
                return platform::IoError::None;
            state->stopped = c.after == After::kStopsAnswering;
            return platform::IoError::Failed;
        });
        rig_.ClearReports();
        EXPECT_EQ(c.upload ? Upload(3) : DeletePhoto(1), 0);
        rig_.recorder().SetFault({});
        EXPECT_EQ(GetPhotoCount(), 3);
        ASSERT_EQ(rig_.reports().size(), 1u);
        const std::string& report = rig_.reports()[0].text;
        const bool lost = report.find("could not be written whole") != std::string::npos;
        EXPECT_EQ(report.rfind("write card error,work incomplete", 0), 0u) << report;
        ASSERT_EQ(CloseDevice(), 1);
        ASSERT_EQ(OpenDevice(), 1);
        if (c.after == After::kStopsAnswering) {
            EXPECT_TRUE(lost) << report;
            EXPECT_EQ(GetFlashSize(), 0) << "the window no writer can close";
            continue;
        }
        EXPECT_FALSE(lost) << report;
        EXPECT_EQ(CardSystemBlock(), card_before);
        ASSERT_NE(GetFlashSize(), 0);
        EXPECT_EQ(GetPhotoCount(), 3);
        ASSERT_EQ(c.upload ? Upload(3) : DeletePhoto(1), 1);
        EXPECT_EQ(CardCount(), c.upload ? 4 : 2);
    }
}

TEST_F(PhotoWriteTest, DeleteRefusals) {
    Open(sim::Variant::k32Mb, 2);
    const auto card = CardSystemBlock();
    rig_.log().Clear();
    for (int index : {-1, 2, 3, 100000})
        EXPECT_EQ(DeletePhoto(index), 0) << index;
    EXPECT_EQ(rig_.log().Count(Event::Kind::Out), 0u);
    Open(sim::Variant::k32Mb, 0);
    rig_.log().Clear();
    EXPECT_EQ(DeletePhoto(0), 0);
    EXPECT_EQ(rig_.log().Count(Event::Kind::Out), 0u);
    EXPECT_EQ(GetPhotoCount(), 0);
}

TEST_F(PhotoWriteTest, CorruptCountsStayInsideTheBuffer) {
    Open(sim::Variant::k64Mb, 1);
    StoreLe16(&Session().system_block[256], 0xFFFF);
    EXPECT_EQ(DeletePhoto(5000), 0);
    EXPECT_EQ(Upload(1), 0);
    StoreLe16(&Session().system_block[256], 1000);  // entry 1000 lies past 16 KB
    EXPECT_EQ(DeletePhoto(999), 0);
    EXPECT_EQ(ReadPhotoToFile(999, dir_.File("x.bmp").c_str()), 0);
}

}  // namespace
}  // namespace quorbit::testing
