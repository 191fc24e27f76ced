#include "tools/cli/doctor_commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iterator>

#include "cardlib/bitmap.h"
#include "cardlib/photo_io.h"
#include "picture/codecs.h"
#include "tools/cli/command_support.h"
#include "tools/cli/doctor_card.h"
#include "tools/cli/doctor_options.h"
#include "tools/cli/image_card.h"
#include "tools/cli/output_file.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// The card of a doctor's command, opened; 0 or the exit status (said).
int OpenCard(const CommandContext& ctx, DoctorCard& card) {
    card.session().step = &ProgressBar::StepCallback;
    card.session().begin = &ProgressBar::BeginCallback;
    if (!card.Open()) {
        Say(ctx, "no camera found");
        return kExitNoCamera;
    }
    return kExitOk;
}

// For a card that was not recognised: its geometry from --size or the
// image, so that its slots can be looked at. False when nothing tells it.
bool AssumeGeometry(const CommandContext& ctx, DoctorCard& card) {
    if (ctx.image != nullptr) {
        card.AssumeGeometry(0, KindOf(ctx.image->variant()));
        return true;
    }
    if (ctx.options.size_mb == 0)
        return false;
    card.AssumeGeometry(ctx.options.size_mb, std::nullopt);
    return card.has_geometry();
}

CardSurvey SurveyWithProgress(const CommandContext& ctx, DoctorCard& card) {
    CardSurvey survey;
    WithProgress(ctx, "reading the first page of every slot", [&] {
        survey = card.Survey();
        return 1;
    });
    return survey;
}

void PrintSurvey(const CommandContext& ctx, const DoctorCard& card, const CardSurvey& s) {
    std::FILE* out = ctx.io.out;
    const quorbit::FlashGeometry& g = card.geometry();
    const std::string kind = KindName(g);
    if (ctx.options.parsable) {
        std::fprintf(out, "card\t%s\t%s\n", kind.c_str(),
                     s.recognised ? "recognised" : "not-recognised");
        std::fprintf(out, "photos\t%d\t%d\n", s.count, s.capacity);
        for (uint16_t hint : s.hints)
            std::fprintf(out, "hint\t%u\n", unsigned{hint});
        for (size_t k = 0; k < s.deleted.size(); ++k)
            std::fprintf(out, "deleted\t%zu\t%u\n", k + 1, unsigned{s.deleted[k]});
        for (const Finding& p : s.problems)
            std::fprintf(out, "problem\t%s\t%s\n", p.code.c_str(), p.text.c_str());
        return;
    }
    if (s.recognised) {
        std::fprintf(out, "card: recognised as %s (%u MB, %d slots)\n", kind.c_str(),
                     unsigned{g.FlashSizeMb()}, s.capacity);
        std::fprintf(out, "photos: %d of %d slots\n", s.count, s.capacity);
        std::fprintf(out, "free-slot hints: %s\n",
                     s.hints.empty() ? "none" : SlotList(s.hints).c_str());
    } else {
        std::fprintf(out,
                     "card: not recognised; its slots read as on a %s card (%u MB, %d slots)\n",
                     kind.c_str(), unsigned{g.FlashSizeMb()}, s.capacity);
    }
    std::fprintf(out, "slots holding picture data: %zu\n", s.data_slots.size());
    if (!s.deleted.empty() && s.directory_damaged) {
        std::fprintf(out, "photos the directory does not list: %zu (%s)\n", s.deleted.size(),
                     SlotList(s.deleted).c_str());
    } else if (!s.deleted.empty()) {
        std::fprintf(out,
                     "deleted photos still on the card: %zu (%s); see 'quorbit-cli recover list'\n",
                     s.deleted.size(), SlotList(s.deleted).c_str());
    }
    for (const Finding& p : s.problems)
        std::fprintf(out, "problem: %s\n", p.text.c_str());
    if (s.problems.empty()) {
        std::fprintf(out, "result: no problems\n");
    } else {
        std::fprintf(
            out,
            "result: %zu %s; 'quorbit-cli repair' lists every slot holding picture data again\n",
            s.problems.size(), s.problems.size() == 1 ? "problem" : "problems");
    }
}

