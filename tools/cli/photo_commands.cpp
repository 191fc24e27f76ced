#include "tools/cli/photo_commands.h"

#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

#include "picture/codecs.h"
#include "tools/cli/command_support.h"
#include "tools/cli/output_file.h"
#include "tools/cli/photo_names.h"
#include "tools/cli/saved_index.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// A photo read through the library, or why not. A failure of the camera
// concerns one photo; a failure of the destination (full disk, no rights)
// ends a download of many.
struct PhotoRead {
    enum Outcome { kOk, kCameraFailed, kDestinationFailed } outcome = kCameraFailed;
    std::vector<uint8_t> bitmap;  // the library's file, byte for byte
    picture::Picture image;
};

// Has the library write photo `number` into `file`'s temporary file and
// reads it back. Says what went wrong.
PhotoRead ReadPhoto(const CommandContext& ctx, int number, PendingFile& file,
                    const std::string& label) {
    PhotoRead read;
    if (std::string room = file.RoomFor(kPhotoBitmapBytes); !room.empty()) {
        Say(ctx, "%s", room.c_str());
        read.outcome = PhotoRead::kDestinationFailed;
        return read;
    }
    const int ok = WithProgress(
        ctx, label, [&] { return ctx.api.ReadPhotoToFile(number - 1, file.temp_path().c_str()); });
    if (ok != 1) {
        // The library does not tell a full disk from a failed read; the disk
        // can be asked.
        if (std::string room = file.RoomFor(kPhotoBitmapBytes); !room.empty()) {
            Say(ctx, "photo %d not saved: %s", number, room.c_str());
            read.outcome = PhotoRead::kDestinationFailed;
        } else {
            Say(ctx, "reading photo %d from the camera failed", number);
        }
        return read;
    }
    auto bytes = file.Contents(kPhotoBitmapBytes);
    std::string error;
    std::optional<picture::Picture> image;
    if (bytes && bytes->size() == kPhotoBitmapBytes)
        image = picture::DecodeBmp(*bytes, &error);
    if (!image || image->width != picture::kPhotoWidth || image->height != picture::kPhotoHeight) {
        Say(ctx, "reading photo %d reported success but wrote no photo bitmap (%zu bytes)", number,
            bytes ? bytes->size() : size_t{0});
        return read;
    }
    read.outcome = PhotoRead::kOk;
    read.bitmap = std::move(*bytes);
    read.image = std::move(*image);
    return read;
}

// Writes the photo in the command's format through `file` and commits it.
bool SaveAs(const CommandContext& ctx, const PhotoRead& read, PendingFile& file) {
    return SavePhotoAs(ctx, OutputFormat(ctx.options), read.bitmap, read.image, file);
}

// A photo's id (with further copies of one picture told apart) and the name
// the pattern gives it.
struct PhotoName {
    std::string id;
    std::string name;
};

// The names photos of this card get.
class Namer {
  public:
    explicit Namer(const CommandContext& ctx) : ctx_(ctx), pattern_(NamePattern(ctx.options)) {
        localtime_r(&ctx.now, &time_);
    }
    PhotoName Name(int number, const picture::Picture& photo) {
        PhotoNameFields fields;
        fields.number = number;
        fields.id = PhotoId(photo);
        if (const int copy = ++copies_[fields.id]; copy > 1)
            fields.id += "-" + std::to_string(copy);
        fields.extension = FormatExtension(OutputFormat(ctx_.options));
        fields.time = time_;
        return {fields.id, ExpandNamePattern(pattern_, fields)};
    }
    // Whether the names carry the photo's id: then a file of that name holds
    // that photo.
    bool NamesCarryTheId() const { return pattern_.find("%i") != std::string::npos; }

  private:
    const CommandContext& ctx_;
    std::string pattern_;
    std::tm time_{};
    std::map<std::string, int> copies_;
};

// The nearest folder that exists on the way to `dir`: where get-all's
// scratch file goes before DIR is made.
std::string ExistingFolder(const std::string& dir) {
    std::error_code ec;
    fs::path p = dir;
    while (!p.empty() && !fs::exists(p, ec))
        p = p.parent_path();
    return p.empty() ? "." : p.string();
}

}  // namespace

int ListPhotos(const CommandContext& ctx) {
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    const int count = ctx.api.GetPhotoCount();
    PendingFile scratch(TemporaryFolder() + "/photo.bmp");
    if (!scratch.ok()) {
        Say(ctx, "%s", scratch.error().c_str());
        return kExitFailed;
    }
    if (!ctx.options.parsable)
        std::fprintf(ctx.io.out, "%-4s  %-12s  %s\n", "No.", "id", "file name");
    Namer namer(ctx);
    int failed = 0;
    for (int number = 1; number <= count; ++number) {
        const std::string label =
            "reading photo " + std::to_string(number) + " of " + std::to_string(count);
        const PhotoRead read = ReadPhoto(ctx, number, scratch, label);
        if (read.outcome == PhotoRead::kDestinationFailed)
            return kExitFailed;
        if (read.outcome != PhotoRead::kOk) {
            ++failed;
            continue;
        }
        const std::string name = namer.Name(number, read.image).name;
        std::fprintf(ctx.io.out, ctx.options.parsable ? "%d\t%s\t%s\n" : "%-4d  %-12s  %s\n",
                     number, PhotoId(read.image).c_str(), name.c_str());
        std::fflush(ctx.io.out);
    }
    if (count == 0)
        Tell(ctx, "the card holds no photos");
    return failed == 0 ? kExitOk : kExitFailed;
}

