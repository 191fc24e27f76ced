#include "tools/cli/commands.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "tools/bmp24.h"
#include "tools/cli/options.h"
#include "tools/cli/output_file.h"
#include "tools/cli/text.h"

namespace cli {
namespace {

constexpr long kPhotoBitmapBytes = 234310;
constexpr int kStringCount = 14;
constexpr int kStatusTextId = 2;

template <typename... A>
void Say(const CommandContext& ctx, const char* format, A... args) {
    std::fprintf(ctx.io.err, "quorbit-cli: ");
    if constexpr (sizeof...(A) == 0) {
        std::fputs(format, ctx.io.err);
    } else {
        std::fprintf(ctx.io.err, format, args...);
    }
    std::fputc('\n', ctx.io.err);
}

std::string Photos(long n) {
    return std::to_string(n) + (n == 1 ? " photo" : " photos");
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// Opens the device for the lifetime of a command and closes it afterwards.
class DeviceSession {
  public:
    explicit DeviceSession(const CommandContext& ctx) : ctx_(ctx) {
        opened_ = ctx.api.OpenDevice() == 1;
    }
    ~DeviceSession() { ctx_.api.CloseDevice(); }
    bool opened() const { return opened_; }

  private:
    const CommandContext& ctx_;
    bool opened_ = false;
};

// Runs a library operation with its progress bar labelled.
template <typename F>
int WithProgress(const CommandContext& ctx, const std::string& label, F&& operation) {
    if (ctx.progress)
        ctx.progress->SetLabel(label);
    const int result = operation();
    if (ctx.progress)
        ctx.progress->Finish();
    return result;
}

// 0 when the session is open and the card recognised, else the exit status.
int RequireCard(const CommandContext& ctx, const DeviceSession& session) {
    if (!session.opened()) {
        Say(ctx, "no camera found");
        return kExitNoCamera;
    }
    if (ctx.api.GetFlashSize() == 0) {
        Say(ctx, "card not recognised");
        return kExitNotRecognised;
    }
    return kExitOk;
}

// A photo number as the user gives it (1-based), checked against the card.
std::optional<int> PhotoNumber(const CommandContext& ctx, const std::string& text) {
    const auto n = ParsePositive(text);
    if (!n) {
        if (text == "0") {
            Say(ctx, "photo numbers start at 1");
        } else {
            Say(ctx, "not a photo number: %s", text.c_str());
        }
        return std::nullopt;
    }
    const long count = ctx.api.GetPhotoCount();
    if (*n > count) {
        Say(ctx, "photo index %d out of range (card holds %s)", *n, Photos(count).c_str());
        return std::nullopt;
    }
    return n;
}

// Reads photo `number` into `path`. Leaves nothing under `path` on failure.
bool SavePhoto(const CommandContext& ctx, int number, const std::string& path,
               const std::string& label) {
    PendingFile file(path);
    if (!file.ok()) {
        Say(ctx, "cannot create %s", file.error().c_str());
        return false;
    }
    const int ok = WithProgress(
        ctx, label, [&] { return ctx.api.ReadPhotoToFile(number - 1, file.temp_path().c_str()); });
    if (ok != 1) {
        Say(ctx, "reading photo %d failed", number);
        return false;
    }
    const long size = FileSize(file.temp_path());
    if (size != kPhotoBitmapBytes) {
        Say(ctx, "reading photo %d reported success but wrote %ld bytes instead of %ld", number,
            size, kPhotoBitmapBytes);
        return false;
    }
    if (!file.Commit(ctx.force)) {
        Say(ctx, "%s", file.error().c_str());
        return false;
    }
    return true;
}

int Info(const CommandContext& ctx) {
    DeviceSession session(ctx);
    if (!session.opened()) {
        std::fprintf(ctx.io.out, "connected: no\n");
        Say(ctx, "no camera found");
        return kExitNoCamera;
    }
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

int Get(const CommandContext& ctx, const std::string& number_text, const std::string& path) {
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    const auto number = PhotoNumber(ctx, number_text);
    if (!number)
        return kExitFailed;
    if (!ctx.force && Exists(path)) {
        Say(ctx, "%s already exists (use --force to overwrite it)", path.c_str());
        return kExitFailed;
    }
    if (!SavePhoto(ctx, *number, path, "reading photo " + std::to_string(*number)))
        return kExitFailed;
    Say(ctx, "photo %d saved to %s", *number, path.c_str());
    return kExitOk;
}

int GetAll(const CommandContext& ctx, const std::string& dir) {
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        Say(ctx, "cannot create %s: %s", dir.c_str(), ec.message().c_str());
        return kExitFailed;
    }
    const int count = ctx.api.GetPhotoCount();
    if (count == 0) {
        Say(ctx, "the card holds no photos");
        return kExitOk;
    }
    int saved = 0;
    for (int number = 1; number <= count; ++number) {
        const std::string path = (std::filesystem::path(dir) / PhotoFileName(number)).string();
        if (!ctx.force && Exists(path)) {
            Say(ctx, "%s already exists, photo %d not saved (use --force to overwrite)",
                path.c_str(), number);
            continue;
        }
        const std::string label =
            "reading photo " + std::to_string(number) + " of " + std::to_string(count);
        if (!SavePhoto(ctx, number, path, label))
            continue;
        std::fprintf(ctx.io.out, "%s\n", path.c_str());
        std::fflush(ctx.io.out);
        ++saved;
    }
    Say(ctx, "saved %d of %s to %s", saved, Photos(count).c_str(), dir.c_str());
    return saved == count ? kExitOk : kExitFailed;
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

// The upload's own checks are the library's; this one gives the user a clear
// reason before the camera is even opened.
bool CheckUploadFile(const CommandContext& ctx, const std::string& path) {
    std::string error;
    const auto bytes = tools::ReadWholeFile(path, &error);
    if (!bytes) {
        Say(ctx, "cannot read %s", error.c_str());
        return false;
    }
    const auto info = tools::ParseBmpHeaders(*bytes, &error);
    if (!info) {
        Say(ctx, "%s: %s", path.c_str(), error.c_str());
        return false;
    }
    if (info->width != tools::kPhotoWidth || info->height != tools::kPhotoHeight ||
        info->bits_per_pixel != 24 || info->compression != 0) {
        Say(ctx, "%s is a %d x %d bitmap of %d bits per pixel%s; photos are 322 x 242 at 24 bits",
            path.c_str(), info->width, info->height, info->bits_per_pixel,
            info->compression ? ", compressed" : "");
        return false;
    }
    if (!tools::DecodeBmp24(*bytes, &error)) {
        Say(ctx, "%s: %s", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

int Put(const CommandContext& ctx, const std::string& path) {
    if (!CheckUploadFile(ctx, path))
        return kExitFailed;
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    const long count = ctx.api.GetPhotoCount();
    const long slots = ctx.api.GetPhotoTotalSize();
    if (count >= slots) {
        Say(ctx, "the card is full (%ld of %ld photos)", count, slots);
        return kExitFailed;
    }
    const int ok = WithProgress(ctx, "writing photo " + std::to_string(count + 1),
                                [&] { return ctx.api.WriteFileToFlash(path.c_str()); });
    if (ok != 1) {
        Say(ctx, "storing %s on the card failed", path.c_str());
        return kExitFailed;
    }
    const long now = ctx.api.GetPhotoCount();
    if (now != count + 1) {
        Say(ctx, "the upload reported success, but the card holds %s (it held %ld)",
            Photos(now).c_str(), count);
        return kExitFailed;
    }
    Say(ctx, "%s stored as photo %ld", path.c_str(), now);
    return kExitOk;
}

int Delete(const CommandContext& ctx, const std::string& number_text) {
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    const auto number = PhotoNumber(ctx, number_text);
    if (!number)
        return kExitFailed;
    const long count = ctx.api.GetPhotoCount();
    if (ctx.api.DeletePhoto(*number - 1) != 1) {
        Say(ctx, "deleting photo %d failed", *number);
        return kExitFailed;
    }
    const long now = ctx.api.GetPhotoCount();
    if (now != count - 1) {
        Say(ctx, "the deletion reported success, but the card holds %s (it held %ld)",
            Photos(now).c_str(), count);
        return kExitFailed;
    }
    if (*number <= now) {
        Say(ctx, "photo %d deleted; the card holds %s, the later ones moved up one number", *number,
            Photos(now).c_str());
    } else {
        Say(ctx, "photo %d deleted; the card holds %s", *number, Photos(now).c_str());
    }
    return kExitOk;
}

int Backup(const CommandContext& ctx, const std::string& path) {
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    if (!ctx.force && Exists(path)) {
        Say(ctx, "%s already exists (use --force to overwrite it)", path.c_str());
        return kExitFailed;
    }
    const long megabytes = ctx.api.GetFlashSize();
    PendingFile file(path);
    if (!file.ok()) {
        Say(ctx, "cannot create %s", file.error().c_str());
        return kExitFailed;
    }
    const int ok = WithProgress(ctx, "backing up the card",
                                [&] { return ctx.api.ReadAll(file.temp_path().c_str()); });
    if (ok != 1) {
        Say(ctx, "the backup failed");
        return kExitFailed;
    }
    const long size = FileSize(file.temp_path());
    if (size != megabytes * 1024 * 1024) {
        Say(ctx, "the backup reported success but holds %ld bytes of the card's %ld MB", size,
            megabytes);
        return kExitFailed;
    }
    if (!file.Commit(ctx.force)) {
        Say(ctx, "%s", file.error().c_str());
        return kExitFailed;
    }
    Say(ctx, "the %ld MB card was backed up to %s", megabytes, path.c_str());
    return kExitOk;
}

bool Confirm(const CommandContext& ctx, const std::string& question) {
    if (ctx.yes)
        return true;
    if (!ctx.io.interactive) {
        Say(ctx, "format needs confirmation: add --yes");
        return false;
    }
    std::fprintf(ctx.io.err, "%s [y/N] ", question.c_str());
    std::fflush(ctx.io.err);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, ctx.io.in))
        return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

int Format(const CommandContext& ctx, const std::vector<std::string>& args) {
    int size = 0;
    if (!args.empty()) {
        const auto n = ParsePositive(args[0]);
        if (!n || !IsCardSize(*n)) {
            Say(ctx, "SIZE must be 8, 16, 32, 64 or 128 (MB), not %s", args[0].c_str());
            return kExitUsage;
        }
        size = *n;
    }
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
    Say(ctx, "the card is formatted: %d MB, %d photo slots", now, ctx.api.GetPhotoTotalSize());
    return kExitOk;
}

}  // namespace

int RunCommand(const CommandContext& ctx, const std::string& command,
               const std::vector<std::string>& args) {
    if (command == "info")
        return Info(ctx);
    if (command == "get")
        return Get(ctx, args.at(0), args.at(1));
    if (command == "get-all")
        return GetAll(ctx, args.at(0));
    if (command == "strings")
        return Strings(ctx);
    if (command == "put")
        return Put(ctx, args.at(0));
    if (command == "delete")
        return Delete(ctx, args.at(0));
    if (command == "backup")
        return Backup(ctx, args.at(0));
    if (command == "format")
        return Format(ctx, args);
    Say(ctx, "unknown command %s", command.c_str());
    return kExitUsage;
}

}  // namespace cli
