// Flash semantics and the command state machine of the simulated camera.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "camera_rig.h"

namespace sim::testing {
namespace {

using platform::Endpoint;
using platform::IoError;

const Block kWrite32MbPage0 = Cmd({0x85, 0x72});
const Block kRead32MbPage0 = Cmd({0x85, 0x71});

TEST(CameraFlash, ProgrammingOnlyClearsBits) {
    CameraRig rig(Variant::k32Mb);
    std::vector<uint8_t> a(512, 0xF0), b(512, 0x3C);
    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    ASSERT_TRUE(rig.Out(a).ok());
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x74})).ok());
    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    ASSERT_TRUE(rig.Out(b).ok());
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x74})).ok());
    // Writing ones over zeros leaves the zeros.
    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    ASSERT_TRUE(rig.Out(std::vector<uint8_t>(512, 0xFF)).ok());
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x74})).ok());
    EXPECT_EQ(rig.camera->Peek(0, 512), std::vector<uint8_t>(512, 0x30));
}

TEST(CameraFlash, EraseClearsExactlyTheBlockHoldingTheAddress) {
    struct Case {
        Variant variant;
        Block erase;     // erase command for an address inside block 1
        uint32_t block;  // erase block size
    };
    const Case cases[] = {
        {Variant::k8MbLe, Cmd({0x85, 0x73, 0x00, 0x17}), 8192},    // page 23
        {Variant::k16MbLe, Cmd({0x85, 0x73, 0x00, 0x3F}), 16384},  // page 63
        {Variant::k8Mb, Cmd({0x85, 0x73, 0x00, 0x00, 0x00, 0x10}), 8192},
        {Variant::k64Mb, Cmd({0x85, 0x73, 0x00, 0x00, 0x00, 0x21}), 16384},
        {Variant::k128Mb, Cmd({0x85, 0x73, 0x00, 0x00, 0x00, 0x7F}), 131072},
    };
    for (const Case& c : cases) {
        CameraRig rig(c.variant);
        const uint32_t page = GeometryOf(c.variant).page_bytes;
        // Program zeros over blocks 0-2 (page 0 on).
        ASSERT_TRUE(rig.Out(Cmd({0x85, 0x72})).ok());
        const std::vector<uint8_t> zeros(page, 0);
        for (uint32_t i = 0; i < 3 * c.block / page; ++i)
            ASSERT_TRUE(rig.Out(zeros).ok());
        ASSERT_TRUE(rig.Out(c.erase).ok()) << VariantName(c.variant);

        const auto bytes = rig.camera->Peek(0, 3 * c.block);
        for (uint32_t i = 0; i < 3 * c.block; ++i) {
            const uint8_t expected = (i >= c.block && i < 2 * c.block) ? 0xFF : 0x00;
            ASSERT_EQ(bytes[i], expected) << VariantName(c.variant) << " byte " << i;
        }
    }
}

TEST(CameraFlash, AddressesWrapModuloTheCardSize) {
    CameraRig rig(Variant::k8MbLe);
    // Library system block write at page 0x3FF0 = byte 0x7FE000 ...
    const auto block = Pattern(8192, 9);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x72, 0x00, 0xF0, 0x3F})).ok());
    for (size_t i = 0; i < 16; ++i) {
        ASSERT_TRUE(rig.Out(std::span<const uint8_t>(block).subspan(i * 512, 512)).ok());
    }
    // ... read back at byte 0xFFE000, beyond the 8 MB card.
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0xE0, 0xFF})).ok());
    EXPECT_EQ(rig.In(8192), block);
    // Reading on past the end continues at byte 0.
    EXPECT_EQ(rig.In(4), std::vector<uint8_t>(4, 0xFF));

    // A write across the end of the card goes on at byte 0.
    CameraRig rig16(Variant::k16MbLe);
    const auto two_pages = Pattern(1024, 10);
    ASSERT_TRUE(rig16.Out(Cmd({0x85, 0x72, 0x00, 0xFF, 0x7F})).ok());  // last page
    ASSERT_TRUE(rig16.Out(two_pages).ok());
    EXPECT_EQ(rig16.camera->Peek(0xFFFE00, 512),
              std::vector<uint8_t>(two_pages.begin(), two_pages.begin() + 512));
    EXPECT_EQ(rig16.camera->Peek(0, 512),
              std::vector<uint8_t>(two_pages.begin() + 512, two_pages.end()));
}

