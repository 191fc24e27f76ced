// The card doctor (check, recover, repair, --image) on cards made in memory:
// deleted photos, torn and damaged directories, hints naming a restored slot,
// a camera unplugged during a repair, and card images that are not cards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cardlib/bitmap.h"
#include "cardlib/photo_io.h"
#include "picture/picture.h"
#include "platform/inprocess/inprocess_backend.h"
#include "sim/camera.h"
#include "sim/card_maker.h"
#include "testsupport/captured_reports.h"
#include "testsupport/recording_clock.h"
#include "testsupport/temp_dir.h"
#include "tools/cli/card_survey.h"
#include "tools/cli/commands.h"
#include "tools/cli/doctor_card.h"
#include "tools/cli/image_card.h"
#include "tools/cli/options.h"

namespace {

namespace fs = std::filesystem;
using quorbit::GeometryKind;
using quorbit::SystemBlock;

// --- the survey and the blocks the doctor writes, on blocks made here -----

struct BlockContents {
    int count = 0;
    std::vector<int> entries;  // slot fields of entries 0, 1, ...; -1 = erased
    bool recognised = true;
};

SystemBlock MakeBlock(const quorbit::FlashGeometry& g, const BlockContents& contents) {
    SystemBlock b;
    b.fill(0xFF);
    std::memcpy(b.data(), quorbit::kHeaderV15, sizeof quorbit::kHeaderV15);
    quorbit::StoreLe16(&b[quorbit::kPhotoCountOffset], static_cast<uint16_t>(contents.count));
    quorbit::StoreLe16(&b[quorbit::kCapacityOffset], static_cast<uint16_t>(g.MaxPhotos()));
    for (size_t i = 0; i < contents.entries.size(); ++i) {
        if (contents.entries[i] >= 0)
            quorbit::StoreEntry(b, g.PageSize(), i, static_cast<uint16_t>(contents.entries[i]));
    }
    return b;
}

std::vector<cli::SlotState> Slots(int capacity, std::vector<int> with_data,
                                  std::vector<int> unreadable = {}) {
    std::vector<cli::SlotState> s(static_cast<size_t>(capacity), cli::SlotState::kErased);
    for (int d : with_data)
        s[static_cast<size_t>(d)] = cli::SlotState::kData;
    for (int u : unreadable)
        s[static_cast<size_t>(u)] = cli::SlotState::kUnreadable;
    return s;
}

std::vector<std::string> Codes(const cli::CardSurvey& s) {
    std::vector<std::string> codes;
    for (const auto& p : s.problems)
        codes.push_back(p.code);
    return codes;
}

struct SurveyCase {
    const char* name;
    GeometryKind kind;
    BlockContents block;
    std::vector<int> data;
    std::vector<std::string> problems;
    std::vector<uint16_t> deleted;
    std::vector<uint16_t> hints;
    size_t photos;
};

TEST(CardSurvey, FindsWhatIsWrongAndWhatIsDeleted) {
    const SurveyCase cases[] = {
        {"healthy", GeometryKind::k16MbLe, {3, {0, 1, 2}}, {0, 1, 2}, {}, {}, {}, 3},
        // Photo in slot 1 deleted: its slot is the hint after the count.
        {"deleted photo", GeometryKind::k16MbLe, {2, {0, 2, -1, 1}}, {0, 1, 2}, {}, {1}, {1}, 2},
        // Two deletions: two hints, the one freed last first.
        {"two hints", GeometryKind::k32Mb, {1, {0, -1, 2, 1}}, {0, 1, 2}, {}, {1, 2}, {2, 1}, 1},
        // A slot whose pixels are still there after a format.
        {"formatted over photos", GeometryKind::k64Mb, {0, {}}, {0, 5}, {}, {0, 5}, {}, 0},
        {"count over an erased directory",
         GeometryKind::k16MbLe,
         {3, {}},
         {0, 1, 2},
         {"torn-directory"},
         {0, 1, 2},
         {},
         0},
        {"directory cut off after one entry",
         GeometryKind::k8Mb,
         {3, {0, -1, -1}},
         {0, 1, 2},
         {"torn-directory"},
         {1, 2},
         {},
         1},
        {"two entries name one slot",
         GeometryKind::k32Mb,
         {3, {0, 1, 1}},
         {0, 1, 2},
         {"duplicate-slot"},
         {2},
         {},
         2},
        {"slot beyond the card",
         GeometryKind::k16Mb,
         {2, {0, 60}},
         {0},
         {"slot-beyond-card"},
         {},
         {},
         1},
        {"count over capacity",
         GeometryKind::k8MbLe,
         {200, {0, 1}},
         {0, 1},
         {"count-over-capacity", "torn-directory"},
         {},
         {},
         2},
        {"entry names an erased slot",
         GeometryKind::k32Mb,
         {2, {0, 7}},
         {0},
         {"empty-slot"},
         {},
         {},
         2},
        {"hint names a photo's slot",
         GeometryKind::k32Mb,
         {2, {0, 1, -1, 1}},
         {0, 1},
         {"hint-in-use"},
         {},
         {1},
         2},
        // On the 128 MB card 0xFF is slot 255, not an erased field.
        {"slot 255 of the large card", GeometryKind::k128Mb, {1, {255}}, {255}, {}, {}, {}, 1},
        {"not recognised",
         GeometryKind::k16Mb,
         {0, {}, false},
         {3, 4},
         {"not-recognised"},
         {3, 4},
         {},
         0},
    };
    for (const SurveyCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto g = quorbit::MakeGeometry(c.kind, nullptr);
        SystemBlock block = MakeBlock(*g, c.block);
        const cli::CardSurvey s =
            cli::SurveyCard(*g, block, c.block.recognised, Slots(g->MaxPhotos(), c.data));
        EXPECT_EQ(Codes(s), c.problems);
        EXPECT_EQ(s.deleted, c.deleted);
        EXPECT_EQ(s.hints, c.hints);
        EXPECT_EQ(s.photos.size(), c.photos);
        EXPECT_EQ(s.directory_damaged, !c.problems.empty() && c.problems[0] != "empty-slot" &&
                                           c.problems[0] != "hint-in-use");
    }
}

TEST(CardSurvey, TellsWhichEntriesAreTornAndWhichSlotsCannotBeRead) {
    auto g = quorbit::MakeGeometry(GeometryKind::k16MbLe, nullptr);
    const cli::CardSurvey s = cli::SurveyCard(*g, MakeBlock(*g, {4, {0, 1, -1, -1}}), true,
                                              Slots(52, {0, 1, 2}, {9, 40, 41, 42}));
    ASSERT_EQ(s.problems.size(), 3u);
    EXPECT_EQ(s.problems[0].text, "slot 9 could not be read");
    EXPECT_EQ(s.problems[1].text, "slots 40 to 42 could not be read");
    EXPECT_NE(s.problems[2].text.find("photos 3 and 4 of the 4 counted"), std::string::npos)
        << s.problems[2].text;
}

struct RestoreCase {
    const char* name;
    BlockContents before;
    uint16_t slot;
    std::vector<int> after;  // slot fields of the entries after the restore
};

TEST(RestoredPhoto, IsListedLastAndNoHintNamesItsSlot) {
    const RestoreCase cases[] = {
        // The hint of the slot restored goes; entry count+1 stays erased.
        {"the only hint", {2, {0, 2, -1, 1}}, 1, {0, 2, 1, -1, -1}},
        // Other hints keep their order, one entry further on: the next upload
        // (which looks at entry count+1 of the new count) takes the one freed last.
        {"a later hint", {1, {0, -1, 2, 1, 3}}, 1, {0, 1, -1, 2, 3, -1}},
        {"the hint the next upload takes", {1, {0, -1, 2, 1}}, 2, {0, 2, -1, 1, -1}},
        {"a slot no hint names", {0, {-1, 4}}, 7, {7, -1, 4, -1}},
    };
    auto g = quorbit::MakeGeometry(GeometryKind::k32Mb, nullptr);
    for (const RestoreCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SystemBlock after = cli::WithRestoredPhoto(*g, MakeBlock(*g, c.before), c.slot);
        EXPECT_EQ(g->HeaderPhotoCount(after), c.before.count + 1);
        for (size_t i = 0; i < c.after.size(); ++i) {
            const uint16_t want = c.after[i] < 0 ? quorbit::kNoSlot : c.after[i];
            EXPECT_EQ(g->EntrySlot(after, static_cast<int>(i)), want) << "entry " << i;
        }
    }
}

// --- the commands on simulated cameras made in memory ---------------------

picture::Picture TestPicture(int seed) {
    picture::Picture p(picture::kPhotoWidth, picture::kPhotoHeight);
    for (size_t b = 0; b < p.rgb.size(); ++b)
        p.rgb[b] = static_cast<uint8_t>(b * 7 + seed * 37 + (b / 966) * 3);
    return p;
}

// Fails every transfer after the first erase command has reached the camera:
// a camera pulled out right after the system block's erase.
class UnplugAfterErase final : public platform::Peripheral {
  public:
    explicit UnplugAfterErase(std::shared_ptr<platform::Peripheral> camera)
        : camera_(std::move(camera)) {}
    platform::IoResult HandleOut(platform::Endpoint e, std::span<const uint8_t> data) override {
        if (gone_)
            return platform::IoResult::Failure(platform::IoError::DeviceGone);
        const platform::IoResult r = camera_->HandleOut(e, data);
        if (data.size() == 16 && data[0] == 0x85 && data[1] == 0x73)
            gone_ = true;
        return r;
    }
    platform::IoResult HandleIn(platform::Endpoint e, std::span<uint8_t> buffer) override {
        if (gone_)
            return platform::IoResult::Failure(platform::IoError::DeviceGone);
        return camera_->HandleIn(e, buffer);
    }
    platform::DeviceAttributes Attributes() const override { return camera_->Attributes(); }

