// The camera attached to the in-process "mem:" backend, the way the card
// library's and the program's unit tests reach it.
#include <gtest/gtest.h>

#include "camera_rig.h"
#include "platform/device.h"
#include "platform/inprocess/inprocess_backend.h"
#include "sim/card_maker.h"
#include "sim/fault_plan.h"

namespace sim::testing {
namespace {

using platform::IoError;

TEST(InProcessCamera, LibraryStyleTrafficThroughDevicePaths) {
    platform::ScopedInProcessBackend mem;
    std::string error;
    picture::Picture red(322, 242);
    for (size_t i = 0; i < red.rgb.size(); i += 3)
        red.rgb[i] = 255;
    auto card = MakeCardInMemory(Variant::k128Mb, {red}, &error);
    ASSERT_TRUE(card) << error;
    auto camera = std::make_shared<Camera>(Variant::k128Mb, std::move(card));
    mem.backend().Attach("cam", camera);
    ASSERT_EQ(platform::EnumerateInterfaces(platform::CardInterfaceGuid),
              std::vector<std::string>{"mem:cam"});

    platform::OpenResult opened = platform::OpenPath("mem:cam");
    ASSERT_TRUE(opened.handle) << opened.message;
    auto& h = *opened.handle;
    // Probe read of the system block: page 0xFFC0 in bytes 3-4.
    ASSERT_TRUE(h.Write(Cmd({0x85, 0x71, 0x00, 0xFF, 0xC0})).ok());
    std::vector<uint8_t> header(2048);
    ASSERT_TRUE(h.Read(header).ok());
    EXPECT_EQ(header[258] | (header[259] << 8), 340);
    EXPECT_EQ(header[2048 - 1], 0xFF);
    // Slot 0, first page: red, green 0, blue 0.
    ASSERT_TRUE(h.Write(Cmd({0x85, 0x71})).ok());
    std::vector<uint8_t> pixels(2048);
    ASSERT_TRUE(h.Read(pixels).ok());
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin(), pixels.begin() + 4),
              (std::vector<uint8_t>{0, 0, 0, 255}));

    mem.backend().Detach("cam");
    EXPECT_EQ(h.Write(Cmd({0x85, 0x71})).error, IoError::DeviceGone);
}

TEST(InProcessCamera, FaultPlanUnplugsThroughTheBackend) {
    platform::ScopedInProcessBackend mem;
    std::string error;
    auto card = MakeCardInMemory(Variant::k8MbLe, {}, &error);
    ASSERT_TRUE(card) << error;
    auto camera = std::make_shared<Camera>(Variant::k8MbLe, std::move(card));
    FaultSettings f;
    f.drop_after = 2;
    auto plan = std::make_shared<FaultPlan>(camera, f, [&] { mem.backend().Detach("cam"); });
    mem.backend().Attach("cam", plan);
    platform::OpenResult opened = platform::OpenPath("mem:cam/PIPE01");
    ASSERT_TRUE(opened.handle);
    EXPECT_TRUE(opened.handle->Write(Cmd({0x85, 0x71, 0x00, 0xE0, 0xFF})).ok());
    EXPECT_TRUE(opened.handle->Write(Cmd({0x85, 0x71, 0x00, 0xE0, 0xFF})).ok());
    EXPECT_TRUE(platform::EnumerateInterfaces(platform::CardInterfaceGuid).empty());
    EXPECT_EQ(opened.handle->Write(Cmd({0x85, 0x71})).error, IoError::DeviceGone);
}

}  // namespace
}  // namespace sim::testing