// Erased rows at the end of a slot that make its photo one that was not
// written whole: more than a white strip a real picture might end in.
constexpr size_t kIncompleteRows = 16;

// The library's bitmap of a raw photo and the picture in it.
struct SlotPhoto {
    std::vector<uint8_t> bitmap;
    picture::Picture image;
};

std::optional<SlotPhoto> ReadDeletedPhoto(const CommandContext& ctx, DoctorCard& card, size_t k,
                                          uint16_t slot) {
    std::optional<std::vector<uint8_t>> raw;
    WithProgress(
        ctx, "reading deleted photo " + std::to_string(k) + " (slot " + std::to_string(slot) + ")",
        [&] {
            raw = card.ReadSlotPhoto(slot);
            return raw ? 1 : 0;
        });
    if (!raw) {
        Say(ctx, "reading slot %u from the card failed", unsigned{slot});
        return std::nullopt;
    }
    // A slot whose first page holds data but whose end reads erased holds a
    // photo whose upload was cut off: it is saved as it is, and said so.
    const auto end = raw->begin() + quorbit::kPhotoSlotBytes;
    const auto last_data = std::find_if(std::make_reverse_iterator(end), raw->rend(),
                                        [](uint8_t b) { return b != 0xFF; });
    const size_t erased_rows =
        static_cast<size_t>(last_data - std::make_reverse_iterator(end)) / quorbit::kRawRowBytes;
    if (erased_rows >= kIncompleteRows) {
        Say(ctx,
            "slot %u: its last %zu rows are erased: the photo there was not written whole "
            "(an upload cut off?); it is saved as it is, the erased rows white",
            unsigned{slot}, erased_rows);
    }
    SlotPhoto photo;
    photo.bitmap = quorbit::EncodeBitmap(*raw);
    std::string error;
    std::optional<picture::Picture> image = picture::DecodeBmp(photo.bitmap, &error);
    if (!image) {
        Say(ctx, "slot %u: %s", unsigned{slot}, error.c_str());
        return std::nullopt;
    }
    photo.image = std::move(*image);
    return photo;
}

bool SavePhoto(const CommandContext& ctx, const SlotPhoto& photo, PictureFormat format,
               PendingFile& file) {
    return SavePhotoAs(ctx, format, photo.bitmap, photo.image, file);
}

// Deleted photo K (from 1) of the survey, or says there is none.
std::optional<uint16_t> DeletedSlot(const CommandContext& ctx, const CardSurvey& s, int k) {
    if (k >= 1 && static_cast<size_t>(k) <= s.deleted.size())
        return s.deleted[static_cast<size_t>(k) - 1];
    if (s.deleted.empty())
        Say(ctx, "there is no deleted photo %d: no deleted photo is left on the card", k);
    else
        Say(ctx, "there is no deleted photo %d: 'quorbit-cli recover list' shows %zu", k,
            s.deleted.size());
    return std::nullopt;
}

int RecoverList(const CommandContext& ctx, const CardSurvey& s) {
    if (!ctx.options.parsable)
        std::fprintf(ctx.io.out, "%-4s  %s\n", "K", "slot");
    for (size_t k = 0; k < s.deleted.size(); ++k) {
        std::fprintf(ctx.io.out, ctx.options.parsable ? "%zu\t%u\n" : "%-4zu  %u\n", k + 1,
                     unsigned{s.deleted[k]});
    }
    if (s.deleted.empty())
        Tell(ctx, "no deleted photo is left on the card");
    return kExitOk;
}

