// Reading photos into bitmap files on every geometry.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "cardlib/bitmap.h"
#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/tests/test_support.h"
#include "sim/card_maker.h"

namespace quorbit::testing {
namespace {

struct ReadOutRow {
    GeometryKind kind;
    int32_t announced;
    int steps;
    size_t read_commands;
    std::chrono::microseconds pauses;
};

// Card reads and progress of one successful read-out.
const ReadOutRow kRows[] = {
    {GeometryKind::k8MbLe, 39, 42, 20, std::chrono::milliseconds(200)},
    {GeometryKind::k16MbLe, 20, 21, 20, std::chrono::milliseconds(200)},
    {GeometryKind::k8Mb, 39, 39, 608, std::chrono::milliseconds(1216)},
    {GeometryKind::k16Mb, 20, 20, 608, std::chrono::milliseconds(1216)},
    {GeometryKind::k32Mb, 20, 20, 608, std::chrono::milliseconds(1216)},
    {GeometryKind::k64Mb, 20, 20, 608, std::chrono::milliseconds(1216)},
    {GeometryKind::k128Mb, 4, 4, 152, std::chrono::milliseconds(304)},
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

class PhotoReadTest : public CountingSessionTest {
  protected:
    // The bitmap the card's slot should give: the slot's bytes, and black
    // for the 100 pixels past the slot (the next slot holds another photo).
    std::vector<uint8_t> ExpectedBitmap(sim::Variant v, int slot) {
        std::vector<uint8_t> raw =
            rig_.camera().Peek(sim::PhotoSlotOffset(v, slot), kPhotoSlotBytes);
        raw.resize(kRawPhotoBytes, 0);
        return EncodeBitmap(raw);
    }

    CameraRig rig_;
    TempDir dir_;
};

TEST_F(PhotoReadTest, EveryGeometryReadsEveryPhotoByteForByte) {
    for (const ReadOutRow& row : kRows) {
        const sim::Variant v = ToVariant(row.kind);
        SCOPED_TRACE(GeometryName(row.kind));
        ASSERT_NE(rig_.Attach(v, 3), nullptr);
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_EQ(GetPhotoCount(), 3);
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            ResetProgress();
            rig_.log().Clear();
            const std::string path =
                dir_.File(std::string(GeometryName(row.kind)) + std::to_string(i) + ".bmp");
            ASSERT_EQ(ReadPhotoToFile(i, path.c_str()), 1);
            const std::vector<uint8_t> file = ReadFileBytes(path);
            ASSERT_EQ(file.size(), kBitmapFileBytes);
            EXPECT_EQ(file, ExpectedBitmap(v, i));

            EXPECT_EQ(Progress().begins, 1);
            EXPECT_EQ(Progress().announced, row.announced);
            EXPECT_EQ(Progress().steps, row.steps);
            EXPECT_EQ(rig_.log().CountCommands(kOpRead), row.read_commands);
            EXPECT_EQ(rig_.log().TotalPause(), row.pauses);
            EXPECT_TRUE(rig_.reports().empty());
        }
        EXPECT_EQ(CloseDevice(), 1);
    }
}

TEST_F(PhotoReadTest, PixelsMatchThePictureOnTheCard) {
    // Independent of the bitmap writer: decode the file by hand and compare
    // with the picture the camera holds.
    // Photo 0 lies in an even slot, whose 32 KB window runs into photo 1;
    // photo 1 in an odd one.
    rig_.Attach(sim::Variant::k16MbLe, 2);
    ASSERT_EQ(OpenDevice(), 1);
    for (int index : {0, 1}) {
        SCOPED_TRACE(index);
        const std::string path = dir_.File("p.bmp");
        ASSERT_EQ(ReadPhotoToFile(index, path.c_str()), 1);
        const auto file = ReadFileBytes(path);
        ASSERT_EQ(file.size(), 234310u);
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(Le32(file, 2), 234310u);
        EXPECT_EQ(Le32(file, 10), 54u);
        EXPECT_EQ(Le32(file, 14), 40u);
        EXPECT_EQ(Le32(file, 18), 322u);
        EXPECT_EQ(Le32(file, 22), 242u);
        EXPECT_EQ(file[26] | (file[27] << 8), 1);
        EXPECT_EQ(file[28] | (file[29] << 8), 24);
        EXPECT_EQ(Le32(file, 30), 0u);
        EXPECT_EQ(Le32(file, 34), 234256u);
        EXPECT_EQ(Le32(file, 38), 50190u);
        EXPECT_EQ(Le32(file, 42), 50190u);
        EXPECT_EQ(Le32(file, 46), 0u);
        EXPECT_EQ(Le32(file, 50), 0u);

        const picture::Picture picture = picture::PictureFromRaw(rig_.camera().Peek(
            sim::PhotoSlotOffset(sim::Variant::k16MbLe, index), kPhotoSlotBytes));
        int mismatches = 0;
        for (int y = 0; y < 242; ++y) {
            const size_t row = 54 + size_t(241 - y) * 968;
            EXPECT_EQ(file[row + 966], 0);
            EXPECT_EQ(file[row + 967], 0);
            for (int x = 0; x < 322; ++x) {
                const uint8_t* p = &file[row + 3 * x];
                const bool stored = y < 241 || x < 222;
                const uint8_t* want = picture.At(x, y);
                const uint8_t expect_r = stored ? want[0] : 0, expect_g = stored ? want[1] : 0,
                              expect_b = stored ? want[2] : 0;
                mismatches += p[0] != expect_b || p[1] != expect_g || p[2] != expect_r;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(PhotoReadTest, SecondGreenHasNoEffect) {
    rig_.Attach(sim::Variant::k32Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    ASSERT_EQ(ReadPhotoToFile(0, dir_.File("a.bmp").c_str()), 1);
    // Overwrite byte 1 of every pixel of slot 0 on the card, read again.
    std::string error;
    auto card = sim::MakeCardInMemory(sim::Variant::k32Mb, {TestPicture(0)}, &error);
    std::vector<uint8_t> slot(kPhotoSlotBytes);
    ASSERT_TRUE(card->Read(0, slot, &error));
    for (size_t i = 1; i < slot.size(); i += 4)
        slot[i] ^= 0xA5;
    ASSERT_TRUE(card->Overwrite(0, slot, &error));
    rig_.AttachCard(sim::Variant::k32Mb, std::move(card));
    ASSERT_EQ(OpenDevice(), 1);
    ASSERT_EQ(ReadPhotoToFile(0, dir_.File("b.bmp").c_str()), 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("a.bmp")), ReadFileBytes(dir_.File("b.bmp")));
}

TEST_F(PhotoReadTest, OddSlotIsShiftedAndItsTailIsZero) {
    rig_.Attach(sim::Variant::k8MbLe, 2);
    ASSERT_EQ(OpenDevice(), 1);
    rig_.log().Clear();
    ASSERT_EQ(ReadPhotoToFile(1, dir_.File("a.bmp").c_str()), 1);
    // The window starts at the 32 KB boundary 16 KB before slot 1 (byte
    // 0x48000 = read address 0x480 in bytes 3-4).
    const auto reads = rig_.log().Commands(kOpRead);
    ASSERT_EQ(reads.size(), 20u);
    EXPECT_EQ(reads[0].data[3], 0x80);
    EXPECT_EQ(reads[0].data[4], 0x04);
    EXPECT_EQ(reads[19].data[3], 0x40);  // 19 chunks of 0x40 further: 0x940
    EXPECT_EQ(reads[19].data[4], 0x09);
    const auto file = ReadFileBytes(dir_.File("a.bmp"));
    // Bottom row, pixels 222 onwards: zero.
    for (int x = 222; x < 322; ++x) {
        EXPECT_EQ(file[54 + 3 * x], 0);
        EXPECT_EQ(file[54 + 3 * x + 2], 0);
    }
}

TEST_F(PhotoReadTest, FaultInLastChunkLeavesNoFile) {
    for (GeometryKind kind : {GeometryKind::k8MbLe, GeometryKind::k32Mb, GeometryKind::k128Mb}) {
        SCOPED_TRACE(GeometryName(kind));
        const sim::Variant v = ToVariant(kind);
        rig_.Attach(v, 1);
        ASSERT_EQ(OpenDevice(), 1);
        const std::string path = dir_.File("last.bmp");
        ResetProgress();
        rig_.ClearReports();
        const size_t last_in =
            (sim::GeometryOf(v).little_endian ? 0x50000 : 0x4C000) / sim::GeometryOf(v).page_bytes -
            1;
        rig_.recorder().SetFault(FailNth(Event::Kind::In, last_in, platform::IoError::Failed));
        EXPECT_EQ(ReadPhotoToFile(0, path.c_str()), 0);
        EXPECT_FALSE(FileExists(path));
        EXPECT_TRUE(dir_.Entries().empty());
        ASSERT_EQ(rig_.reports().size(), 1u);
        EXPECT_EQ(rig_.reports()[0].text, "read card error,work incomplete");
        // Progress announced and stepped for every read that succeeded.
        EXPECT_EQ(Progress().begins, 1);
        const int per_read = kind == GeometryKind::k8MbLe ? 2 : 1;
        const int reads =
            kind == GeometryKind::k128Mb ? 3 : (kind == GeometryKind::k8MbLe ? 20 : 19);
        EXPECT_EQ(Progress().steps, per_read * reads);
        rig_.recorder().SetFault({});
    }
}

TEST_F(PhotoReadTest, RefusesIndexesOutsideTheDirectory) {
    rig_.Attach(sim::Variant::k64Mb, 2);
    ASSERT_EQ(OpenDevice(), 1);
    rig_.log().Clear();
    for (int index : {-1, 2, 3, 1000, 0x7FFFFFFF}) {
        EXPECT_EQ(ReadPhotoToFile(index, dir_.File("x.bmp").c_str()), 0) << index;
    }
    EXPECT_EQ(ReadPhotoToFile(0, nullptr), 0);
    EXPECT_EQ(ReadPhotoToFile(0, ""), 0);
    EXPECT_TRUE(dir_.Entries().empty());
    EXPECT_TRUE(rig_.log().events().empty());
    EXPECT_EQ(Progress().begins, 0);
}

TEST_F(PhotoReadTest, RefusesSlotNumbersBeyondTheCard) {
    std::string error;
    auto card = sim::MakeCardInMemory(sim::Variant::k8Mb, {TestPicture(0), TestPicture(1)}, &error);
    const uint64_t entry1 = sim::GeometryOf(sim::Variant::k8Mb).system_block_offset + 512 + 16 + 8;
    ASSERT_TRUE(card->Overwrite(entry1, std::vector<uint8_t>{26, 0}, &error));  // the system block
    rig_.AttachCard(sim::Variant::k8Mb, std::move(card));
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(ReadPhotoToFile(1, dir_.File("x.bmp").c_str()), 0);
    EXPECT_EQ(ReadPhotoToFile(0, dir_.File("y.bmp").c_str()), 1);
}

TEST_F(PhotoReadTest, UnwritableDestination) {
    rig_.Attach(sim::Variant::k16Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(ReadPhotoToFile(0, dir_.File("no/such/folder.bmp").c_str()), 0);
    EXPECT_EQ(ReadPhotoToFile(0, dir_.path().c_str()), 0);  // a folder
    EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(PhotoReadTest, ReplacesAnExistingFile) {
    rig_.Attach(sim::Variant::k16Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    const std::string path = dir_.File("a.bmp");
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs(std::string(300000, 'x').c_str(), f);
    std::fclose(f);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(ReadPhotoToFile(0, path.c_str()), 1);
    EXPECT_EQ(ReadFileBytes(path).size(), kBitmapFileBytes);
    EXPECT_EQ(dir_.Entries().size(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "the replaced file keeps its permissions";
}

TEST_F(PhotoReadTest, FailedWriteLeavesNoPartialFileAndKeepsTheOldOne) {
    rig_.Attach(sim::Variant::k16Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    const std::string path = dir_.File("a.bmp");
    ASSERT_EQ(ReadPhotoToFile(0, path.c_str()), 1);
    const auto before = ReadFileBytes(path);
    // A file size limit below the bitmap's size makes the write fail part way,
    // as a full disk would.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int replaced = ReadPhotoToFile(0, path.c_str());
    const int fresh = ReadPhotoToFile(0, dir_.File("b.bmp").c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(replaced, 0);
    EXPECT_EQ(fresh, 0);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"a.bmp"});
}

TEST_F(PhotoReadTest, WritesThroughASymbolicLink) {
    rig_.Attach(sim::Variant::k16Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    const std::string target = dir_.File("target.bmp"), link = dir_.File("link.bmp");
    FILE* f = std::fopen(target.c_str(), "wb");
    std::fclose(f);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(ReadPhotoToFile(0, link.c_str()), 1);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFileBytes(target).size(), kBitmapFileBytes);
}

TEST_F(PhotoReadTest, NamesUpToTheLongestAFolderTakes) {
    // A name the folder can hold can be written: the temporary file beside
    // it has a short name of its own.
    rig_.Attach(sim::Variant::k16MbLe, 1);
    ASSERT_EQ(OpenDevice(), 1);
    std::vector<std::string> names;
    for (size_t length : {244u, 250u, 255u}) {
        names.push_back(std::string(length - 4, 'p') + ".bmp");
        ASSERT_EQ(ReadPhotoToFile(0, dir_.File(names.back()).c_str()), 1) << length;
        EXPECT_EQ(ReadFileBytes(dir_.File(names.back())).size(), kBitmapFileBytes);
    }
    std::vector<std::string> entries = dir_.Entries();
    std::sort(names.begin(), names.end());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, names);
}

}  // namespace
}  // namespace quorbit::testing
