// Faults injected in front of a camera, and the command line that asks for
// them.
#include <gtest/gtest.h>

#include "camera_rig.h"
#include "platform/clock.h"
#include "sim/camsim_options.h"
#include "sim/fault_plan.h"
#include "testsupport/recording_clock.h"

namespace sim::testing {
namespace {

using platform::Endpoint;
using platform::IoError;

struct FaultRig {
    explicit FaultRig(FaultSettings settings)
        : rig(Variant::k32Mb), plan(rig.camera, settings, [this] { ++unplugs; }) {
        // A page of known bytes at page 0.
        const Block write = Cmd({0x85, 0x72});
        EXPECT_TRUE(rig.camera->HandleOut(Endpoint::Interface, write).ok());
        EXPECT_TRUE(rig.camera->HandleOut(Endpoint::Interface, page).ok());
        const Block end = Cmd({0x85, 0x74});
        EXPECT_TRUE(rig.camera->HandleOut(Endpoint::Interface, end).ok());
    }
    platform::IoResult Out(const Block& b) { return plan.HandleOut(Endpoint::Interface, b); }
    platform::IoResult In(std::vector<uint8_t>* out, size_t n) {
        out->assign(n, 0);
        return plan.HandleIn(Endpoint::Interface, *out);
    }

    std::vector<uint8_t> page = Pattern(512, 21);
    CameraRig rig;
    int unplugs = 0;
    FaultPlan plan;
};

TEST(FaultPlan, FailsTheKthInWithEachKindWithoutReachingTheCamera) {
    for (IoError kind : {IoError::Aborted, IoError::DeviceGone, IoError::Failed}) {
        FaultSettings f;
        f.fail_in = FaultRule{2, false, kind};
        FaultRig r(f);
        ASSERT_TRUE(r.Out(Cmd({0x85, 0x71})).ok());
        std::vector<uint8_t> a, b, c;
        EXPECT_TRUE(r.In(&a, 8).ok());
        EXPECT_EQ(r.In(&b, 8).error, kind);
        EXPECT_TRUE(r.In(&c, 8).ok());
        // The failed IN consumed nothing: the third read goes on from the first.
        EXPECT_EQ(c, std::vector<uint8_t>(r.page.begin() + 8, r.page.begin() + 16));
        EXPECT_EQ(r.unplugs, 0);
    }
}

TEST(FaultPlan, FailsEveryOutFromTheKthOn) {
    FaultSettings f;
    f.fail_out = FaultRule{2, true, IoError::Aborted};
    FaultRig r(f);
    EXPECT_TRUE(r.Out(Cmd({0x85, 0x71})).ok());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(r.Out(Cmd({0x85, 0x73})).error, IoError::Aborted);
    // No erase reached the card; IN transfers are not affected.
    std::vector<uint8_t> got;
    EXPECT_TRUE(r.In(&got, 512).ok());
    EXPECT_EQ(got, r.page);
}

TEST(FaultPlan, DropsOffTheBusAfterKTransfers) {
    FaultSettings f;
    f.drop_after = 3;
    FaultRig r(f);
    const uint64_t commands_before = r.rig.camera->stats().commands;
    std::vector<uint8_t> got;
    EXPECT_TRUE(r.Out(Cmd({0x85, 0x71})).ok());
    EXPECT_TRUE(r.In(&got, 4).ok());
    EXPECT_EQ(r.unplugs, 0);
    EXPECT_TRUE(r.In(&got, 4).ok());
    EXPECT_EQ(r.unplugs, 1);
    EXPECT_TRUE(r.plan.unplugged());
    EXPECT_EQ(r.In(&got, 4).error, IoError::DeviceGone);
    EXPECT_EQ(r.Out(Cmd({0x85, 0x73})).error, IoError::DeviceGone);
    EXPECT_EQ(r.unplugs, 1);
    EXPECT_EQ(r.rig.camera->stats().commands, commands_before + 1);
    EXPECT_EQ(r.rig.camera->stats().bytes_read, 8u);
}

TEST(FaultPlan, DropAfterZeroFindsTheCameraGoneAtOnce) {
    FaultSettings f;
    f.drop_after = 0;
    FaultRig r(f);
    EXPECT_EQ(r.Out(Cmd({0x85, 0x71})).error, IoError::DeviceGone);
    EXPECT_EQ(r.unplugs, 1);
}

TEST(FaultPlan, LatencyGoesThroughTheInstalledClock) {
    testsupport::RecordingClock clock;
    platform::ScopedClock scoped(&clock);
    FaultSettings f;
    f.latency = std::chrono::microseconds(250);
    FaultRig r(f);
    std::vector<uint8_t> got;
    ASSERT_TRUE(r.Out(Cmd({0x85, 0x71})).ok());
    ASSERT_TRUE(r.In(&got, 512).ok());
    EXPECT_EQ(clock.Pauses(), (std::vector<platform::Clock::Duration>{
                                  std::chrono::microseconds(250), std::chrono::microseconds(250)}));
}

TEST(FaultRuleText, ParsesCountRepeatAndKind) {
    std::string error;
    auto r = ParseFaultRule("7", &error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->k, 7u);
    EXPECT_FALSE(r->from_k_on);
    EXPECT_EQ(r->error, IoError::Failed);
    r = ParseFaultRule("3+:aborted", &error);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->from_k_on);
    EXPECT_EQ(r->error, IoError::Aborted);
    EXPECT_TRUE(r->Matches(3));
    EXPECT_TRUE(r->Matches(9));
    EXPECT_FALSE(r->Matches(2));
    EXPECT_EQ(ParseFaultRule("1:gone", &error)->error, IoError::DeviceGone);
    for (const char* bad : {"", "0", "+", "x", "2:lost", "-1", "2++", "99999999999999999999"}) {
        EXPECT_FALSE(ParseFaultRule(bad, &error)) << bad;
    }
}

TEST(CamsimArgs, ServeWithEveryOption) {
    std::string error;
    auto cmd = ParseCamsimArgs(
        {"serve",     "--card",     "c.img",  "--geometry",   "128Mb", "--name",
         "kitchen",   "--vid",      "0x1234", "--pid",        "beef",  "--manufacturer",
         "M",         "--product",  "P",      "--serial",     "S",     "--fail-in",
         "2:aborted", "--fail-out", "5+",     "--drop-after", "40",    "--latency-us",
         "700"},
        &error);
    ASSERT_TRUE(cmd) << error;
    ASSERT_EQ(cmd->kind, CamsimCommand::Kind::Serve);
    const ServeOptions& s = cmd->serve;
    EXPECT_EQ(s.card, "c.img");
    EXPECT_EQ(s.variant, Variant::k128Mb);
    EXPECT_EQ(s.name, "kitchen");
    EXPECT_EQ(s.attributes.vendor_id, 0x1234);
    EXPECT_EQ(s.attributes.product_id, 0xBEEF);
    EXPECT_EQ(s.attributes.serial_number, "S");
    EXPECT_EQ(s.faults.fail_in->error, IoError::Aborted);
    EXPECT_TRUE(s.faults.fail_out->from_k_on);
    EXPECT_EQ(*s.faults.drop_after, 40u);
    EXPECT_EQ(s.faults.latency.count(), 700);

    cmd = ParseCamsimArgs({"serve", "--card", "c.img", "--geometry", "8MbLe"}, &error);
    ASSERT_TRUE(cmd) << error;
    EXPECT_EQ(cmd->serve.name, "camera");
    EXPECT_EQ(cmd->serve.attributes.vendor_id, 0x5A17);
    EXPECT_FALSE(cmd->serve.faults.any());
}

TEST(CamsimArgs, MakeCardAndMistakes) {
    std::string error;
    auto cmd =
        ParseCamsimArgs({"make-card", "c.img", "--geometry", "16MbLe", "a.bmp", "b.jpg"}, &error);
    ASSERT_TRUE(cmd) << error;
    EXPECT_EQ(cmd->make_card.card, "c.img");
    EXPECT_EQ(cmd->make_card.photos, (std::vector<std::string>{"a.bmp", "b.jpg"}));
    EXPECT_EQ(ParseCamsimArgs({"--help"}, &error)->kind, CamsimCommand::Kind::Help);

    const std::vector<std::vector<std::string>> bad = {
        {},
        {"fly"},
        {"serve", "--card", "c.img"},
        {"serve", "--geometry", "32Mb"},
        {"serve", "--card", "c.img", "--geometry", "33Mb"},
        {"serve", "--card", "c.img", "--geometry", "32Mb", "--vid", "12345"},
        {"serve", "--card", "c.img", "--geometry", "32Mb", "--name", "../x"},
        {"serve", "--card", "c.img", "--geometry", "32Mb", "--name", ".hidden"},
        {"serve", "--card", "c.img", "--geometry", "32Mb", "--fail-in", "0"},
        {"serve", "--card", "c.img", "--geometry", "32Mb", "--drop-after"},
        {"serve", "--card", "c.img", "--geometry", "32Mb", "--blank"},
        {"make-card", "c.img", "--geometry", "32Mb", "--blank", "a.bmp"},
        {"make-card", "--geometry", "32Mb"},
        {"make-card", "c.img", "--geometry", "32Mb", "--card", "x"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseCamsimArgs(args, &error)) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace sim::testing