  private:
    std::shared_ptr<platform::Peripheral> camera_;
    bool gone_ = false;
};

class DoctorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        fs::current_path(dir_.path());  // repair's backups go there
    }
    void TearDown() override { fs::current_path(old_cwd_); }

    void MakeCamera(sim::Variant v, int photos) {
        variant_ = v;
        std::vector<picture::Picture> pictures;
        for (int i = 0; i < photos; ++i)
            pictures.push_back(TestPicture(i));
        std::string error;
        auto card = sim::MakeCardInMemory(v, pictures, &error);
        ASSERT_NE(card, nullptr) << error;
        camera_ = std::make_shared<sim::Camera>(v, std::move(card), sim::DefaultAttributes(),
                                                [](std::string_view) {});
        backend_.backend().Attach("cam", camera_);
    }
    const sim::Geometry& G() const { return sim::GeometryOf(variant_); }
    std::vector<uint8_t> WholeCard() const { return camera_->Peek(0, G().card_bytes); }
    std::vector<uint8_t> Slot(size_t s) const {
        return camera_->Peek(sim::PhotoSlotOffset(variant_, s), quorbit::kPhotoSlotBytes);
    }
    // The system block erased, as a write-back cut off right after its erase
    // leaves it; or erased but for its header page.
    void TearSystemBlock(bool keep_header) {
        const uint64_t at = G().system_block_offset + (keep_header ? G().page_bytes : 0);
        const uint64_t block_end =
            G().system_block_offset + std::min<uint64_t>(G().block_bytes, 16384);
        const uint64_t end = std::min<uint64_t>(block_end, G().card_bytes);
        camera_->Poke(at, std::vector<uint8_t>(end - at, 0xFF));
    }

    struct Result {
        int status;
        std::string out;
        std::string err;
    };
    Result Run(std::vector<std::string> words, const cli::ImageCard* image = nullptr) {
        std::vector<std::string> argv{"quorbit-cli"};
        argv.insert(argv.end(), words.begin(), words.end());
        std::string error;
        auto options = cli::ParseArguments(argv, &error);
        if (!options)
            return {cli::kExitUsage, "", error};
        cli::CommandContext ctx{cli::LinkedLibraryApi(), *options};
        ctx.image = image;
        char* out = nullptr;
        char* err = nullptr;
        size_t out_len = 0, err_len = 0;
        ctx.io.out = open_memstream(&out, &out_len);
        ctx.io.err = open_memstream(&err, &err_len);
        ctx.io.in = stdin;
        const int status = cli::RunCommand(ctx);
        std::fclose(ctx.io.out);
        std::fclose(ctx.io.err);
        Result r{status, out, err};
        std::free(out);
        std::free(err);
        return r;
    }

    // The photos the library lists, by slot, and its deletion.
    std::vector<uint16_t> ListedSlots() {
        quorbit::CardSession s;
        std::vector<uint16_t> slots;
        if (s.Open() != 1 || s.geometry == nullptr)
            return slots;
        for (int i = 0; i < s.geometry->HeaderPhotoCount(s.system_block); ++i)
            slots.push_back(s.geometry->EntrySlot(s.system_block, i));
        return slots;
    }
    void Delete(int index) {
        quorbit::CardSession s;
        ASSERT_EQ(s.Open(), 1);
        ASSERT_EQ(quorbit::DeletePhoto(s, index), 1);
    }
    std::vector<std::string> Backups() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_.path())) {
            if (e.path().extension() == ".img")
                names.push_back(e.path().string());
        }
        return names;
    }

    testsupport::TempDir dir_;
    fs::path old_cwd_;
    testsupport::RecordingClock clock_;
    platform::ScopedClock clock_guard_{&clock_};
    testsupport::CapturedReports reports_;
    platform::ScopedInProcessBackend backend_;
    sim::Variant variant_ = sim::Variant::k16MbLe;
    std::shared_ptr<sim::Camera> camera_;
};