int RecoverGet(const CommandContext& ctx, DoctorCard& card, const CardSurvey& s) {
    const std::optional<uint16_t> slot = DeletedSlot(ctx, s, ctx.options.number);
    if (!slot)
        return kExitFailed;
    const std::unique_ptr<PendingFile> file = ReserveTarget(ctx, ctx.options.args.at(2));
    if (!file)
        return kExitFailed;
    const auto photo = ReadDeletedPhoto(ctx, card, static_cast<size_t>(ctx.options.number), *slot);
    if (!photo || !SavePhoto(ctx, *photo, RecoverOutputFormat(ctx.options), *file))
        return kExitFailed;
    Tell(ctx, "deleted photo %d (slot %u) saved to %s", ctx.options.number, unsigned{*slot},
         file->final_path().c_str());
    return kExitOk;
}

int RecoverGetAll(const CommandContext& ctx, DoctorCard& card, const CardSurvey& s) {
    const std::string& dir = ctx.options.args.at(1);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        Say(ctx, "cannot create %s: %s", dir.c_str(), ec.message().c_str());
        return kExitFailed;
    }
    const PictureFormat format = RecoverOutputFormat(ctx.options);
    int saved = 0, present = 0, failed = 0;
    for (size_t k = 1; k <= s.deleted.size(); ++k) {
        const uint16_t slot = s.deleted[k - 1];
        char name[64];
        std::snprintf(name, sizeof name, "recovered-slot-%03u.%s", unsigned{slot},
                      FormatExtension(format));
        const std::string path = (fs::path(dir) / name).string();
        const Target existing = TargetKind(path);
        if (existing == Target::kOther) {
            Say(ctx, "deleted photo %zu not saved: %s", k, NotARegularFile(path).c_str());
            ++failed;
            continue;
        }
        if (existing == Target::kRegularFile && !ctx.options.force) {
            ++present;
            continue;
        }
        PendingFile file(path);
        if (!file.ok()) {
            Say(ctx, "%s", file.error().c_str());
            failed += static_cast<int>(s.deleted.size() - k + 1);
            break;
        }
        const auto photo = ReadDeletedPhoto(ctx, card, k, slot);
        if (!photo || !SavePhoto(ctx, *photo, format, file)) {
            ++failed;
            continue;
        }
        std::fprintf(ctx.io.out, "%s\n", path.c_str());
        std::fflush(ctx.io.out);
        ++saved;
    }
    if (failed > 0) {
        Say(ctx, "saved %d of %zu deleted photos to %s (%d already there, %d not saved)", saved,
            s.deleted.size(), dir.c_str(), present, failed);
        return kExitFailed;
    }
    Tell(ctx, "saved %d deleted %s to %s (%d already there)", saved,
         saved == 1 ? "photo" : "photos", dir.c_str(), present);
    return kExitOk;
}

int RecoverRestore(const CommandContext& ctx, DoctorCard& card, const CardSurvey& s) {
    const std::optional<uint16_t> slot = DeletedSlot(ctx, s, ctx.options.number);
    if (!slot)
        return kExitFailed;
    if (s.directory_damaged) {
        Say(ctx,
            "the card's directory is damaged ('quorbit-cli check' tells how): "
            "'quorbit-cli repair' lists every photo again; nothing was changed");
        return kExitFailed;
    }
    const quorbit::FlashGeometry& g = card.geometry();
    if (s.count + 1 >= std::min(DirectoryRoom(g), s.capacity + 1)) {
        Say(ctx, "the card's directory is full; nothing was changed");
        return kExitFailed;
    }
    const std::string question = "List deleted photo " + std::to_string(ctx.options.number) +
                                 " (slot " + std::to_string(*slot) +
                                 ") on the card again, as photo " + std::to_string(s.count + 1) +
                                 "?";
    if (!Confirm(ctx, question)) {
        Say(ctx, "nothing was changed");
        return kExitFailed;
    }
    if (!card.StoreSystemBlock(WithRestoredPhoto(g, card.system_block(), *slot))) {
        Say(ctx,
            "writing the card's directory failed; it may be cut off: 'quorbit-cli check' "
            "tells, 'quorbit-cli repair' lists every photo again. Nothing in the photo "
            "slots was touched");
        return kExitFailed;
    }
    if (!card.Verify(s.count + 1)) {
        Say(ctx, "the card's directory does not read back as written: run 'quorbit-cli check'");
        return kExitFailed;
    }
    Tell(ctx, "deleted photo %d (slot %u) is on the card again as photo %d", ctx.options.number,
         unsigned{*slot}, s.count + 1);
    return kExitOk;
}