TEST(CameraStateMachine, InTransfersStreamTheCardFromTheReadAddress) {
    CameraRig rig(Variant::k32Mb);
    const auto data = Pattern(4096, 11);
    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    for (size_t i = 0; i < 8; ++i) {
        ASSERT_TRUE(rig.Out(std::span<const uint8_t>(data).subspan(i * 512, 512)).ok());
    }
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x74})).ok());
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71, 0x00, 0x00, 0x00, 0x01})).ok());  // page 1
    std::vector<uint8_t> got = rig.In(1536);
    const auto rest = rig.In(7);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, std::vector<uint8_t>(data.begin() + 512, data.begin() + 512 + 1543));
    EXPECT_TRUE(rig.last_in.ok());
    EXPECT_EQ(rig.last_in.transferred, 7u);
}

TEST(CameraStateMachine, DataWithoutAMatchingCommandFailsAndChangesNothing) {
    CameraRig rig(Variant::k16Mb);
    const std::vector<uint8_t> page(512, 0x00);
    EXPECT_EQ(rig.Out(page).error, IoError::Failed);  // nothing open
    rig.In(512);
    EXPECT_EQ(rig.last_in.error, IoError::Failed);

    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    rig.In(512);  // IN during a write
    EXPECT_EQ(rig.last_in.error, IoError::Failed);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x74})).ok());
    EXPECT_EQ(rig.Out(page).error, IoError::Failed);  // write closed

    ASSERT_TRUE(rig.Out(kRead32MbPage0).ok());
    EXPECT_EQ(rig.Out(page).error, IoError::Failed);  // OUT data during a read
    // The read is still open and still at its start.
    EXPECT_EQ(rig.In(512), std::vector<uint8_t>(512, 0xFF));
    EXPECT_TRUE(rig.last_in.ok());

    // An erase leaves nothing open.
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x73})).ok());
    rig.In(1);
    EXPECT_EQ(rig.last_in.error, IoError::Failed);

    EXPECT_EQ(rig.camera->Peek(0, 512), std::vector<uint8_t>(512, 0xFF));
    EXPECT_EQ(rig.log.size(), 6u);
    EXPECT_EQ(rig.camera->stats().refused, 6u);
}

TEST(CameraStateMachine, ABadCommandClosesTheOpenWrite) {
    CameraRig rig(Variant::k32Mb);
    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    EXPECT_EQ(rig.Out(Cmd({0x85, 0x79})).error, IoError::Failed);
    EXPECT_EQ(rig.Out(std::vector<uint8_t>(512, 0)).error, IoError::Failed);
    EXPECT_EQ(rig.camera->Peek(0, 1), std::vector<uint8_t>{0xFF});
    // The camera still takes good commands.
    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    ASSERT_TRUE(rig.Out(std::vector<uint8_t>(512, 0)).ok());
    EXPECT_EQ(rig.camera->Peek(0, 1), std::vector<uint8_t>{0x00});
}

TEST(CameraStateMachine, EndOfWriteMustCloseTheOpenWrite) {
    CameraRig rig(Variant::k64Mb);
    EXPECT_EQ(rig.Out(Cmd({0x85, 0x74})).error, IoError::Failed);  // none open
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x72, 0x00, 0x00, 0x00, 0x05})).ok());
    EXPECT_EQ(rig.Out(Cmd({0x85, 0x74, 0x00, 0x00, 0x00, 0x06})).error, IoError::Failed);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x72, 0x00, 0x00, 0x00, 0x05})).ok());
    EXPECT_TRUE(rig.Out(Cmd({0x85, 0x74, 0x00, 0x00, 0x00, 0x05})).ok());
    EXPECT_EQ(rig.log.size(), 2u);
}

