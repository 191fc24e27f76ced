// Random uploads and deletions on every geometry, checked after each step
// against a model of the photo list; the card is reopened every so often so
// that what is checked is the card, not only the session's copy.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "cardlib/bitmap.h"
#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/tests/test_support.h"
#include "sim/card_maker.h"

namespace quorbit::testing {
namespace {

class SequenceTest : public ::testing::TestWithParam<sim::Variant> {
  protected:
    void TearDown() override { CloseDevice(); }

    const std::vector<uint8_t>& Slot(int seed) {
        auto it = slots_.find(seed);
        if (it == slots_.end())
            it = slots_.emplace(seed, UploadedSlot(seed)).first;
        return it->second;
    }

    // Every photo read back through the library equals what was uploaded.
    void CheckEveryPhoto(const std::vector<int>& model) {
        ASSERT_EQ(OpenDevice(), 1);
        ASSERT_EQ(GetPhotoCount(), model.size());
        for (size_t i = 0; i < model.size(); ++i) {
            const std::string path = dir_.File("check.bmp");
            ASSERT_EQ(ReadPhotoToFile(int(i), path.c_str()), 1) << i;
            const uint16_t slot = Session().geometry->EntrySlot(Session().system_block, int(i));
            std::vector<uint8_t> raw = Slot(model[i]);
            raw.resize(kRawPhotoBytes, 0);  // past the slot: black
            ASSERT_TRUE(ReadFileBytes(path) == EncodeBitmap(raw))
                << "photo " << i << " slot " << slot;
        }
    }

    CameraRig rig_;
    TempDir dir_;
    std::map<int, std::vector<uint8_t>> slots_;
};

TEST_P(SequenceTest, RandomUploadsAndDeletionsLoseNothing) {
    const sim::Variant v = GetParam();
    const int max = sim::GeometryOf(v).max_photos;
    rig_.Attach(v, 0);
    rig_.log().enabled = false;
    ASSERT_EQ(OpenDevice(), 1);
    std::mt19937 random(1234 + int(v));
    std::vector<int> model;  // photo seeds in directory order
    const std::string bmp = dir_.File("up.bmp");
    // Few slots: fill up and drain more often so full-card refusals happen.
    const int ops = 240;
    for (int op = 0; op < ops; ++op) {
        const bool full = int(model.size()) >= max;
        const bool upload = model.empty() || (!full && random() % 100 < (max <= 52 ? 60 : 70)) ||
                            (full && random() % 4 == 0);
        if (upload) {
            const int seed = 1000 + op;
            WriteFileBytes(bmp, TestBitmap(seed));
            const int result = WriteFileToFlash(bmp.c_str());
            if (full) {
                ASSERT_EQ(result, 0) << "upload on a full card, op " << op;
            } else {
                ASSERT_EQ(result, 1) << "op " << op;
                model.push_back(seed);
                const uint16_t slot =
                    Session().geometry->EntrySlot(Session().system_block, int(model.size()) - 1);
                ASSERT_LT(slot, max);
                ASSERT_TRUE(rig_.camera().Peek(sim::PhotoSlotOffset(v, slot), kPhotoSlotBytes) ==
                            Slot(seed));
            }
        } else {
            const int index = int(random() % model.size());
            ASSERT_EQ(DeletePhoto(index), 1) << "op " << op;
            model.erase(model.begin() + index);
        }
        ASSERT_EQ(GetPhotoCount(), model.size());
        // No two photos share a slot.
        std::set<uint16_t> used;
        for (size_t i = 0; i < model.size(); ++i)
            used.insert(Session().geometry->EntrySlot(Session().system_block, int(i)));
        ASSERT_EQ(used.size(), model.size()) << "op " << op;
        if (op % 40 == 39)
            CheckEveryPhoto(model);
    }
    CheckEveryPhoto(model);
    EXPECT_TRUE(rig_.reports().empty());
}

INSTANTIATE_TEST_SUITE_P(AllGeometries, SequenceTest, ::testing::ValuesIn(sim::kAllVariants),
                         [](const auto& info) {
                             return std::string(sim::VariantName(info.param));
                         });

}  // namespace
}  // namespace quorbit::testing
