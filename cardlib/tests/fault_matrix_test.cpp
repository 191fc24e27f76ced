// The fault matrix: each operation runs against the in-process camera with a
// fault at each of its transfers in turn (every command, page, erase and
// write-back transfer), once and from then on, for each kind of failure, and
// every case is checked against a model of the card read directly from the
// camera:
// - the result is honest: 1 only when the card shows the change whole;
// - every photo listed before is still listed with its pixels, but for the one
//   deleted; an upload happened whole or not at all;
// - the session agrees: after 0 it lists the old state, after 1 the new one,
//   and its copy of the system block equals the card's where it wrote it;
// - a host that opens the camera again after the failed call, as one that
//   runs one call a process does, finds the card recognised and listing what
//   it listed before, or the change made once;
// - the host's retry makes the intended change exactly once. A card left as
//   before or as intended is retried by a host that opens the camera again
//   (as a command-line tool does for every command), so the card alone must
//   tell the truth; a card left torn is retried in the same session, whose
//   copy of the system block is the one whole copy left.
// Outcomes that no writer of a card with one system block can avoid are
// counted and printed, not failed: a change that reached the card whole
// while the camera stopped answering (0 returned; a host that opens the
// camera again then does it a second time), and a system block torn when the
// camera stopped answering (an unplug, say) between its erase and its last
// page, or by a page of it that cannot be written, which a host that opens
// the camera again finds unrecognised or listing an erased directory. A change done twice after a
// fault from which the camera went on answering is a failure: the library
// reads the system block back after a failed write-back. A card torn when the
// camera stopped answering is then mended by quorbit-cli's repair, which must
// list every photo whose slot holds it again, with its pixels.
// Each test prints its transfer and case counts and the time it took.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <typeinfo>

#include "cardlib/bitmap.h"
#include "cardlib/photo_io.h"
#include "cardlib/session.h"
#include "cardlib/tests/fault_matrix.h"
#include "cardlib/tests/test_support.h"
#include "sim/card_maker.h"
#include "tools/cli/doctor_card.h"