TEST_F(DoctorTest, DeletedPhotoIsSavedAndListedAgainWhereNoUploadTakesIt) {
    MakeCamera(sim::Variant::k16MbLe, 4);
    const std::vector<uint8_t> slot1 = Slot(1);
    Delete(1);
    Delete(2);  // the photo of slot 3: two hints now, slot 3 first
    Result r = Run({"check", "--parsable"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.out << r.err;
    EXPECT_NE(r.out.find("hint\t3\nhint\t1\n"), std::string::npos) << r.out;
    r = Run({"recover", "list", "--parsable"});
    EXPECT_EQ(r.out, "1\t1\n2\t3\n");

    // Saved as the library's own bitmap of that slot.
    r = Run({"recover", "get", "1", (dir_ / "one.bmp")});
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    std::vector<uint8_t> raw(slot1);
    raw.resize(quorbit::kRawPhotoBytes, 0);
    std::ifstream in(dir_ / "one.bmp", std::ios::binary);
    const std::vector<uint8_t> saved((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(saved, quorbit::EncodeBitmap(raw));

    r = Run({"recover", "restore", "1", "--yes"});
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(ListedSlots(), (std::vector<uint16_t>{0, 2, 1}));
    // Two uploads: the first takes slot 3 (the hint left), the second a
    // free slot; neither the restored photo's.
    quorbit::CardSession s;
    ASSERT_EQ(s.Open(), 1);
    const std::string bmp = dir_ / "up.bmp";
    std::ofstream(bmp, std::ios::binary)
        .write(reinterpret_cast<const char*>(saved.data()),
               static_cast<std::streamsize>(saved.size()));
    ASSERT_EQ(quorbit::WriteFileToFlash(s, bmp), 1);
    ASSERT_EQ(quorbit::WriteFileToFlash(s, bmp), 1);
    s.Close();
    EXPECT_EQ(ListedSlots(), (std::vector<uint16_t>{0, 2, 1, 3, 4}));
    EXPECT_EQ(Slot(1), slot1);
}

TEST_F(DoctorTest, RecoverRefusesWhatIsNotThereAndChangesNothing) {
    MakeCamera(sim::Variant::k32Mb, 2);
    Delete(0);
    const std::vector<uint8_t> before = WholeCard();
    const struct {
        std::vector<std::string> words;
        int status;
        const char* message;
    } cases[] = {
        {{"recover", "restore", "2", "--yes"}, cli::kExitFailed, "no deleted photo 2"},
        {{"recover", "get", "5", "x.png"}, cli::kExitFailed, "no deleted photo 5"},
        {{"recover", "restore", "1"}, cli::kExitFailed, "needs confirmation"},
        {{"recover", "restore", "0"}, cli::kExitUsage, "numbered from 1"},
        {{"recover", "fetch"}, cli::kExitUsage, "usage"},
        {{"repair", "--yes"}, cli::kExitFailed, "nothing to repair"},
        {{"repair", "--size", "16", "--yes"}, cli::kExitFailed, "32 MB card, not 16"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.words);
        EXPECT_EQ(r.status, c.status) << c.words[1];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(WholeCard(), before);
    EXPECT_TRUE(Backups().empty());
}

TEST_F(DoctorTest, APhotoCutOffInItsSlotIsSavedAndSaidSo) {
    MakeCamera(sim::Variant::k32Mb, 1);
    // An upload into slot 1 cut off after 100 KB: never listed.
    std::vector<uint8_t> part = Slot(0);
    part.resize(100 * 1024);
    camera_->Poke(sim::PhotoSlotOffset(variant_, 1), part);
    Result r = Run({"recover", "list", "--parsable"});
    EXPECT_EQ(r.out, "1\t1\n");
    r = Run({"recover", "get", "1", (dir_ / "cut.bmp")});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_NE(r.err.find("not written whole"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir_ / "cut.bmp"));
    // A whole photo is not said to be cut off.
    Delete(0);
    r = Run({"recover", "get", "1", (dir_ / "whole.bmp")});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.err.find("not written whole"), std::string::npos) << r.err;
}

TEST_F(DoctorTest, RepairMendsEveryDamageFromABackupAndTouchesNoSlot) {
    // A 16Mb card of three photos, photo 0 deleted: count 2, entries 0 and
    // 1 name slots 1 and 2, entry 3 is the hint of slot 0. Then bytes of its
    // system block change behind the library's back.
    struct Damage {
        const char* name;
        size_t offset;  // in the system block
        std::vector<uint8_t> bytes;
        const char* code;
    };
    const std::vector<uint8_t> erased(16384, 0xFF);
    const Damage cases[] = {
        {"two entries name one slot", 512 + 16 + 8, {1, 0}, "duplicate-slot"},
        {"an entry names a slot beyond the card", 512 + 8, {200, 0}, "slot-beyond-card"},
        {"a count over the capacity", 256, {250, 0}, "count-over-capacity"},
        {"a hint names a photo's slot", 512 + 16 * 3 + 8, {1, 0}, "hint-in-use"},
        {"a count over an erased directory",
         512,
         {erased.begin() + 512, erased.end()},
         "torn-directory"},
        {"the system block erased", 0, erased, "not-recognised"},
    };
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.name);
        backend_.backend().Detach("cam");
        MakeCamera(sim::Variant::k16Mb, 3);
        Delete(0);  // a deleted photo comes back too: its pixels are on the card
        camera_->Poke(G().system_block_offset + d.offset, d.bytes);
        std::vector<std::vector<uint8_t>> slots;
        for (size_t s = 0; s < 52; ++s)
            slots.push_back(Slot(s));
        const std::vector<uint8_t> damaged = WholeCard();

        Result r = Run({"check", "--parsable"});
        EXPECT_EQ(r.status, cli::kExitFailed);
        EXPECT_NE(r.out.find(std::string("problem\t") + d.code + "\t"), std::string::npos) << r.out;
        r = Run({"repair", "--size", "16", "--yes", "-q"});
        ASSERT_EQ(r.status, cli::kExitOk) << r.err;
        EXPECT_EQ(ListedSlots(), (std::vector<uint16_t>{0, 1, 2}));
        EXPECT_EQ(Run({"check"}).status, cli::kExitOk);
        for (size_t s = 0; s < 52; ++s)
            EXPECT_EQ(Slot(s), slots[s]) << "slot " << s;
        // The backup taken first is the damaged card, byte for byte.
        ASSERT_EQ(Backups().size(), 1u);
        std::ifstream in(Backups()[0], std::ios::binary);
        EXPECT_EQ(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}), damaged);
        fs::remove(Backups()[0]);
    }
}

