// Whole-card backup and format.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/tests/test_support.h"
#include "sim/card_maker.h"

namespace quorbit::testing {
namespace {

class CardImageTest : public CountingSessionTest {
  protected:
    std::vector<uint8_t> CardHeader(sim::Variant v, size_t bytes = 512) {
        return rig_.camera().Peek(sim::GeometryOf(v).system_block_offset, bytes);
    }
    void AttachBlank(sim::Variant v) {
        std::string error;
        rig_.AttachCard(v, sim::CardImage::CreateInMemory(sim::GeometryOf(v).card_bytes, &error));
    }

    // The simulated firmware reads bytes 3-5 as one page number and wraps it,
    // so a little-endian command can alias onto a valid page. A real 8 or 16
    // MB big-endian camera never sees page numbers that reach byte 3: refuse
    // such blocks as its strict decoder would.
    void StrictSmallBigEndianFirmware() {
        rig_.recorder().SetFault([](Event::Kind k, size_t, std::span<const uint8_t> d) {
            return k == Event::Kind::Out && d.size() == 16 && d[0] == 0x85 && d[3] != 0
                       ? platform::IoError::Failed
                       : platform::IoError::None;
        });
    }

    CameraRig rig_;
    TempDir dir_;
};

TEST_F(CardImageTest, BackupIsTheCardByteForByte) {
    for (sim::Variant v : sim::kAllVariants) {
        const auto& g = sim::GeometryOf(v);
        SCOPED_TRACE(std::string(g.name));
        rig_.Attach(v, 3);
        ASSERT_EQ(OpenDevice(), 1);
        rig_.log().enabled = false;
        ResetProgress();
        const std::string path = dir_.File("card.img");
        ASSERT_EQ(ReadAll(path.c_str()), 1);
        rig_.log().enabled = true;
        const uint32_t blocks = uint32_t(g.card_bytes / g.block_bytes);
        EXPECT_EQ(Progress().announced, int32_t(blocks));
        EXPECT_EQ(Progress().steps, int(blocks));
        const auto file = ReadFileBytes(path);
        ASSERT_EQ(file.size(), g.card_bytes);
        EXPECT_TRUE(file == rig_.CardBytes());
        ::unlink(path.c_str());
        EXPECT_TRUE(rig_.reports().empty());
    }
}

TEST_F(CardImageTest, ReadFaultAtBlockKLeavesKBlocks) {
    rig_.Attach(sim::Variant::k128Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    const int k = 5;
    // 64 pages of 2048 bytes a block.
    rig_.recorder().SetFault(FailNth(Event::Kind::In, k * 64 + 10, platform::IoError::Failed));
    const std::string path = dir_.File("part.img");
    EXPECT_EQ(ReadAll(path.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(path).size(), size_t(k) * 131072);
    EXPECT_EQ(Progress().announced, 1024);
    EXPECT_EQ(Progress().steps, k);
    ASSERT_EQ(rig_.reports().size(), 1u);
    EXPECT_EQ(rig_.reports()[0].text, "read card error,work incomplete");
    EXPECT_EQ(ReadAll(dir_.File("no/such/dir.img").c_str()), 0);
}

TEST_F(CardImageTest, BackupThatCannotBeWrittenWholeFails) {
    rig_.Attach(sim::Variant::k8Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    rig_.log().enabled = false;
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1 << 20;  // as a disk that fills up after 1 MB
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = ReadAll(dir_.File("card.img").c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Progress().steps, 128);  // 1 MB of 8 KB blocks went in
}

TEST_F(CardImageTest, BackupServedAgainIsRecognisedWithTheSamePhotos) {
    rig_.Attach(sim::Variant::k8MbLe, 4);
    ASSERT_EQ(OpenDevice(), 1);
    const std::string image = dir_.File("card.img");
    ASSERT_EQ(ReadAll(image.c_str()), 1);
    std::vector<std::vector<uint8_t>> before;
    for (int i = 0; i < 4; ++i) {
        const std::string path = dir_.File("a" + std::to_string(i) + ".bmp");
        ASSERT_EQ(ReadPhotoToFile(i, path.c_str()), 1);
        before.push_back(ReadFileBytes(path));
    }
    std::string error;
    auto card =
        sim::CardImage::Open(image, sim::GeometryOf(sim::Variant::k8MbLe).card_bytes, &error);
    ASSERT_NE(card, nullptr) << error;
    rig_.AttachCard(sim::Variant::k8MbLe, std::move(card));
    ASSERT_EQ(OpenDevice(), 1);
    ASSERT_EQ(GetFlashSize(), 8);
    ASSERT_EQ(GetPhotoCount(), 4);
    for (int i = 0; i < 4; ++i) {
        const std::string path = dir_.File("b" + std::to_string(i) + ".bmp");
        ASSERT_EQ(ReadPhotoToFile(i, path.c_str()), 1);
        EXPECT_EQ(ReadFileBytes(path), before[i]) << i;
    }
}

TEST_F(CardImageTest, FormatOfARecognisedCard) {
    rig_.Attach(sim::Variant::k128Mb, 3);
    ASSERT_EQ(OpenDevice(), 1);
    ResetProgress();
    rig_.log().Clear();
    ASSERT_EQ(FormatFlash(0), 1);
    EXPECT_EQ(Progress().announced, 1);
    EXPECT_EQ(Progress().steps, 1);
    EXPECT_EQ(GetPhotoCount(), 0);
    EXPECT_EQ(GetFlashSize(), 128);
    // One erase and one header page.
    EXPECT_EQ(rig_.log().CountCommands(kOpErase), 1u);
    EXPECT_EQ(rig_.log().CountCommands(kOpWrite), 1u);
    const auto header = CardHeader(sim::Variant::k128Mb, 4096);
    EXPECT_EQ(std::memcmp(header.data(), "ZPX PHOTO CAM IMAGE V1.5", 25), 0);
    EXPECT_EQ(header[256], 0);
    EXPECT_EQ(header[257], 0);
    EXPECT_EQ(header[258], 0x54);
    EXPECT_EQ(header[259], 0x01);
    EXPECT_EQ(std::vector<uint8_t>(header.begin() + 512, header.end()),
              std::vector<uint8_t>(4096 - 512, 0xFF));
    EXPECT_EQ(std::memcmp(Session().system_block.data(), header.data(), header.size()), 0);
    // The first upload goes to slot 0.
    const std::string bmp = dir_.File("u.bmp");
    WriteFileBytes(bmp, TestBitmap(2));
    ASSERT_EQ(WriteFileToFlash(bmp.c_str()), 1);
    EXPECT_EQ(rig_.camera().Peek(0, kPhotoSlotBytes), UploadedSlot(2));
}

TEST_F(CardImageTest, FormatOfBlankCardsOfEverySize) {
    struct Case {
        sim::Variant v;
        int size;
        const char* header;
    };
    const Case cases[] = {
        {sim::Variant::k8MbLe, 8, "ZPX PHOTO CAM IMAGE V1.0"},
        {sim::Variant::k16MbLe, 16, "ZPX PHOTO CAM IMAGE V1.0"},
        {sim::Variant::k32Mb, 32, "ZPX PHOTO CAM IMAGE V1.5"},
        {sim::Variant::k64Mb, 64 + 0x10000, "ZPX PHOTO CAM IMAGE V1.5"},  // low 16 bits count
        {sim::Variant::k128Mb, 128, "ZPX PHOTO CAM IMAGE V1.5"},
    };
    for (const Case& c : cases) {
        const auto& g = sim::GeometryOf(c.v);
        SCOPED_TRACE(std::string(g.name));
        AttachBlank(c.v);
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_EQ(GetFlashSize(), 0);
        ResetProgress();
        ASSERT_EQ(FormatFlash(c.size), 1);
        EXPECT_EQ(GetFlashSize(), c.size & 0xFFFF);
        EXPECT_EQ(GetPhotoTotalSize(), g.max_photos);
        EXPECT_EQ(GetPhotoCount(), 0);
        EXPECT_EQ(Progress().begins, 1);
        EXPECT_EQ(Progress().steps, 1);
        const auto header = CardHeader(c.v);
        EXPECT_EQ(std::memcmp(header.data(), c.header, 25), 0);
        EXPECT_EQ(header[258] | (header[259] << 8), g.max_photos);
        EXPECT_TRUE(rig_.reports().empty());
        // Recognised afresh as the same geometry.
        ASSERT_EQ(OpenDevice(), 1);
        EXPECT_EQ(GetFlashSize(), c.size & 0xFFFF);
    }
}

TEST_F(CardImageTest, FailedKindCheckAfterABlankLittleEndianFormatShowsNoError) {
    // After the header is written and read back, the format reads one page
    // more to tell a little-endian camera from a big-endian one that aliases
    // its commands. That read is not one the user asked for: when it fails,
    // the format that succeeded shows no read error.
    struct Case {
        sim::Variant v;
        size_t alias_read;  // the IN transfer after the read-back
    };
    for (const Case& c : {Case{sim::Variant::k8MbLe, 16}, Case{sim::Variant::k16MbLe, 32}}) {
        const auto& g = sim::GeometryOf(c.v);
        SCOPED_TRACE(std::string(g.name));
        AttachBlank(c.v);
        ASSERT_EQ(OpenDevice(), 1);
        rig_.recorder().SetFault(FailNth(Event::Kind::In, c.alias_read, platform::IoError::Failed));
        rig_.log().Clear();
        ASSERT_EQ(FormatFlash(g.card_bytes >> 20), 1);
        EXPECT_EQ(rig_.log().Count(Event::Kind::In), c.alias_read + 1);
        EXPECT_TRUE(rig_.reports().empty());
        EXPECT_EQ(std::memcmp(CardHeader(c.v).data(), "ZPX PHOTO CAM IMAGE V1.0", 25), 0);
        ASSERT_EQ(OpenDevice(), 1);
        EXPECT_EQ(GetFlashSize(), g.card_bytes >> 20);
    }
}

TEST_F(CardImageTest, BlankBigEndianCardWhoseFirmwareAliasesLittleEndianCommands) {
    // The simulated 8 and 16 MB big-endian firmware takes the little-endian
    // commands' bytes 3-5 as a page number and wraps it: the little-endian
    // header write and read-back meet in one page. The format must still end
    // with the big-endian geometry and a card that keeps its photos.
    for (sim::Variant v : {sim::Variant::k8Mb, sim::Variant::k16Mb}) {
        const auto& g = sim::GeometryOf(v);
        SCOPED_TRACE(std::string(g.name));
        AttachBlank(v);
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_EQ(FormatFlash(g.card_bytes >> 20), 1);
        EXPECT_EQ(std::memcmp(CardHeader(v).data(), "ZPX PHOTO CAM IMAGE V1.5", 25), 0);
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_EQ(GetFlashSize(), g.card_bytes >> 20);
        // Recognised as big-endian: its reads count pages.
        ASSERT_TRUE(Session().geometry->PageSize() == 512 &&
                    Session().geometry->SystemBlockPage() == Session().geometry->DirectoryPage());
        const std::string bmp = dir_.File("u.bmp");
        for (int seed = 0; seed < 3; ++seed) {
            WriteFileBytes(bmp, TestBitmap(seed));
            ASSERT_EQ(WriteFileToFlash(bmp.c_str()), 1);
        }
        ASSERT_EQ(DeletePhoto(1), 1);
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_EQ(GetPhotoCount(), 2);
        EXPECT_EQ(rig_.camera().Peek(sim::PhotoSlotOffset(v, 0), kPhotoSlotBytes), UploadedSlot(0));
        EXPECT_EQ(rig_.camera().Peek(sim::PhotoSlotOffset(v, 2), kPhotoSlotBytes), UploadedSlot(2));
    }
}

TEST_F(CardImageTest, LittleEndianFormatThatCannotWriteStopsThere) {
    // An 8 MB big-endian card with two photos but no header recognised
    // (magic damaged), in a camera that refuses the little-endian commands:
    // FormatFlash(8) tries the little-endian form, whose erase is refused, and
    // stops there: no big-endian command reaches the card, which keeps its
    // photos, and the session is as before.
    std::string error;
    auto card = sim::MakeCardInMemory(sim::Variant::k8Mb, {TestPicture(0), TestPicture(1)}, &error);
    ASSERT_TRUE(card->Overwrite(sim::GeometryOf(sim::Variant::k8Mb).system_block_offset,
                                std::vector<uint8_t>{'z'}, &error));
    rig_.AttachCard(sim::Variant::k8Mb, std::move(card));
    StrictSmallBigEndianFirmware();
    ASSERT_EQ(OpenDevice(), 1);
    ASSERT_EQ(GetFlashSize(), 0);
    const auto card_before = rig_.CardBytes();
    rig_.log().Clear();
    EXPECT_EQ(FormatFlash(8), 0);
    EXPECT_EQ(GetFlashSize(), 0);
    for (const Event& e : rig_.log().Commands())
        EXPECT_NE(e.data[3], 0) << "a big-endian command was sent";
    EXPECT_EQ(rig_.log().CountCommands(kOpErase), 2u);
    EXPECT_EQ(rig_.CardBytes(), card_before);
    ASSERT_EQ(rig_.reports().size(), 1u);
    EXPECT_EQ(rig_.reports()[0].text, "write card error,work incomplete");

    // A blank 16 MB little-endian card whose header page is refused: the
    // block stays erased and the geometry this call chose stays selected for
    // the host's retry; nothing is sent after the failed page.
    AttachBlank(sim::Variant::k16MbLe);
    ASSERT_EQ(OpenDevice(), 1);
    ASSERT_EQ(GetFlashSize(), 0);
    rig_.recorder().SetFault([](Event::Kind k, size_t, std::span<const uint8_t> d) {
        return k == Event::Kind::Out && d.size() == 512 ? platform::IoError::Failed
                                                        : platform::IoError::None;
    });
    rig_.log().Clear();
    EXPECT_EQ(FormatFlash(16), 0);
    EXPECT_EQ(GetFlashSize(), 16);
    EXPECT_EQ(GetPhotoCount(), 0);
    const auto commands = rig_.log().Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].opcode(), kOpErase);
    EXPECT_EQ(commands[1].opcode(), kOpWrite);
    EXPECT_EQ(rig_.log().events().back().size, 512u);
    rig_.recorder().SetFault({});
    ASSERT_EQ(FormatFlash(0), 1);
    EXPECT_EQ(GetFlashSize(), 16);
}

TEST_F(CardImageTest, SizeDecidesTheSecondTryOfARecognisedCard) {
    // A recognised 16 MB big-endian card whose first check after the header
    // write fails (its read fails twice): the size asks for the 16 MB
    // big-endian form, which is checked again, without writing, and passes.
    rig_.Attach(sim::Variant::k16Mb, 2);
    ASSERT_EQ(OpenDevice(), 1);
    ASSERT_EQ(GetFlashSize(), 16);
    rig_.recorder().SetFault(FailRange(Event::Kind::In, 0, 2, platform::IoError::Failed));
    rig_.log().Clear();
    ASSERT_EQ(FormatFlash(16), 1);
    EXPECT_EQ(GetFlashSize(), 16);
    EXPECT_EQ(GetPhotoCount(), 0);
    EXPECT_EQ(rig_.log().CountCommands(kOpWrite), 1u);
    EXPECT_EQ(rig_.log().CountCommands(kOpErase), 1u);
    EXPECT_EQ(std::memcmp(CardHeader(sim::Variant::k16Mb).data(), "ZPX PHOTO CAM IMAGE V1.5", 25),
              0);
    // Size 32 has no second try: the same fault gives 0 and no geometry.
    rig_.recorder().SetFault(FailRange(Event::Kind::In, 0, 2, platform::IoError::Failed));
    EXPECT_EQ(FormatFlash(32), 0);
    EXPECT_EQ(GetFlashSize(), 0);
}

TEST_F(CardImageTest, FormatRefusals) {
    AttachBlank(sim::Variant::k32Mb);
    ASSERT_EQ(OpenDevice(), 1);
    rig_.log().Clear();
    // Unknown sizes with nothing recognised: no traffic at all.
    for (int size : {0, 1, 24, 256, -8})
        EXPECT_EQ(FormatFlash(size), 0) << size;
    EXPECT_TRUE(rig_.log().events().empty());
    // 32 has no second try; a header that does not read back gives 0 and no
    // geometry: here a camera whose reads fail.
    rig_.recorder().SetFault([](Event::Kind k, size_t, std::span<const uint8_t>) {
        return k == Event::Kind::In ? platform::IoError::Failed : platform::IoError::None;
    });
    EXPECT_EQ(FormatFlash(32), 0);
    EXPECT_EQ(GetFlashSize(), 0);
    rig_.recorder().SetFault({});
    EXPECT_EQ(FormatFlash(0), 0);
}

TEST_F(CardImageTest, HeaderWriteFailureKeepsARecognisedGeometry) {
    rig_.Attach(sim::Variant::k16Mb, 2);
    ASSERT_EQ(OpenDevice(), 1);
    rig_.recorder().SetFault([](Event::Kind k, size_t, std::span<const uint8_t> d) {
        return k == Event::Kind::Out && d.size() == 512 ? platform::IoError::Failed
                                                        : platform::IoError::None;
    });
    ResetProgress();
    EXPECT_EQ(FormatFlash(0), 0);
    EXPECT_EQ(Progress().steps, 0);
    EXPECT_EQ(GetFlashSize(), 16);
    // Every page failing, the old system block cannot be put back either.
    ASSERT_EQ(rig_.reports().size(), 1u);
    EXPECT_EQ(rig_.reports()[0].text.rfind("write card error,work incomplete\n", 0), 0u);
    EXPECT_NE(rig_.reports()[0].text.find("could not be written whole"), std::string::npos);

    // The format failed: the host still sees the photos it had, and the
    // next write-back puts the directory the erase took back on the card.
    rig_.recorder().SetFault({});
    EXPECT_EQ(GetPhotoCount(), 2);
    const std::string bitmap = dir_.File("up.bmp");
    WriteFileBytes(bitmap, TestBitmap(5));
    ASSERT_EQ(WriteFileToFlash(bitmap.c_str()), 1);
    const auto header = CardHeader(sim::Variant::k16Mb, 512 + 4 * 16);
    EXPECT_EQ(header[kPhotoCountOffset], 3);
    for (int entry = 0; entry < 3; ++entry)
        EXPECT_EQ(header[512 + 16 * entry + kEntrySlotOffset], entry) << entry;
    EXPECT_EQ(std::vector<uint8_t>(header.begin() + 512 + 3 * 16, header.end()),
              std::vector<uint8_t>(16, 0xFF));
}

// A format whose header page reached the card but whose check lost an
// answer: the check reads again, and the format returns 1 with its geometry
// and no error shown. Two lost answers make it fail; the card keeps the
// fresh header, which the host finds when it opens the camera again. A
// header page that fails puts the old system block back.
TEST_F(CardImageTest, FormatCheckReadsAgainAndAFailedHeaderPutsTheCardBack) {
    enum class Fault { kCheckRead, kHeaderPage };
    struct Case {
        sim::Variant variant;
        Fault fault;
        platform::IoError error;
        int failures;
        int result;
    };
    const Case cases[] = {
        {sim::Variant::k8MbLe, Fault::kCheckRead, platform::IoError::Aborted, 1, 1},
        {sim::Variant::k16MbLe, Fault::kCheckRead, platform::IoError::Failed, 1, 1},
        {sim::Variant::k32Mb, Fault::kCheckRead, platform::IoError::Failed, 1, 1},
        {sim::Variant::k128Mb, Fault::kCheckRead, platform::IoError::Failed, 1, 1},
        {sim::Variant::k16MbLe, Fault::kCheckRead, platform::IoError::Failed, 2, 0},
        {sim::Variant::k32Mb, Fault::kCheckRead, platform::IoError::Failed, 2, 0},
        {sim::Variant::k8MbLe, Fault::kHeaderPage, platform::IoError::Failed, 1, 0},
        {sim::Variant::k64Mb, Fault::kHeaderPage, platform::IoError::Aborted, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::VariantName(c.variant)) + " " +
                     std::string(platform::ToString(c.error)) + " x" + std::to_string(c.failures) +
                     (c.fault == Fault::kCheckRead ? " in the check" : " at the header"));
        rig_.Attach(c.variant, 2);
        ASSERT_EQ(OpenDevice(), 1);
        const auto block_before = CardHeader(c.variant, 1024);
        const size_t page = Session().geometry->PageSize();
        struct State {
            bool header_sent = false;
            int failed = 0;
        };
        rig_.recorder().SetFault([&c, page, state = std::make_shared<State>()](
                                     Event::Kind k, size_t, std::span<const uint8_t> d) {
            const bool header = k == Event::Kind::Out && d.size() == page && !state->header_sent;
            if (c.fault == Fault::kHeaderPage) {
                state->header_sent = state->header_sent || header;
                return header ? c.error : platform::IoError::None;
            }
            if (header) {
                state->header_sent = true;
                return platform::IoError::None;
            }
            if (state->header_sent && k == Event::Kind::In && state->failed < c.failures) {
                ++state->failed;
                return c.error;
            }
            return platform::IoError::None;
        });
        rig_.ClearReports();
        EXPECT_EQ(FormatFlash(0), c.result);
        rig_.recorder().SetFault({});
        if (c.result == 1) {
            EXPECT_TRUE(rig_.reports().empty());
            EXPECT_NE(GetFlashSize(), 0);
            EXPECT_EQ(GetPhotoCount(), 0);
        } else {
            EXPECT_EQ(rig_.reports().size(), 1u);
        }
        ASSERT_EQ(CloseDevice(), 1);
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_NE(GetFlashSize(), 0) << "a one-shot host finds the card recognised";
        if (c.fault == Fault::kHeaderPage) {
            EXPECT_EQ(GetPhotoCount(), 2);
            EXPECT_EQ(CardHeader(c.variant, 1024), block_before);
        } else {
            EXPECT_EQ(GetPhotoCount(), 0);
        }
    }
}

}  // namespace
}  // namespace quorbit::testing
