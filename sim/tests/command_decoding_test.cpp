// Each firmware variant decodes the command blocks the card library and the
// desktop program send; the blocks are written out by hand here so that an
// encoding mistake on either side shows up as a mismatch.
#include <gtest/gtest.h>

#include "camera_rig.h"

namespace sim::testing {
namespace {

using platform::IoError;

// Writes one page through a write command, closing it with end of write
// when given.
void WritePage(CameraRig& rig, const Block& write, const std::vector<uint8_t>& page,
               bool end_of_write) {
    ASSERT_TRUE(rig.Out(write).ok());
    ASSERT_TRUE(rig.Out(page).ok());
    if (end_of_write) {
        Block end = write;
        end[1] = 0x74;
        ASSERT_TRUE(rig.Out(end).ok());
    }
}

TEST(CommandDecoding, Geometry64MbPageIn24BitBigEndian) {
    CameraRig rig(Variant::k64Mb);
    const auto page = Pattern(512, 1);
    // page 0x1FFE0 = byte 0x3FFC000, the system block
    WritePage(rig, Cmd({0x85, 0x72, 0x00, 0x01, 0xFF, 0xE0}), page, true);
    EXPECT_EQ(rig.camera->Peek(0x3FFC000, 512), page);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0x01, 0xFF, 0xE0})).ok());
    EXPECT_EQ(rig.In(512), page);
    EXPECT_TRUE(rig.log.empty());
}

TEST(CommandDecoding, Geometry32MbPageInBytes4And5) {
    CameraRig rig(Variant::k32Mb);
    const auto page = Pattern(512, 2);
    WritePage(rig, Cmd({0x85, 0x72, 0x00, 0x00, 0xFF, 0xE0}), page, true);
    EXPECT_EQ(rig.camera->Peek(0x1FFC000, 512), page);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0x00, 0xFF, 0xE0})).ok());
    EXPECT_EQ(rig.In(512), page);
}

TEST(CommandDecoding, Geometry16MbAnd8MbUseTheSamePageField) {
    for (Variant v : {Variant::k8Mb, Variant::k16Mb}) {
        CameraRig rig(v);
        const auto page = Pattern(512, 3);
        // page 608 = slot 1 at byte 0x4C000
        WritePage(rig, Cmd({0x85, 0x72, 0x00, 0x00, 0x02, 0x60}), page, true);
        EXPECT_EQ(rig.camera->Peek(0x4C000, 512), page) << VariantName(v);
    }
}

TEST(CommandDecoding, Geometry128MbReadWriteInBytes3And4EraseInBytes4And5) {
    CameraRig rig(Variant::k128Mb);
    const auto page = Pattern(2048, 4);
    // 2048-byte page 0xFFC0 = byte 0x7FE0000
    WritePage(rig, Cmd({0x85, 0x72, 0x00, 0xFF, 0xC0, 0x00}), page, true);
    EXPECT_EQ(rig.camera->Peek(0x7FE0000, 2048), page);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0xFF, 0xC0, 0x00})).ok());
    EXPECT_EQ(rig.In(2048), page);

    // The read/write form of the address is not an erase address.
    EXPECT_EQ(rig.Out(Cmd({0x85, 0x73, 0x00, 0xFF, 0xC0, 0x00})).error, IoError::Failed);
    EXPECT_EQ(rig.camera->Peek(0x7FE0000, 2048), page);
    ASSERT_EQ(rig.log.size(), 1u);

    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x73, 0x00, 0x00, 0xFF, 0xC0})).ok());
    EXPECT_EQ(rig.camera->Peek(0x7FE0000, 2048), std::vector<uint8_t>(2048, 0xFF));
}

TEST(CommandDecoding, LittleEndianReadIsAByteAddressInBytes2To4) {
    CameraRig rig(Variant::k16MbLe);
    const auto page = Pattern(512, 5);
    // Write page 0x7FF0 (bytes 3-4 little-endian) = byte 0xFFE000.
    WritePage(rig, Cmd({0x85, 0x72, 0x00, 0xF0, 0x7F, 0x00}), page, false);
    EXPECT_EQ(rig.camera->Peek(0xFFE000, 512), page);
    // The library's read of 0xFFE0 in 256-byte units: bytes 2-5 = 00 E0 FF 00.
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0xE0, 0xFF, 0x00})).ok());
    EXPECT_EQ(rig.In(512), page);
    // A byte address that is not a multiple of 256 puts its low byte in byte 2.
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x10, 0xE0, 0xFF})).ok());
    EXPECT_EQ(rig.In(16), std::vector<uint8_t>(page.begin() + 16, page.begin() + 32));
    EXPECT_TRUE(rig.log.empty());
}