TEST(CameraStateMachine, ShortOrUnmarkedBlocksAreData) {
    CameraRig rig(Variant::k32Mb);
    // 15 bytes starting with 0x85, and 16 bytes not starting with 0x85: data,
    // refused because no write is open.
    const std::vector<uint8_t> short_block = {0x85, 0x71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(rig.Out(short_block).error, IoError::Failed);
    EXPECT_EQ(rig.Out(Cmd({0x84, 0x71})).error, IoError::Failed);
    // Within a write, a 16-byte transfer not starting with 0x85 is programmed.
    ASSERT_TRUE(rig.Out(kWrite32MbPage0).ok());
    ASSERT_TRUE(rig.Out(Cmd({0x12, 0x34})).ok());
    EXPECT_EQ(rig.camera->Peek(0, 3), (std::vector<uint8_t>{0x12, 0x34, 0x00}));
}

TEST(CameraStateMachine, PipesOnlyCarryTheirDirection) {
    CameraRig rig(Variant::k8MbLe);
    EXPECT_EQ(rig.Out(Cmd({0x85, 0x71}), Endpoint::ReadPipe).error, IoError::Failed);
    ASSERT_TRUE(rig.Out(Cmd({0x85, 0x71}), Endpoint::WritePipe).ok());
    rig.In(16, Endpoint::WritePipe);
    EXPECT_EQ(rig.last_in.error, IoError::Failed);
    rig.In(16, Endpoint::ReadPipe);
    EXPECT_TRUE(rig.last_in.ok());
    EXPECT_EQ(rig.log.size(), 2u);
}

TEST(CameraAttributes, DefaultIdsAndSettableStrings) {
    CameraRig rig(Variant::k8MbLe);
    platform::DeviceAttributes a = rig.camera->Attributes();
    EXPECT_EQ(a.vendor_id, 0x5A17);
    EXPECT_EQ(a.product_id, 0xC3E2);
    a.vendor_id = 0x1234;
    a.serial_number = "XYZ";
    rig.camera->SetAttributes(a);
    EXPECT_EQ(rig.camera->Attributes().vendor_id, 0x1234);
    EXPECT_EQ(rig.camera->Attributes().serial_number, "XYZ");
}

TEST(CameraAttributes, ACameraWithoutACardRefusesEverything) {
    std::vector<std::string> log;
    Camera camera(Variant::k32Mb, nullptr, DefaultAttributes(),
                  [&](std::string_view line) { log.emplace_back(line); });
    const Block read = Cmd({0x85, 0x71});
    EXPECT_EQ(camera.HandleOut(Endpoint::Interface, read).error, IoError::Failed);
    EXPECT_EQ(log.size(), 1u);
}

TEST(CameraDurability, AcknowledgedWritesAreInTheFileAtOnce) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("sim-durability-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "card.img").string();
    std::string error;
    auto card = CardImage::Create(path, GeometryOf(Variant::k8Mb).card_bytes, &error);
    ASSERT_TRUE(card) << error;
    card.reset();
    auto opened = CardImage::Open(path, GeometryOf(Variant::k8Mb).card_bytes, &error);
    ASSERT_TRUE(opened) << error;
    Camera camera(Variant::k8Mb, std::move(opened));
    const auto page = Pattern(512, 12);
    const Block write = Cmd({0x85, 0x72, 0x00, 0x00, 0x00, 0x02});
    ASSERT_TRUE(camera.HandleOut(Endpoint::Interface, write).ok());
    ASSERT_TRUE(camera.HandleOut(Endpoint::Interface, page).ok());
    // Another reader of the file sees the page while the camera still runs.
    auto reader = CardImage::Open(path, GeometryOf(Variant::k8Mb).card_bytes, &error);
    ASSERT_TRUE(reader) << error;
    std::vector<uint8_t> got(512);
    ASSERT_TRUE(reader->Read(1024, got, &error)) << error;
    EXPECT_EQ(got, page);
    std::filesystem::remove_all(dir);
}

TEST(CardImageFile, OpenChecksTheLengthAndExclusiveUse) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("sim-cardimage-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "card.img").string();
    std::string error;
    ASSERT_TRUE(CardImage::Create(path, 8 * 1024 * 1024, &error));
    EXPECT_FALSE(CardImage::Open(path, 16 * 1024 * 1024, &error));
    EXPECT_NE(error.find("exactly"), std::string::npos);
    EXPECT_FALSE(CardImage::Open((dir / "missing").string(), 8 * 1024 * 1024, &error));
    auto first = CardImage::Open(path, 8 * 1024 * 1024, &error, true);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(CardImage::Open(path, 8 * 1024 * 1024, &error, true));
    EXPECT_NE(error.find("in use"), std::string::npos);
    first.reset();
    EXPECT_TRUE(CardImage::Open(path, 8 * 1024 * 1024, &error, true));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sim::testing
