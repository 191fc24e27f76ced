// Lifetime of the session through the exports.
#include <gtest/gtest.h>

#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/tests/test_support.h"

namespace quorbit::testing {
namespace {

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CloseDevice();
        ResetProgress();
    }
    void TearDown() override {
        CloseDevice();
        SetProcessFunc(nullptr, nullptr);
    }
    CameraRig rig_;
};

TEST_F(SessionTest, NoDevice) {
    EXPECT_EQ(OpenDevice(), 0);
    EXPECT_EQ(IsConnect(), 0);
    EXPECT_EQ(GetPhotoCount(), 0);
    EXPECT_EQ(GetPhotoTotalSize(), 0);
    EXPECT_EQ(GetFlashSize(), 0);
    EXPECT_EQ(CloseDevice(), -1);
}

TEST_F(SessionTest, CloseTwice) {
    rig_.Attach(sim::Variant::k32Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(CloseDevice(), 1);
    EXPECT_EQ(CloseDevice(), -1);
    EXPECT_EQ(IsConnect(), 0);
    EXPECT_EQ(GetFlashSize(), 0);
}

TEST_F(SessionTest, OpenTwiceReflectsOnlyTheSecondAttempt) {
    rig_.Attach(sim::Variant::k32Mb, 3);
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(GetPhotoCount(), 3);
    ASSERT_NE(Session().geometry, nullptr);

    // Another card in the camera now: the second open recognises it afresh.
    rig_.Attach(sim::Variant::k128Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(GetFlashSize(), 128);
    EXPECT_EQ(GetPhotoCount(), 1);

    // And with the camera gone, the second open fails and leaves it closed.
    rig_.Detach();
    EXPECT_EQ(OpenDevice(), 0);
    EXPECT_EQ(IsConnect(), 0);
    EXPECT_EQ(GetFlashSize(), 0);
    EXPECT_EQ(CloseDevice(), -1);
}

TEST_F(SessionTest, DeviceGoneInvalidatesTheGeometryButNotTheSession) {
    rig_.Attach(sim::Variant::k16Mb, 2);
    ASSERT_EQ(OpenDevice(), 1);
    TempDir dir;
    rig_.recorder().SetFault(FailNth(Event::Kind::In, 3, platform::IoError::DeviceGone));
    EXPECT_EQ(ReadPhotoToFile(0, dir.File("a.bmp").c_str()), 0);
    EXPECT_TRUE(rig_.reports().empty());
    EXPECT_EQ(IsConnect(), 1);
    EXPECT_EQ(GetFlashSize(), 16);

    rig_.recorder().SetFault({});
    rig_.log().Clear();
    EXPECT_EQ(ReadPhotoToFile(1, dir.File("b.bmp").c_str()), 0);
    EXPECT_EQ(rig_.log().Count(Event::Kind::Out) + rig_.log().Count(Event::Kind::In), 0u);
    EXPECT_TRUE(dir.Entries().empty());

    // Reopening gives a fresh geometry object that works.
    ASSERT_EQ(OpenDevice(), 1);
    EXPECT_EQ(ReadPhotoToFile(1, dir.File("b.bmp").c_str()), 1);
}

// A read that fails while the card is recognised is made again: one lost
// read must not show a card full of photos as unknown (the user's next step
// could be a format). Every read of a clean open fails once, in turn.
TEST_F(SessionTest, OneFailedReadAtOpenStillRecognisesTheCard) {
    for (sim::Variant variant :
         {sim::Variant::k8MbLe, sim::Variant::k16MbLe, sim::Variant::k16Mb, sim::Variant::k128Mb}) {
        SCOPED_TRACE(std::string(sim::GeometryOf(variant).name));
        rig_.Attach(variant, 3);
        rig_.log().Clear();
        ASSERT_EQ(OpenDevice(), 1);
        const unsigned megabytes = GetFlashSize();
        ASSERT_NE(megabytes, 0u);
        const size_t reads = rig_.log().Count(Event::Kind::In);
        for (size_t nth = 1; nth <= reads; ++nth) {
            SCOPED_TRACE(nth);
            rig_.recorder().SetFault(FailNth(Event::Kind::In, nth, platform::IoError::Aborted));
            ASSERT_EQ(OpenDevice(), 1);
            EXPECT_EQ(GetFlashSize(), megabytes);
            EXPECT_EQ(GetPhotoCount(), 3);
            rig_.recorder().SetFault({});
        }
        EXPECT_TRUE(rig_.reports().empty()) << "detection is quiet";
    }
}

TEST_F(SessionTest, ProgressPairIsReplacedAndNullIsSkipped) {
    rig_.Attach(sim::Variant::k128Mb, 1);
    ASSERT_EQ(OpenDevice(), 1);
    TempDir dir;
    // Never set: the read-out still works.
    EXPECT_EQ(ReadPhotoToFile(0, dir.File("a.bmp").c_str()), 1);
    SetProcessFunc(
        +[] {}, +[](int32_t) {});
    SetProcessFunc(CountingStep, CountingBegin);
    EXPECT_EQ(ReadPhotoToFile(0, dir.File("b.bmp").c_str()), 1);
    EXPECT_EQ(Progress().begins, 1);
    EXPECT_EQ(Progress().announced, 4);
    EXPECT_EQ(Progress().steps, 4);
    // Only one of the two set.
    SetProcessFunc(nullptr, CountingBegin);
    EXPECT_EQ(ReadPhotoToFile(0, dir.File("c.bmp").c_str()), 1);
    EXPECT_EQ(Progress().begins, 2);
    EXPECT_EQ(Progress().steps, 4);
}

TEST_F(SessionTest, OperationsWithoutGeometryTouchNothing) {
    TempDir dir;
    // Closed session.
    EXPECT_EQ(ReadPhotoToFile(0, dir.File("a.bmp").c_str()), 0);
    EXPECT_EQ(ReadAll(dir.File("a.img").c_str()), 0);
    EXPECT_EQ(DeletePhoto(0), 0);
    EXPECT_EQ(WriteFileToFlash(dir.File("missing.bmp").c_str()), 0);
    EXPECT_EQ(FormatFlash(0), 0);
    EXPECT_EQ(FormatFlash(32), 0);
    EXPECT_TRUE(dir.Entries().empty());

    // Open, card not recognised.
    std::string error;
    rig_.AttachCard(
        sim::Variant::k32Mb,
        sim::CardImage::CreateInMemory(sim::GeometryOf(sim::Variant::k32Mb).card_bytes, &error));
    ASSERT_EQ(OpenDevice(), 1);
    rig_.log().Clear();
    EXPECT_EQ(ReadPhotoToFile(0, dir.File("a.bmp").c_str()), 0);
    EXPECT_EQ(ReadAll(dir.File("a.img").c_str()), 0);
    EXPECT_EQ(DeletePhoto(0), 0);
    EXPECT_EQ(FormatFlash(0), 0);
    EXPECT_EQ(FormatFlash(48), 0);
    EXPECT_EQ(FormatFlash(0x10000), 0);  // low 16 bits are 0
    EXPECT_TRUE(dir.Entries().empty());
    EXPECT_TRUE(rig_.log().events().empty());
    EXPECT_EQ(rig_.camera().stats().erases, 0u);
}

TEST_F(SessionTest, GetStringNeedsNoDevice) {
    char buffer[255];
    EXPECT_EQ(GetString(13, buffer), 1);
    EXPECT_STREQ(buffer, "read card error,work incomplete");
    EXPECT_EQ(GetString(0, buffer), 0);
    EXPECT_EQ(GetString(15, buffer), 0);
    EXPECT_EQ(GetString(1, nullptr), 0);
}

}  // namespace
}  // namespace quorbit::testing