// The backup that repair writes first, in the current folder, under a name
// no file has yet.
std::unique_ptr<PendingFile> ReserveBackup(const CommandContext& ctx, int size_mb) {
    std::tm local{};
    localtime_r(&ctx.now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = "quorbit-backup-" + std::to_string(size_mb) + "MB-" + stamp;
    for (int n = 1; n < 100; ++n) {
        const std::string name = base + (n == 1 ? "" : "-" + std::to_string(n)) + ".img";
        if (TargetKind(name) != Target::kFree)
            continue;
        auto file = std::make_unique<PendingFile>(name);
        if (!file->ok()) {
            Say(ctx, "cannot write a backup in the current folder: %s; nothing was changed",
                file->error().c_str());
            return nullptr;
        }
        return file;
    }
    Say(ctx, "no free name for the backup in the current folder; nothing was changed");
    return nullptr;
}

// Backs the card up whole; false (said) when the backup is not complete.
bool BackUp(const CommandContext& ctx, DoctorCard& card, PendingFile& file) {
    const int size_mb = card.geometry().FlashSizeMb();
    const uint64_t bytes = static_cast<uint64_t>(size_mb) << 20;
    if (std::string room = file.RoomFor(bytes); !room.empty()) {
        Say(ctx, "%s; nothing was changed", room.c_str());
        return false;
    }
    const int ok = WithProgress(ctx, "backing up the card",
                                [&] { return quorbit::ReadAll(card.session(), file.temp_path()); });
    struct stat st {};
    const bool whole = ok == 1 && ::stat(file.temp_path().c_str(), &st) == 0 &&
                       static_cast<uint64_t>(st.st_size) == bytes;
    if (!whole) {
        const std::string room = file.RoomFor(bytes);
        Say(ctx, "the backup could not be written whole (%s); nothing was changed",
            room.empty() ? "reading the card failed" : room.c_str());
        return false;
    }
    if (!file.Commit(false)) {
        Say(ctx, "%s; nothing was changed", file.error().c_str());
        return false;
    }
    return true;
}

}  // namespace

int CheckCard(const CommandContext& ctx) {
    DoctorCard card;
    if (int rc = OpenCard(ctx, card))
        return rc;
    if (!card.recognised() && !AssumeGeometry(ctx, card)) {
        const char* why =
            "the card is not recognised; 'quorbit-cli check --size MB' looks at its slots, "
            "'quorbit-cli repair --size MB' lists its photos again";
        if (ctx.options.parsable) {
            std::fprintf(ctx.io.out, "card\t-\tnot-recognised\nproblem\tnot-recognised\t%s\n", why);
        } else {
            std::fprintf(ctx.io.out, "card: not recognised\nproblem: %s\n", why);
        }
        return kExitFailed;
    }
    const CardSurvey survey = SurveyWithProgress(ctx, card);
    PrintSurvey(ctx, card, survey);
    return survey.problems.empty() ? kExitOk : kExitFailed;
}

int Recover(const CommandContext& ctx) {
    DoctorCard card;
    if (int rc = OpenCard(ctx, card))
        return rc;
    if (!card.recognised()) {
        Say(ctx,
            "card not recognised: 'quorbit-cli check' tells more; 'quorbit-cli repair "
            "--size MB' lists the photos on it again");
        return kExitNotRecognised;
    }
    const CardSurvey survey = SurveyWithProgress(ctx, card);
    const std::string& what = ctx.options.args.at(0);
    if (what == "list")
        return RecoverList(ctx, survey);
    if (what == "get")
        return RecoverGet(ctx, card, survey);
    if (what == "get-all")
        return RecoverGetAll(ctx, card, survey);
    return RecoverRestore(ctx, card, survey);
}

