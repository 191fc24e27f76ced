// A host that calls back into the library from its progress callbacks: every
// call that would use the device or change the session fails there and
// changes nothing, and the running call finishes as if it had not been made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardlib/bitmap.h"
#include "cardlib/quorbit.h"
#include "cardlib/tests/test_support.h"

namespace quorbit::testing {
namespace {

// What the callbacks saw: a line per call made from inside them.
struct Reentry {
    std::string scratch;  // a path the nested calls may name
    int nest_at = 0;      // the callback (1: the begin) that makes the nested calls
    int callbacks = 0;
    int steps = 0;
    std::vector<std::string> results;
    uint16_t count_seen = 0;  // GetPhotoCount from inside, which is allowed
};
Reentry g_reentry;

void CallEverythingBack() {
    if (++g_reentry.callbacks != g_reentry.nest_at)
        return;
    auto& r = g_reentry.results;
    const char* path = g_reentry.scratch.c_str();
    r.push_back("CloseDevice " + std::to_string(CloseDevice()));
    r.push_back("OpenDevice " + std::to_string(OpenDevice()));
    r.push_back("ReadPhotoToFile " + std::to_string(ReadPhotoToFile(0, path)));
    r.push_back("DeletePhoto " + std::to_string(DeletePhoto(0)));
    r.push_back("WriteFileToFlash " + std::to_string(WriteFileToFlash(path)));
    r.push_back("FormatFlash " + std::to_string(FormatFlash(16)));
    r.push_back("ReadAll " + std::to_string(ReadAll(path)));
    SetProcessFunc(nullptr, nullptr);  // ignored: the counting goes on
    g_reentry.count_seen = GetPhotoCount();
}

void NestingBegin(int32_t) {
    CallEverythingBack();
}
void NestingStep() {
    ++g_reentry.steps;
    CallEverythingBack();
}

const std::vector<std::string> kAllRefused = {
    "CloseDevice -1",     "OpenDevice 0",  "ReadPhotoToFile 0", "DeletePhoto 0",
    "WriteFileToFlash 0", "FormatFlash 0", "ReadAll 0",
};

// The parameter: the callback that calls back in, the begin (1) or a step
// after some transfers (3).
class ReentryTest : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        ASSERT_NE(rig_.Attach(sim::Variant::k16MbLe, 2), nullptr);
        rig_.log().enabled = false;
        ASSERT_EQ(OpenDevice(), 1);
        SetProcessFunc(NestingStep, NestingBegin);
        Arm();
    }
    void TearDown() override {
        SetProcessFunc(nullptr, nullptr);
        CloseDevice();
    }

    void Arm() {
        g_reentry = Reentry{};
        g_reentry.scratch = dir_.File("nested.bmp");
        g_reentry.nest_at = GetParam();
    }

    // Each nested call was refused, the session is as the outer call
    // leaves it, and the progress functions stayed set.
    void ExpectRefusedWhileRunning(uint16_t count) {
        EXPECT_EQ(g_reentry.results, kAllRefused);
        EXPECT_EQ(g_reentry.count_seen, count);
        EXPECT_FALSE(FileExists(g_reentry.scratch));
        EXPECT_EQ(IsConnect(), 1);
        EXPECT_EQ(GetFlashSize(), 16);
        EXPECT_GE(g_reentry.steps, 2);
    }

    CameraRig rig_;
    TempDir dir_;
};

TEST_P(ReentryTest, ReadOutFinishesWithEveryNestedCallRefused) {
    const std::string out = dir_.File("photo.bmp");
    std::vector<uint8_t> expected = UploadedSlot(1);  // the card's second photo
    expected.resize(kRawPhotoBytes, 0);
    ASSERT_EQ(ReadPhotoToFile(1, out.c_str()), 1);
    ExpectRefusedWhileRunning(2);
    EXPECT_TRUE(ReadFileBytes(out) == EncodeBitmap(expected));
}

TEST_P(ReentryTest, UploadAndBackupFinishWithEveryNestedCallRefused) {
    const std::string bitmap = dir_.File("up.bmp");
    WriteFileBytes(bitmap, TestBitmap(9));
    ASSERT_EQ(WriteFileToFlash(bitmap.c_str()), 1);
    ExpectRefusedWhileRunning(2);
    EXPECT_EQ(GetPhotoCount(), 3);

    Arm();
    const std::string image = dir_.File("card.img");
    ASSERT_EQ(ReadAll(image.c_str()), 1);
    ExpectRefusedWhileRunning(3);
    EXPECT_TRUE(ReadFileBytes(image) == rig_.CardBytes());
}

TEST_P(ReentryTest, FormatFinishesWithEveryNestedCallRefused) {
    // A format makes two callbacks: the begin and one step.
    g_reentry.nest_at = std::min(GetParam(), 2);
    ASSERT_EQ(FormatFlash(16), 1);
    EXPECT_EQ(g_reentry.results, kAllRefused);
    EXPECT_EQ(GetPhotoCount(), 0);
    EXPECT_EQ(IsConnect(), 1);
}

INSTANTIATE_TEST_SUITE_P(FromBeginOrStep, ReentryTest, ::testing::Values(1, 3));

}  // namespace
}  // namespace quorbit::testing