TEST(CommandDecoding, LittleEndianWriteAndEraseArePagesInBytes3And4) {
    CameraRig rig(Variant::k16MbLe);
    const auto page = Pattern(512, 6);
    // Page 0xFFE0 as a write address is byte 0x1FFC000, beyond the card: it
    // wraps to 0xFFC000.
    WritePage(rig, Cmd({0x85, 0x72, 0x00, 0xE0, 0xFF, 0x00}), page, false);
    EXPECT_EQ(rig.camera->Peek(0xFFC000, 512), page);
    // Erase page 0x7FE2 (byte 0xFFC400) clears the 16 KB block from 0xFFC000.
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x73, 0x00, 0xE2, 0x7F})).ok());
    EXPECT_EQ(rig.camera->Peek(0xFFC000, 512), std::vector<uint8_t>(512, 0xFF));
}

TEST(CommandDecoding, ProgramReadsOfInformationBlockAndSlotOne) {
    CameraRig rig(Variant::k8MbLe);
    const auto info = Pattern(1536, 7);
    const auto slot1 = Pattern(512, 8);
    // Library write pages: 0x3FF0 = byte 0x7FE000, 608 = byte 0x4C000.
    WritePage(rig, Cmd({0x85, 0x72, 0x00, 0xF0, 0x3F}), {info.begin(), info.begin() + 512}, false);
    ASSERT_TRUE(rig.Out(std::span<const uint8_t>(info).subspan(512, 512)).ok());
    ASSERT_TRUE(rig.Out(std::span<const uint8_t>(info).subspan(1024, 512)).ok());
    WritePage(rig, Cmd({0x85, 0x72, 0x00, 0x60, 0x02}), slot1, false);

    // The program reads 1536 bytes at byte 0xFFE000 in one transfer; the 8 MB
    // card answers from 0x7FE000.
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0xE0, 0xFF}), platform::Endpoint::WritePipe).ok());
    EXPECT_EQ(rig.In(1536, platform::Endpoint::ReadPipe), info);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0xC0, 0x04}), platform::Endpoint::WritePipe).ok());
    EXPECT_EQ(rig.In(512, platform::Endpoint::ReadPipe), slot1);
    EXPECT_TRUE(rig.log.empty());
}

TEST(CommandDecoding, BytesTheVariantDoesNotUseMustBeZero) {
    struct Case {
        Variant variant;
        Block block;
    };
    const Case refused[] = {
        {Variant::k8MbLe, Cmd({0x85, 0x72, 0x01, 0x10})},                   // write: byte 2
        {Variant::k8MbLe, Cmd({0x85, 0x73, 0x00, 0x10, 0x00, 0x01})},       // erase: byte 5
        {Variant::k16MbLe, Cmd({0x85, 0x71, 0x00, 0x10, 0x00, 0x01})},      // read: byte 5
        {Variant::k16Mb, Cmd({0x85, 0x71, 0x01, 0x00, 0x10})},              // byte 2
        {Variant::k64Mb, Cmd({0x85, 0x72, 0x00, 0x00, 0x10, 0x00, 0x01})},  // byte 6
        {Variant::k128Mb, Cmd({0x85, 0x71, 0x00, 0x00, 0x10, 0x01})},       // read: byte 5
        {Variant::k128Mb, Cmd({0x85, 0x73, 0x00, 0x01, 0x00, 0x10})},       // erase: byte 3
        {Variant::k32Mb,
         [] {
             Block b = Cmd({0x85, 0x71});
             b[15] = 1;
             return b;
         }()},
    };
    for (const Case& c : refused) {
        CameraRig rig(c.variant);
        EXPECT_EQ(rig.Out(c.block).error, IoError::Failed) << VariantName(c.variant);
        EXPECT_EQ(rig.log.size(), 1u);
        // Nothing was opened: a read that follows has no command.
        rig.In(16);
        EXPECT_EQ(rig.last_in.error, IoError::Failed);
    }
}

TEST(CommandDecoding, UnknownOpcodesAreRefused) {
    CameraRig rig(Variant::k32Mb);
    for (uint8_t op : {0x00, 0x70, 0x75, 0xFF}) {
        EXPECT_EQ(rig.Out(Cmd({0x85, op})).error, IoError::Failed);
    }
    EXPECT_EQ(rig.log.size(), 4u);
    EXPECT_NE(rig.log[0].find("opcode"), std::string::npos);
}

}  // namespace
}  // namespace sim::testing