int GetPhoto(const CommandContext& ctx) {
    const int number = ctx.options.number;
    const std::unique_ptr<PendingFile> target = ReserveTarget(ctx, ctx.options.args.at(1));
    if (!target)
        return kExitFailed;
    PendingFile& file = *target;
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    if (!PhotoOnCard(ctx, number))
        return kExitFailed;
    const PhotoRead read = ReadPhoto(ctx, number, file, "reading photo " + std::to_string(number));
    if (read.outcome != PhotoRead::kOk || !SaveAs(ctx, read, file))
        return kExitFailed;
    Tell(ctx, "photo %d saved to %s", number, file.final_path().c_str());
    return kExitOk;
}

int GetAllPhotos(const CommandContext& ctx) {
    const std::string& dir = ctx.options.args.at(0);
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
        Say(ctx, "%s is not a folder", dir.c_str());
        return kExitFailed;
    }
    if (fs::is_symlink(fs::symlink_status(dir, ec)) && !fs::exists(dir, ec)) {
        Say(ctx, "%s", NotARegularFile(dir).c_str());
        return kExitFailed;
    }
    std::string error;
    SavedIndex index;
    if (!index.Load(dir, &error)) {
        Say(ctx, "%s", error.c_str());
        return kExitFailed;
    }
    // DIR itself is made only when a photo is to be saved in it.
    PendingFile scratch((fs::path(ExistingFolder(dir)) / "photo.bmp").string());
    if (!scratch.ok()) {
        Say(ctx, "%s", scratch.error().c_str());
        return kExitFailed;
    }
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    const int count = ctx.api.GetPhotoCount();
    if (count == 0) {
        Tell(ctx, "the card holds no photos");
        return kExitOk;
    }
    Namer namer(ctx);
    std::map<std::string, int> named;  // names given in this run, by photo number
    int saved = 0, present = 0, failed = 0;
    bool index_written = true;
    for (int number = 1; number <= count; ++number) {
        const std::string label =
            "reading photo " + std::to_string(number) + " of " + std::to_string(count);
        const PhotoRead read = ReadPhoto(ctx, number, scratch, label);
        if (read.outcome == PhotoRead::kDestinationFailed) {
            failed += count - number + 1;
            break;
        }
        if (read.outcome != PhotoRead::kOk) {
            ++failed;
            continue;
        }
        const PhotoName photo = namer.Name(number, read.image);
        if (index.Has(photo.id) && !ctx.options.force) {
            ++present;
            continue;
        }
        const fs::path path = fs::path(dir) / photo.name;
        if (!StaysInside(photo.name) || !OverlongName(photo.name).empty()) {
            Say(ctx, "photo %d not saved: %s", number,
                StaysInside(photo.name) ? kNameTooLong : "its name leaves the folder");
            ++failed;
            continue;
        }
        if (const auto [earlier, fresh] = named.emplace(photo.name, number); !fresh) {
            Say(ctx, "photo %d not saved: photo %d got the same name, %s", number, earlier->second,
                path.c_str());
            ++failed;
            continue;
        }
        const Target existing = TargetKind(path.string());
        if (existing == Target::kOther) {
            Say(ctx, "photo %d not saved: %s", number, NotARegularFile(path.string()).c_str());
            ++failed;
            continue;
        }
        if (existing == Target::kRegularFile && !ctx.options.force) {
            // The same photo where the index says so, or the name holds its
            // id (saved before the index was kept); else another photo's file.
            const std::optional<std::string> known = index.IdOf(photo.name);
            if (known ? *known != photo.id : !namer.NamesCarryTheId()) {
                Say(ctx, "photo %d not saved: %s already exists (use --force to overwrite it)",
                    number, path.c_str());
                ++failed;
                continue;
            }
            if (!known && !index.Add(photo.id, photo.name, &error)) {
                Say(ctx, "%s", error.c_str());
                index_written = false;
            }
            ++present;
            continue;
        }
        fs::create_directories(path.parent_path(), ec);
        PendingFile file(path.string());
        if (ec || !file.ok()) {
            Say(ctx, "photo %d not saved: %s", number,
                ec ? (path.parent_path().string() + ": " + ec.message()).c_str()
                   : file.error().c_str());
            failed += count - number + 1;
            break;
        }
        if (!SaveAs(ctx, read, file)) {
            failed += count - number + 1;
            break;
        }
        std::fprintf(ctx.io.out, "%s\n", path.c_str());
        std::fflush(ctx.io.out);
        ++saved;
        if (!index.Add(photo.id, photo.name, &error)) {
            Say(ctx, "%s", error.c_str());
            index_written = false;
        }
    }
    if (failed > 0) {
        Say(ctx, "saved %d of %s to %s (%d already there, %d not saved)", saved,
            Photos(count).c_str(), dir.c_str(), present, failed);
        return kExitFailed;
    }
    if (!index_written) {
        Say(ctx, "saved %s to %s (%d already there), but a later get-all may fetch them again",
            Photos(saved).c_str(), dir.c_str(), present);
        return kExitFailed;
    }
    Tell(ctx, "saved %s to %s (%d already there)", Photos(saved).c_str(), dir.c_str(), present);
    return kExitOk;
}

}  // namespace cli
