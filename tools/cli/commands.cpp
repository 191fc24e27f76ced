// The commands about the camera and its card as a whole: info, strings,
// delete, backup and format. Photos in and out: photo_commands.cpp and
// put_command.cpp.
#include "tools/cli/commands.h"

#include <sys/stat.h>

#include "tools/cli/command_support.h"
#include "tools/cli/doctor_commands.h"
#include "tools/cli/output_file.h"
#include "tools/cli/photo_commands.h"
#include "tools/cli/text.h"

namespace cli {

namespace {

constexpr int kStringCount = 14;
constexpr int kStatusTextId = 2;

int Info(const CommandContext& ctx) {
    DeviceSession session(ctx);
    if (!session.opened()) {
        std::fprintf(ctx.io.out, "connected: no\n");
        Say(ctx, "no camera found");
        return kExitNoCamera;
    }
    // A card image is no camera: say which file was read instead.
    if (!ctx.options.image.empty())
        std::fprintf(ctx.io.out, "image: %s\n", ctx.options.image.c_str());
    else
        std::fprintf(ctx.io.out, "connected: %s\n", ctx.api.IsConnect() == 1 ? "yes" : "no");
    const unsigned size = ctx.api.GetFlashSize();
    if (size == 0) {
        std::fprintf(ctx.io.out, "card: not recognised\n");
        Say(ctx, "card not recognised");
        return kExitNotRecognised;
    }
    const long photos = ctx.api.GetPhotoCount();
    const long slots = ctx.api.GetPhotoTotalSize();
    const long free_slots = slots > photos ? slots - photos : 0;
    std::fprintf(ctx.io.out, "card size: %u MB\n", size);
    std::fprintf(ctx.io.out, "photos: %ld\n", photos);
    std::fprintf(ctx.io.out, "slots: %ld\n", slots);
    char text[256] = {};
    if (ctx.api.GetString(kStatusTextId, text) != 1) {
        Say(ctx, "the library has no status text");
        return kExitFailed;
    }
    text[sizeof text - 1] = '\0';
    std::fprintf(ctx.io.out, "status: %s\n", FillStatusTemplate(text, photos, free_slots).c_str());
    return kExitOk;
}

int Strings(const CommandContext& ctx) {
    int missing = 0;
    for (int id = 1; id <= kStringCount; ++id) {
        char text[256] = {};
        if (ctx.api.GetString(id, text) != 1) {
            Say(ctx, "the library has no text %d", id);
            ++missing;
            continue;
        }
        text[sizeof text - 1] = '\0';
        std::fprintf(ctx.io.out, "%d: %s\n", id, text);
    }
    return missing == 0 ? kExitOk : kExitFailed;
}

int Delete(const CommandContext& ctx) {
    const int number = ctx.options.number;
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    if (!PhotoOnCard(ctx, number))
        return kExitFailed;
    const long count = ctx.api.GetPhotoCount();
    if (ctx.api.DeletePhoto(number - 1) != 1) {
        Say(ctx, "deleting photo %d failed", number);
        return kExitFailed;
    }
    const long now = ctx.api.GetPhotoCount();
    if (now != count - 1) {
        Say(ctx, "the deletion reported success, but the card holds %s (it held %ld)",
            Photos(now).c_str(), count);
        return kExitFailed;
    }
    if (number <= now) {
        Tell(ctx, "photo %d deleted; the card holds %s, the later ones moved up one number", number,
             Photos(now).c_str());
    } else {
        Tell(ctx, "photo %d deleted; the card holds %s", number, Photos(now).c_str());
    }
    return kExitOk;
}

int Backup(const CommandContext& ctx) {
    const std::unique_ptr<PendingFile> target = ReserveTarget(ctx, ctx.options.args.at(0));
    if (!target)
        return kExitFailed;
    PendingFile& file = *target;
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    const long megabytes = ctx.api.GetFlashSize();
    const uint64_t bytes = static_cast<uint64_t>(megabytes) << 20;
    if (std::string room = file.RoomFor(bytes); !room.empty()) {
        Say(ctx, "%s", room.c_str());
        return kExitFailed;
    }
    const int ok = WithProgress(ctx, "backing up the card",
                                [&] { return ctx.api.ReadAll(file.temp_path().c_str()); });
    if (ok != 1) {
        // The library does not say why; a full disk is the likely other cause.
        const std::string room = file.RoomFor(bytes);
        Say(ctx, "%s", room.empty() ? "the backup failed: reading the card failed" : room.c_str());
        return kExitFailed;
    }
    struct stat st {};
    const long size = stat(file.temp_path().c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
    if (size != megabytes * 1024 * 1024) {
        Say(ctx, "the backup reported success but holds %ld bytes of the card's %ld MB", size,
            megabytes);
        return kExitFailed;
    }
    if (!file.Commit(ctx.options.force)) {
        Say(ctx, "%s", file.error().c_str());
        return kExitFailed;
    }
    Tell(ctx, "the %ld MB card was backed up to %s", megabytes, file.final_path().c_str());
    return kExitOk;
}

int Format(const CommandContext& ctx) {
    const int size = ctx.options.card_size;
    DeviceSession session(ctx);
    if (!session.opened()) {
        Say(ctx, "no camera found");
        return kExitNoCamera;
    }
    const int current = ctx.api.GetFlashSize();
    std::string question;
    if (current == 0) {
        if (size == 0) {
            Say(ctx, "card not recognised; to format it, give its size: format 8|16|32|64|128");
            return kExitNotRecognised;
        }
        question =
            "Format the card as a " + std::to_string(size) + " MB card? Whatever it holds is lost.";
    } else {
        if (size != 0 && size != current) {
            Say(ctx, "the card is a %d MB card; a format keeps its size (leave out SIZE)", current);
            return kExitFailed;
        }
        question = "Format the " + std::to_string(current) + " MB card? Its " +
                   Photos(ctx.api.GetPhotoCount()) + " will be lost.";
    }
    if (!Confirm(ctx, question)) {
        Say(ctx, "format cancelled");
        return kExitFailed;
    }
    const int ok = WithProgress(ctx, "formatting", [&] { return ctx.api.FormatFlash(size); });
    if (ok != 1) {
        Say(ctx, "the format failed");
        return kExitFailed;
    }
    const int now = ctx.api.GetFlashSize();
    if (now == 0 || ctx.api.GetPhotoCount() != 0) {
        Say(ctx, "the format reported success, but the card is not an empty recognised card");
        return kExitFailed;
    }
    Tell(ctx, "the card is formatted: %d MB, %d photo slots", now, ctx.api.GetPhotoTotalSize());
    return kExitOk;
}

}  // namespace

int RunCommand(const CommandContext& ctx) {
    const std::string& command = ctx.options.command;
    if (command == "info")
        return Info(ctx);
    if (command == "list")
        return ListPhotos(ctx);
    if (command == "get")
        return GetPhoto(ctx);
    if (command == "get-all")
        return GetAllPhotos(ctx);
    if (command == "strings")
        return Strings(ctx);
    if (command == "put")
        return PutPicture(ctx);
    if (command == "delete")
        return Delete(ctx);
    if (command == "backup")
        return Backup(ctx);
    if (command == "format")
        return Format(ctx);
    if (command == "check")
        return CheckCard(ctx);
    if (command == "recover")
        return Recover(ctx);
    if (command == "repair")
        return RepairCard(ctx);
    Say(ctx, "unknown command %s", command.c_str());
    return kExitUsage;
}

}  // namespace cli