TEST_F(DoctorTest, RepairFindsTheFormOfTheCard) {
    // Both forms of the sizes that have two, and the card of large pages
    // (32 and 64 MB cards are 16Mb cards for this).
    for (sim::Variant v : {sim::Variant::k8MbLe, sim::Variant::k8Mb, sim::Variant::k16MbLe,
                           sim::Variant::k16Mb, sim::Variant::k128Mb}) {
        SCOPED_TRACE(std::string(sim::VariantName(v)));
        backend_.backend().Detach("cam");
        MakeCamera(v, 2);
        TearSystemBlock(false);
        const Result r =
            Run({"repair", "--size", std::to_string(G().card_bytes >> 20), "--yes", "-q"});
        EXPECT_EQ(r.status, cli::kExitOk) << r.err;
        EXPECT_EQ(ListedSlots(), (std::vector<uint16_t>{0, 1}));
        for (const std::string& b : Backups())
            fs::remove(b);
    }
}

TEST_F(DoctorTest, UnpluggedDuringRepairTheBackupIsWholeAndARetryFinishes) {
    MakeCamera(sim::Variant::k8Mb, 3);
    TearSystemBlock(true);
    const std::vector<uint8_t> torn = WholeCard();
    backend_.backend().Detach("cam");
    backend_.backend().Attach("cam", std::make_shared<UnplugAfterErase>(camera_));
    Result r = Run({"repair", "--yes"});
    EXPECT_EQ(r.status, cli::kExitFailed);
    EXPECT_NE(r.err.find("cut short"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("once more"), std::string::npos) << r.err;
    ASSERT_EQ(Backups().size(), 1u);
    EXPECT_NE(r.err.find(fs::path(Backups()[0]).filename().string()), std::string::npos);
    std::ifstream in(Backups()[0], std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}), torn);

    backend_.backend().Detach("cam");
    backend_.backend().Attach("cam", camera_);
    r = Run({"repair", "--size", "8", "--yes"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(ListedSlots(), (std::vector<uint16_t>{0, 1, 2}));
    EXPECT_EQ(Backups().size(), 2u);  // the first one is kept
}

// --- card images -------------------------------------------------------------

TEST(ImageCard, RefusesWhatIsNotACardImage) {
    testsupport::TempDir dir;
    std::string error;
    ASSERT_TRUE(
        sim::MakeCardFromImages(dir / "card.img", sim::Variant::k16Mb, {TestPicture(1)}, &error))
        << error;
    fs::copy_file(dir / "card.img", dir / "short.img");
    fs::resize_file(dir / "short.img", (16 << 20) - 512);
    const struct {
        std::string path;
        std::string geometry;
        const char* message;
    } cases[] = {
        {dir / "short.img", "", "a card image holds exactly 8, 16, 32, 64 or 128 MB"},
        {dir / "none.img", "", "no such file"},
        {dir.path(), "", "not a regular file"},
        {dir / "card.img", "32Mb", "exactly 32 MB"},
        {dir / "card.img", "17Mb", "--geometry takes"},
    };
    for (const auto& c : cases) {
        error.clear();
        EXPECT_EQ(cli::ImageCard::Open(c.path, c.geometry, false, &error), nullptr) << c.path;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    // Recognised as the library recognises the camera's card: the 16 MB
    // big-endian card after the little-endian form was tried.
    auto image = cli::ImageCard::Open(dir / "card.img", "", false, &error);
    ASSERT_NE(image, nullptr) << error;
    EXPECT_TRUE(image->recognised());
    EXPECT_EQ(image->variant(), sim::Variant::k16Mb);
}

TEST(ImageCard, AnImageNobodyFormattedIsReportedAndLeftAlone) {
    testsupport::TempDir dir;
    std::string error;
    ASSERT_TRUE(sim::MakeBlankCard(dir / "blank.img", sim::Variant::k32Mb, &error)) << error;
    auto image = cli::ImageCard::Open(dir / "blank.img", "", true, &error);
    ASSERT_NE(image, nullptr) << error;
    EXPECT_FALSE(image->recognised());
    cli::Options options;
    options.command = "check";
    cli::CommandContext ctx{cli::LinkedLibraryApi(), options};
    ctx.image = image.get();
    char* out = nullptr;
    size_t len = 0;
    ctx.io.out = open_memstream(&out, &len);
    ctx.io.err = ctx.io.out;
    EXPECT_EQ(cli::RunCommand(ctx), cli::kExitFailed);
    ctx.options.command = "repair";
    ctx.options.yes = true;
    EXPECT_EQ(cli::RunCommand(ctx), cli::kExitFailed);
    std::fclose(ctx.io.out);
    const std::string text = out;
    std::free(out);
    EXPECT_NE(text.find("not recognised"), std::string::npos) << text;
    EXPECT_NE(text.find("slots holding picture data: 0"), std::string::npos) << text;
    EXPECT_NE(text.find("no slot holds picture data"), std::string::npos) << text;
    image.reset();
    std::ifstream in(dir / "blank.img", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, std::vector<uint8_t>(32 << 20, 0xFF));
}

}  // namespace
