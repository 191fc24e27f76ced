// put: a picture of the user's (PNG, JPEG or a bitmap of any depth and
// size) made into the library's 24-bit 322 x 242 bitmap and stored.
#include <filesystem>
#include <system_error>

#include "picture/codecs.h"
#include "picture/fit_photo.h"
#include "tools/cli/command_support.h"
#include "tools/cli/input_file.h"
#include "tools/cli/output_file.h"
#include "tools/cli/photo_commands.h"

namespace cli {
namespace {

// The photo to store, or nothing (the reason said). Needs no camera.
std::optional<picture::Picture> PhotoFromFile(const CommandContext& ctx, const std::string& path) {
    std::string error;
    const auto bytes = ReadBoundedFile(path, picture::kMaxPictureFileBytes, &error);
    if (!bytes) {
        Say(ctx, "%s", error.c_str());
        return std::nullopt;
    }
    // A damaged file would put a half-grey photo on the card; --force takes
    // it as far as it decodes.
    picture::DecodeOptions decoding;
    decoding.lenient = ctx.options.force;
    const auto decoded = picture::Decode(*bytes, &error, decoding);
    if (!decoded) {
        // Whether --force would help: the file decodes when damage is allowed.
        std::string ignored;
        decoding.lenient = true;
        const bool forcible = !ctx.options.force && picture::Decode(*bytes, &ignored, decoding);
        Say(ctx, "%s: %s%s", path.c_str(), error.c_str(),
            forcible ? "; nothing was stored (--force stores what of it can be decoded)" : "");
        return std::nullopt;
    }
    const bool photo_size =
        decoded->width == picture::kPhotoWidth && decoded->height == picture::kPhotoHeight;
    if (!photo_size && ctx.options.no_scale) {
        Say(ctx, "%s is %d x %d; photos are 322 x 242 (leave out --no-scale to scale it)",
            path.c_str(), decoded->width, decoded->height);
        return std::nullopt;
    }
    if (!photo_size) {
        Tell(ctx, "%s is %d x %d: scaled to fit 322 x 242", path.c_str(), decoded->width,
             decoded->height);
    }
    return picture::FitToPhoto(*decoded);
}

}  // namespace

int PutPicture(const CommandContext& ctx) {
    const std::string& path = ctx.options.args.at(0);
    const auto photo = PhotoFromFile(ctx, path);
    if (!photo)
        return kExitFailed;
    // The library reads its own kind of bitmap from a file: this one.
    PendingFile bitmap(TemporaryFolder() + "/upload.bmp");
    if (!bitmap.ok() || !bitmap.Write(picture::EncodeBmp(*photo))) {
        Say(ctx, "%s", bitmap.error().c_str());
        return kExitFailed;
    }
    DeviceSession session(ctx);
    if (int rc = RequireCard(ctx, session))
        return rc;
    const long count = ctx.api.GetPhotoCount();
    const long slots = ctx.api.GetPhotoTotalSize();
    if (count >= slots) {
        Say(ctx, "the card is full (%ld of %ld photos)", count, slots);
        return kExitFailed;
    }
    const int ok = WithProgress(ctx, "writing photo " + std::to_string(count + 1), [&] {
        return ctx.api.WriteFileToFlash(bitmap.temp_path().c_str());
    });
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
    Tell(ctx, "%s stored as photo %ld", path.c_str(), now);
    return kExitOk;
}

}  // namespace cli