int RepairCard(const CommandContext& ctx) {
    DoctorCard card;
    if (int rc = OpenCard(ctx, card))
        return rc;
    const int asked = ctx.options.size_mb;
    if (card.recognised()) {
        if (asked != 0 && asked != card.geometry().FlashSizeMb()) {
            Say(ctx, "the card is a %u MB card, not %d MB; nothing was changed",
                unsigned{card.geometry().FlashSizeMb()}, asked);
            return kExitFailed;
        }
    } else {
        if (ctx.image != nullptr && ctx.image->kind_guessed() &&
            KindOf(ctx.image->variant()) == quorbit::GeometryKind::k16MbLe) {
            Say(ctx,
                "this 16 MB image is not recognised, and 16 MB cards come in two forms: "
                "say which with --geometry 16MbLe or --geometry 16Mb");
            return kExitUsage;
        }
        if (!AssumeGeometry(ctx, card)) {
            Say(ctx,
                "card not recognised: give its size, 'quorbit-cli repair --size "
                "8|16|32|64|128'");
            return kExitNotRecognised;
        }
        if (asked != 0 && asked != card.geometry().FlashSizeMb()) {
            Say(ctx, "the image holds a %u MB card, not %d MB; nothing was changed",
                unsigned{card.geometry().FlashSizeMb()}, asked);
            return kExitFailed;
        }
    }
    const CardSurvey survey = SurveyWithProgress(ctx, card);
    for (const Finding& p : survey.problems) {
        if (p.code == "unreadable-slot") {
            Say(ctx, "%s: a repair needs every slot read; nothing was changed", p.text.c_str());
            return kExitFailed;
        }
    }
    if (survey.problems.empty()) {
        if (survey.deleted.empty()) {
            Say(ctx, "nothing to repair: the card is recognised and its directory is whole");
        } else {
            Say(ctx,
                "nothing to repair: the card is recognised and its directory is whole; "
                "%zu deleted photos are still on it ('quorbit-cli recover list')",
                survey.deleted.size());
        }
        return kExitFailed;
    }
    if (survey.data_slots.empty()) {
        Say(ctx,
            "no slot holds picture data: there is no photo to list again ('quorbit-cli "
            "format' gives the card an empty directory); nothing was changed");
        return kExitFailed;
    }
    const quorbit::FlashGeometry& g = card.geometry();
    const unsigned size_mb = g.FlashSizeMb();  // the geometry goes when the check fails
    const size_t n = survey.data_slots.size();
    const std::string question = "Rebuild the directory of the " + std::to_string(g.FlashSizeMb()) +
                                 " MB card, listing the " + std::to_string(n) +
                                 (n == 1 ? " photo" : " photos") +
                                 " found in its slots? A backup image is written first.";
    if (!Confirm(ctx, question)) {
        Say(ctx, "repair cancelled; nothing was changed");
        return kExitFailed;
    }
    const std::unique_ptr<PendingFile> backup = ReserveBackup(ctx, g.FlashSizeMb());
    if (!backup || !BackUp(ctx, card, *backup))
        return kExitFailed;
    Tell(ctx, "the card as it was is backed up to %s", backup->final_path().c_str());
    const int count = static_cast<int>(n);
    if (!card.Rebuild(survey)) {
        Say(ctx,
            "the repair was cut short: the card's directory may be erased. Nothing in the "
            "photo slots was touched, and %s holds the card as it was. Connect the camera "
            "again and run 'quorbit-cli repair --size %u' once more",
            backup->final_path().c_str(), size_mb);
        return kExitFailed;
    }
    Tell(ctx, "the card lists %d %s again (%s); 'quorbit-cli list' shows them", count,
         count == 1 ? "photo" : "photos", SlotList(survey.data_slots).c_str());
    return kExitOk;
}

}  // namespace cli