namespace quorbit::testing {
namespace {

// FormatBlank formats a card whose system block is erased: no geometry is
// selected and the size chooses one.
enum class Op { ReadPhoto, Upload, Delete, Format, FormatBlank, Backup };

const char* NameOf(Op op) {
    switch (op) {
        case Op::ReadPhoto:
            return "ReadPhoto";
        case Op::Upload:
            return "Upload";
        case Op::Delete:
            return "Delete";
        case Op::Format:
            return "Format";
        case Op::FormatBlank:
            return "FormatBlank";
        case Op::Backup:
            return "Backup";
    }
    return "?";
}

constexpr int kPhotosOnCard = 3;
// Photo 1 lies in an odd slot: the little-endian cards read it from 16 KB
// before the slot and shift it down.
constexpr int kReadIndex = 1;
constexpr int kDeleteIndex = 1;
constexpr int kUploadSeed = 7;
// Failures printed per kind of failure; the rest are counted.
constexpr int kExamplesPerFailure = 3;

GeometryKind KindOf(sim::Variant v) {
    for (GeometryKind kind : kProbeOrder)
        if (ToVariant(kind) == v)
            return kind;
    return GeometryKind::k32Mb;
}

bool SameKind(const FlashGeometry& a, const FlashGeometry& b) {
    return typeid(a) == typeid(b);
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// What came of the cases: failures by what failed, with a few examples each,
// and the outcomes the model accepts but that are worth counting.
class Tally {
  public:
    void Fail(const std::string& what, const std::string& example) {
        for (Record* record : records_)
            record->push_back({true, what});
        if (++failures_[what] <= kExamplesPerFailure)
            examples_.push_back(what + ": " + example);
    }
    void Note(const std::string& what) {
        for (Record* record : records_)
            record->push_back({false, what});
        ++notes_[what];
    }

    // What a case (or a retry) found: failures and notes in order.
    struct Entry {
        bool failure;
        std::string what;
    };
    using Record = std::vector<Entry>;
    // Everything found while a record is kept goes into it too.
    void Keep(Record* record) { records_.push_back(record); }
    void Stop() { records_.pop_back(); }
    // Counts again what a run found, for a case that is the same run.
    void Repeat(const Record& record, const std::string& example) {
        for (const Entry& e : record) {
            if (e.failure)
                Fail(e.what, example);
            else
                Note(e.what);
        }
    }
    int failures() const {
        int n = 0;
        for (const auto& [what, count] : failures_)
            n += count;
        return n;
    }
    std::string Summary() const {
        std::string text;
        for (const auto& [what, count] : failures_)
            text += "  " + std::to_string(count) + " x " + what + "\n";
        for (const std::string& e : examples_)
            text += "    e.g. " + e + "\n";
        return text;
    }
    std::string Notes() const {
        std::string text;
        for (const auto& [what, count] : notes_)
            text += ", " + std::to_string(count) + " " + what;
        return text;
    }

  private:
    std::map<std::string, int> failures_;
    std::map<std::string, int> notes_;
    std::vector<std::string> examples_;
    std::vector<Record*> records_;
};

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Op, sim::Variant>> {
  protected:
    void SetUp() override {
        op_ = std::get<0>(GetParam());
        variant_ = std::get<1>(GetParam());
        kind_ = KindOf(variant_);
        expected_geometry_ = MakeGeometry(kind_, nullptr);
        // One photo more, deleted again: its slot keeps its pixels and the
        // directory's hint names it, so the upload reuses a slot that must
        // be erased before it is programmed.
        ASSERT_NE(rig_.Attach(variant_, kPhotosOnCard + 1), nullptr);
        rig_.log().enabled = false;
        ASSERT_EQ(session_.Open(), 1);
        ASSERT_NE(session_.geometry, nullptr);
        ASSERT_EQ(DeletePhoto(session_, kPhotosOnCard), 1);
        written_bytes_ = session_.geometry->SystemBlockWritePages() * session_.geometry->PageSize();
        if (op_ == Op::FormatBlank) {
            const sim::Geometry& g = sim::GeometryOf(variant_);
            const uint64_t block = g.system_block_offset - g.system_block_offset % g.block_bytes;
            ASSERT_TRUE(rig_.camera().Poke(block, std::vector<uint8_t>(g.block_bytes, 0xFF)));
        }
        // From here on the card as it is now is the one each case starts from.
        gate_ = std::make_unique<TransferGate>(rig_);
        ASSERT_EQ(session_.Open(), 1);
        ASSERT_EQ(session_.geometry == nullptr, op_ == Op::FormatBlank);
        opened_block_ = session_.system_block;
        s0_block_ = KeptBlock(CardSystemBlock(rig_.camera()));
        s0_ = CardListing(rig_.camera());
        // The slots of the photos listed (none once the system block is
        // erased: their pixels are still there and must stay).
        ASSERT_EQ(s0_.slots.size(), op_ == Op::FormatBlank ? 0 : size_t{kPhotosOnCard});
        for (uint16_t slot = 0; slot < kPhotosOnCard; ++slot)
            pictures_[slot] = SlotBytes(slot);
        upload_path_ = dir_.File("upload.bmp");
        WriteFileBytes(upload_path_, TestBitmap(kUploadSeed));
        uploaded_ = UploadedSlot(kUploadSeed);
        out_path_ = dir_.File("out.bmp");
        if (op_ == Op::ReadPhoto) {
            std::vector<uint8_t> raw = pictures_.at(s0_.slots[kReadIndex]);
            raw.resize(kRawPhotoBytes, 0);  // pixels past the slot read black
            expected_file_ = EncodeBitmap(raw);
        }
        if (op_ == Op::Backup)
            expected_file_ = rig_.CardBytes();
    }

    void TearDown() override { session_.Close(); }

    // --- the operation and its baseline -----------------------------------

    int Run() {
        switch (op_) {
            case Op::ReadPhoto:
                return ReadPhotoToFile(session_, kReadIndex, out_path_);
            case Op::Upload:
                return WriteFileToFlash(session_, upload_path_);
            case Op::Delete:
                return DeletePhoto(session_, kDeleteIndex);
            case Op::Format:
            case Op::FormatBlank:
                return FormatFlash(session_, sim::GeometryOf(variant_).card_bytes >> 20);
            case Op::Backup:
                return ReadAll(session_, out_path_);
        }
        return 0;
    }

    bool ChangesCard() const { return op_ != Op::ReadPhoto && op_ != Op::Backup; }
    bool Formats() const { return op_ == Op::Format || op_ == Op::FormatBlank; }

    // The fault-free run: how many transfers the operation makes, what each
    // is, and the card it leaves.
    void RunBaseline() {
        Reset();
        gate_->Record(true);
        gate_->Arm(std::nullopt);
        ASSERT_EQ(Run(), 1);
        transfers_ = gate_->transfers();
        labels_ = gate_->labels();
        gate_->Record(false);
        ASSERT_EQ(labels_.size(), transfers_);
        ASSERT_TRUE(rig_.reports().empty());
        s1_block_ = KeptBlock(CardSystemBlock(rig_.camera()));
        s1_ = CardListing(rig_.camera());
        Listing intended = s0_;
        if (op_ == Op::Upload) {
            ASSERT_EQ(s1_.slots.size(), s0_.slots.size() + 1);
            new_slot_ = s1_.slots.back();
            ASSERT_EQ(new_slot_, kPhotosOnCard);  // the freed slot
            intended.slots.push_back(new_slot_);
            ASSERT_TRUE(SameBytes(SlotBytes(new_slot_), uploaded_));
        } else if (op_ == Op::Delete) {
            intended.slots.erase(intended.slots.begin() + kDeleteIndex);
        } else if (Formats()) {
            intended = Listing{true, {}};
            ASSERT_TRUE(Fresh(CardSystemBlock(rig_.camera())));
        }
        ASSERT_EQ(s1_, intended) << Describe(s1_);
        for (size_t i = 0; i < labels_.size(); ++i) {
            if (labels_[i] == "C73")
                last_erase_ = i;
        }
    }

    // Which transfers get faults: every one, but for the whole-card backup
    // (see the note at the instantiation) every transfer of its first two
    // blocks and of its last block.
    std::vector<size_t> FaultPositions() const {
        std::vector<size_t> at;
        if (op_ != Op::Backup) {
            for (size_t k = 0; k < transfers_; ++k)
                at.push_back(k);
            return at;
        }
        const size_t blocks =
            sim::GeometryOf(variant_).card_bytes / session_.geometry->BlockBytes();
        const size_t per_block = transfers_ / blocks;
        for (size_t k = 0; k < 2 * per_block; ++k)
            at.push_back(k);
        for (size_t k = transfers_ - per_block; k < transfers_; ++k)
            at.push_back(k);
        return at;
    }

    // --- one case ---------------------------------------------------------

    // The card as made, a session as a fresh open leaves it, no reports.
    void Reset() {
        gate_->Restore();
        if (reopen_) {
            session_.Open();
            reopen_ = false;
        }
        session_.geometry =
            op_ == Op::FormatBlank ? nullptr : MakeGeometry(kind_, session_.device.get());
        session_.system_block = opened_block_;
        rig_.ClearReports();
        ::unlink(out_path_.c_str());
    }

    // Runs and checks one case; true when the operation made no transfer
    // after the faulted one.
    bool RunCase(const Fault& fault) {
        Reset();
        gate_->Arm(fault);
        const int result = Run();
        const bool ended_there = gate_->transfers() == fault.at + 1;
        gate_->Arm(std::nullopt);
        const std::string where =
            Describe(fault) + " (" + labels_[fault.at] + " of " + std::to_string(transfers_) + ")";
        ++cases_;
        const bool retry = Check(fault, result, where);
        if (result == 0) {
            CheckOneShotHost(fault, where);
            if (retry)
                RetryOnce(fault, where);
        }
        reopen_ = gate_->unplugged();
        return ended_there;
    }

    // The faults at one transfer. When the operation stopped at a fault that
    // happened once, the same fault from then on meets no other transfer:
    // it is the same run, leaves the same card and session, and is counted
    // with what the first found instead of being run again.
    void RunCasesAt(size_t at) {
        std::map<FaultKind, Tally::Record> stopped;
        for (const Fault& fault : FaultsAt(at, labels_[at][0] == 'O')) {
            if (fault.from_then_on && fault.kind != FaultKind::Unplug) {
                const auto same = stopped.find(fault.kind);
                if (same != stopped.end()) {
                    ++cases_;
                    ++same_runs_;
                    tally_.Repeat(same->second, Describe(fault) + ", the run of its once case");
                    continue;
                }
            }
            Tally::Record found;
            tally_.Keep(&found);
            const bool ended_there = RunCase(fault);
            tally_.Stop();
            if (!fault.from_then_on && ended_there)
                stopped.emplace(fault.kind, std::move(found));
        }
    }

    // What the host's retry starts from: the session (unless it must be
    // opened again) and the card's system block. The retry erases every
    // block before it programs it, so whatever else a case left on the card
    // makes no difference: one retry stands for all the cases that leave the
    // same state, and their cases count its failures too.
    // Whether the host's retry opens the camera again: it must after an
    // unplug or when the session gave up on the device, and does when the
    // card is as before or as intended.
    bool RetryReopens() {
        const FlashGeometry* g = session_.geometry.get();
        if (gate_->unplugged() || g == nullptr || g->invalidated())
            return true;
        const std::vector<uint8_t> card = KeptBlock(CardSystemBlock(rig_.camera()));
        return ChangesCard() && !Formats() && (card == s0_block_ || card == s1_block_);
    }

    std::string RetryState() {
        const FlashGeometry* g = session_.geometry.get();
        const bool reopen = RetryReopens();
        std::string state = reopen ? "reopened" : typeid(*g).name();
        if (!reopen)
            state.append(session_.system_block.begin(), session_.system_block.end());
        const std::vector<uint8_t> card = CardSystemBlock(rig_.camera());
        state.append(card.begin(), card.end());
        return state;
    }

    void RetryOnce(const Fault& fault, const std::string& where) {
        std::string state = RetryState();
        // Whether a change done twice is the library's fault depends on it.
        state += StillAnswers(fault) ? "answering" : "silent";
        const auto done = retries_.find(state);
        if (done != retries_.end()) {
            tally_.Repeat(done->second, where + ", retried as a case before it");
            return;
        }
        Tally::Record found;
        tally_.Keep(&found);
        Retry(fault, where);
        tally_.Stop();
        retries_.emplace(state, std::move(found));
    }

    // Checks the card and the session after the faulted run; true when the
    // host's retry is to be checked too.
    bool Check(const Fault& fault, int result, const std::string& where) {
        const std::vector<uint8_t> card_block = KeptBlock(CardSystemBlock(rig_.camera()));
        const Listing card = DecodeListing(card_block, sim::GeometryOf(variant_));
        const Listing session = SessionListing(session_);
        CheckListedPictures(where);
        if (result == 1) {
            if (!rig_.reports().empty())
                tally_.Fail("an error shown for a call that returned 1", where);
            CheckDone(where, card_block, card, session);
            return false;
        }
        if (result != 0) {
            tally_.Fail("a result other than 0 or 1", where);
            return false;
        }
        if (!ChangesCard()) {
            if (gate_->changed())
                tally_.Fail("a read-only operation changed the card", where);
            if (session != s0_ || session_.system_block != opened_block_)
                tally_.Fail("the session changed after a failed read", where);
            if (op_ == Op::ReadPhoto && FileExists(out_path_))
                tally_.Fail("a failed read left a bitmap file", where);
            if (op_ == Op::Backup && !PrefixOfCard(ReadFileBytes(out_path_)))
                tally_.Fail("a failed backup's file is not the card's first blocks", where);
            return true;
        }
        if (Formats())
            return CheckFailedFormat(where, card_block, card, session);

        // Upload and deletion after 0.
        if (session != s0_ || session_.system_block != opened_block_)
            tally_.Fail("the session keeps a change after 0",
                        where + ": session " + Describe(session) + ", card " + Describe(card));
        if (card_block == s0_block_)
            return true;
        if (card_block == s1_block_ && NewPictureWhole()) {
            // The card took every page that differs from the erased block
            // (or the last data page), then the answers were lost. While the
            // camera answers, the read-back finds the change and the call
            // returns 1; a camera that stopped answering cannot be asked.
            if (StillAnswers(fault))
                tally_.Fail("0 returned for a change the card holds whole", where);
            else if (gate_->unplugged())
                tally_.Note("changes made whole before an unplug that returned 0");
            else
                tally_.Note("changes made whole though 0 was returned");
            return true;
        }
        if (fault.at >= last_erase_) {
            // Between the system block's erase and its last page the card
            // holds one torn copy of the directory; the session keeps the old
            // state (checked above) and the retry writes the block whole. An
            // unplug takes the session with it: with one copy of the
            // directory on the card no writer can leave it whole then, but
            // the photos' pixels are still there (checked).
            if (fault.kind == FaultKind::Unplug) {
                tally_.Note("system blocks torn by an unplug during their write-back");
                return false;
            }
            tally_.Note("system blocks left torn for the retry");
            return true;
        }
        tally_.Fail("0 returned with the card neither as before nor as intended",
                    where + ": card " + Describe(card));
        return true;
    }

    // A host that runs one call a process (a command-line tool) closes the
    // session after the failed call and opens the camera again (plugged in
    // again after an unplug): the card must be recognised and list what it
    // listed before, or the change made once. The one exception is the
    // window no writer of a card with one system block can close: after the
    // system block's erase the camera stopped answering, or a page of the
    // block turned out unwritable, so that neither the new block nor the old
    // one could be written whole.
    void CheckOneShotHost(const Fault& fault, const std::string& where) {
        if (gate_->unplugged())
            rig_.Replug();
        // A card no transfer changed is the card as made: it lists s0_.
        if (!gate_->changed())
            return;
        CardSession host;
        host.Open();
        const Listing seen = SessionListing(host);
        host.Close();
        if (seen == s0_ || (ChangesCard() && seen == s1_))
            return;
        if (ChangesCard() && fault.at >= last_erase_ &&
            (!StillAnswers(fault) || fault.kind == FaultKind::BadPage)) {
            tally_.Note(fault.kind == FaultKind::BadPage
                            ? "one-shot hosts finding the card torn by a page of its system block "
                              "that cannot be written"
                            : "one-shot hosts finding the card torn after the camera stopped "
                              "answering");
            // A card no retry will mend (the session went with the camera)
            // is mended by quorbit-cli's repair.
            if (!StillAnswers(fault))
                CheckRepair(where);
            return;
        }
        tally_.Fail("a one-shot host finds the card neither as before nor changed once",
                    where + ": it lists " + Describe(seen));
    }

    // quorbit-cli repair on a torn card: a fresh system block lists every
    // slot that holds picture data, so every photo the card held keeps its
    // pixels and is listed again, and so is an upload's photo that reached
    // its slot whole.
    void CheckRepair(const std::string& where) {
        cli::DoctorCard doctor;
        if (!doctor.Open()) {
            tally_.Fail("the repair finds no camera", where);
            return;
        }
        if (!doctor.recognised())
            doctor.AssumeGeometry(0, kind_);
        const cli::CardSurvey survey = doctor.Survey();
        if (!survey.problems.empty() && !doctor.Rebuild(survey)) {
            tally_.Fail("the repair could not write the system block", where);
            return;
        }
        const Listing repaired = CardListing(rig_.camera());
        const auto listed = [&repaired](uint16_t slot) {
            return std::find(repaired.slots.begin(), repaired.slots.end(), slot) !=
                   repaired.slots.end();
        };
        for (const auto& [slot, pixels] : pictures_) {
            if (!repaired.recognised || !listed(slot) || !SameBytes(SlotBytes(slot), pixels)) {
                tally_.Fail(
                    "a photo is not listed with its pixels after the repair",
                    where + ": slot " + std::to_string(slot) + ", card " + Describe(repaired));
            }
        }
        if (op_ == Op::Upload && NewPictureWhole() && !listed(new_slot_))
            tally_.Fail("the uploaded photo is not listed after the repair", where);
        tally_.Note("torn cards repaired with every photo listed again");
    }

    // After a 1 (or a retry): the card and the session show the intended
    // change. Returns true when everything held.
    bool CheckDone(const std::string& where, const std::vector<uint8_t>& card_block,
                   const Listing& card, const Listing& session) {
        const int before = tally_.failures();
        switch (op_) {
            case Op::ReadPhoto:
            case Op::Backup:
                if (ReadFileBytes(out_path_) != expected_file_)
                    tally_.Fail("1 returned with a wrong file", where);
                if (gate_->changed())
                    tally_.Fail("a read-only operation changed the card", where);
                if (session != s0_)
                    tally_.Fail("the session's listing changed after a read", where);
                break;
            case Op::Upload:
            case Op::Delete:
                if (card_block != s1_block_ || !NewPictureWhole())
                    tally_.Fail("1 returned without the intended change on the card",
                                where + ": card " + Describe(card));
                if (session != s1_)
                    tally_.Fail("the session does not list the change after 1",
                                where + ": session " + Describe(session));
                if (!SameBytes({session_.system_block.data(), written_bytes_},
                               {card_block.data(), written_bytes_}))
                    tally_.Fail("the session's system block differs from the card's", where);
                break;
            case Op::Format:
            case Op::FormatBlank:
                if (!Fresh(card_block))
                    tally_.Fail("1 returned without a fresh system block on the card",
                                where + ": card " + Describe(card));
                if (session != s1_ || session_.geometry == nullptr ||
                    !SameKind(*session_.geometry, *expected_geometry_))
                    tally_.Fail("the formatted session is not the card's geometry, empty",
                                where + ": session " + Describe(session));
                else if (!SameBytes({session_.system_block.data(), written_bytes_},
                                    {card_block.data(), written_bytes_}))
                    tally_.Fail("the session's system block differs from the card's", where);
                break;
        }
        return tally_.failures() == before;
    }

    bool CheckFailedFormat(const std::string& where, const std::vector<uint8_t>& card_block,
                           const Listing& card, const Listing& session) {
        // The format gives up the old listing anyway: the card may keep it,
        // be erased, or be formatted already (only the read-back failed).
        const bool erased = std::all_of(card_block.begin(), card_block.begin() + written_bytes_,
                                        [](uint8_t b) { return b == 0xFF; });
        if (card_block != s0_block_ && !erased && !Fresh(card_block)) {
            tally_.Fail("a failed format left a system block that is neither old, erased nor fresh",
                        where + ": card " + Describe(card));
        }
        // The session lists what the card lists, or nothing at all, or still
        // what it listed before the call (its copy is the directory that a
        // later write-back puts back on the card).
        const Listing card_shows = card.recognised ? card : Listing{};
        const bool as_before = session == s0_ && session_.system_block == opened_block_;
        if (session.recognised && session.slots != card_shows.slots && !as_before)
            tally_.Fail("the session's listing differs from the card's after a failed format",
                        where + ": session " + Describe(session) + ", card " + Describe(card));
        return true;
    }

    void Retry(const Fault& fault, const std::string& where) {
        const bool reopen = RetryReopens();
        if (gate_->unplugged())
            rig_.Replug();
        if (reopen)
            session_.Open();
        rig_.ClearReports();
        const int result = Run();
        const std::string again = where + (reopen ? ", retried after a re-open" : ", retried");
        if (result == 1 && DoneTwice()) {
            if (StillAnswers(fault))
                tally_.Fail("done twice after a re-open", again);
            else
                tally_.Note("done twice after a re-open, the camera having stopped answering");
            return;
        }
        if (result != 1) {
            tally_.Fail("the host's retry failed",
                        again + ": session " + Describe(SessionListing(session_)) + ", card " +
                            Describe(CardListing(rig_.camera())));
            return;
        }
        const std::vector<uint8_t> card_block = KeptBlock(CardSystemBlock(rig_.camera()));
        CheckListedPictures(again);
        CheckDone(again, card_block, DecodeListing(card_block, sim::GeometryOf(variant_)),
                  SessionListing(session_));
    }

    // --- the card, read directly ------------------------------------------

    std::vector<uint8_t> SlotBytes(uint16_t slot) {
        return rig_.camera().Peek(sim::PhotoSlotOffset(variant_, slot), kPhotoSlotBytes);
    }

    // The part of the system block that a write-back rewrites.
    std::vector<uint8_t> KeptBlock(std::vector<uint8_t> block) const {
        block.resize(std::min(block.size(), written_bytes_));
        return block;
    }

    // Every photo of the card as made keeps its pixels: a deletion or a
    // format releases a slot but never erases it, an upload writes a free
    // slot. Only blocks that a transfer changed need comparing.
    void CheckListedPictures(const std::string& where) {
        for (const auto& [slot, pixels] : pictures_) {
            if (gate_->Touched(sim::PhotoSlotOffset(variant_, slot), kPhotoSlotBytes) &&
                !SameBytes(SlotBytes(slot), pixels)) {
                tally_.Fail("a photo's pixels changed", where + ": slot " + std::to_string(slot));
            }
        }
    }

    // The card shows the operation's change made twice: two photos deleted,
    // or the upload listed twice.
    bool DoneTwice() {
        const Listing card = CardListing(rig_.camera());
        const size_t n = s0_.slots.size();
        if (op_ == Op::Upload)
            return card.slots.size() == n + 2;
        if (op_ == Op::Delete)
            return card.slots.size() + 2 == n;
        return false;
    }

    bool NewPictureWhole() {
        return op_ != Op::Upload || SameBytes(SlotBytes(new_slot_), uploaded_);
    }

    // Magic, no photos, the geometry's capacity, the directory erased.
    bool Fresh(const std::vector<uint8_t>& block) const {
        const sim::Geometry& g = sim::GeometryOf(variant_);
        const Listing listing = DecodeListing(block, g);
        if (!listing.recognised || !listing.slots.empty() || block.size() < written_bytes_)
            return false;
        const size_t directory = std::min<size_t>(512, g.page_bytes);
        return std::all_of(block.begin() + directory, block.begin() + written_bytes_,
                           [](uint8_t b) { return b == 0xFF; });
    }

    bool PrefixOfCard(const std::vector<uint8_t>& file) const {
        return file.size() <= expected_file_.size() &&
               file.size() % session_.geometry->BlockBytes() == 0 &&
               SameBytes(file, {expected_file_.data(), file.size()});
    }

    Op op_ = Op::ReadPhoto;
    sim::Variant variant_ = sim::Variant::k32Mb;
    GeometryKind kind_ = GeometryKind::k32Mb;
    std::unique_ptr<FlashGeometry> expected_geometry_;
    CameraRig rig_;
    std::unique_ptr<TransferGate> gate_;
    CardSession session_;
    TempDir dir_;
    std::string upload_path_;
    std::vector<uint8_t> uploaded_;  // the slot an upload of it leaves
    std::string out_path_;
    // The session's copy after a fresh open, and what the card lists then.
    SystemBlock opened_block_{};
    size_t written_bytes_ = 0;
    std::vector<uint8_t> s0_block_;
    Listing s0_;
    std::map<uint16_t, std::vector<uint8_t>> pictures_;
    std::vector<uint8_t> expected_file_;
    // The fault-free run.
    size_t transfers_ = 0;
    std::vector<std::string> labels_;
    std::vector<uint8_t> s1_block_;
    Listing s1_;
    uint16_t new_slot_ = 0;
    size_t last_erase_ = 0;

    bool reopen_ = false;
    size_t cases_ = 0;
    size_t same_runs_ = 0;
    // What each distinct retry found, by the state it started from.
    std::map<std::string, Tally::Record> retries_;
    Tally tally_;
};

TEST_P(FaultMatrix, EveryTransferFails) {
    const auto start = std::chrono::steady_clock::now();
    RunBaseline();
    if (HasFatalFailure())
        return;
    const std::vector<size_t> positions = FaultPositions();
    for (size_t at : positions)
        RunCasesAt(at);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "fault matrix: %s %s: %zu transfers, faults at %zu, %zu cases (%zu the same run as their "
        "once case), %zu distinct retries%s, %.1f s\n",
        NameOf(op_), std::string(sim::VariantName(variant_)).c_str(), transfers_, positions.size(),
        cases_, same_runs_, retries_.size(), tally_.Notes().c_str(), seconds);
    EXPECT_EQ(tally_.failures(), 0) << tally_.Summary();
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Op, sim::Variant>>& info) {
    return std::string(NameOf(std::get<0>(info.param))) + "_" +
           std::string(sim::VariantName(std::get<1>(info.param)));
}

constexpr sim::Variant kMatrixCards[] = {sim::Variant::k8MbLe, sim::Variant::k16MbLe,
                                         sim::Variant::k32Mb, sim::Variant::k128Mb};

INSTANTIATE_TEST_SUITE_P(Photos, FaultMatrix,
                         ::testing::Combine(::testing::Values(Op::ReadPhoto, Op::Upload, Op::Delete,
                                                              Op::Format, Op::FormatBlank),
                                            ::testing::ValuesIn(kMatrixCards)),
                         CaseName);

// The whole-card backup of a quick card makes 17408 or 33792 transfers, and a
// case with a fault at transfer k first copies k / 17 or k / 33 blocks into
// its file, which the check reads back: a fault at every transfer would move
// terabytes. Faults go at every transfer of the first two blocks and of the
// last block; the blocks in between run the same loop.
INSTANTIATE_TEST_SUITE_P(QuickCards, FaultMatrix,
                         ::testing::Combine(::testing::Values(Op::Backup),
                                            ::testing::Values(sim::Variant::k8MbLe,
                                                              sim::Variant::k16MbLe)),
                         CaseName);

}  // namespace
}  // namespace quorbit::testing
