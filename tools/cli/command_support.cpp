#include "tools/cli/command_support.h"

#include "picture/codecs.h"
#include "tools/cli/output_file.h"

namespace cli {

std::string Photos(long n) {
    return std::to_string(n) + (n == 1 ? " photo" : " photos");
}

DeviceSession::DeviceSession(const CommandContext& ctx) : ctx_(ctx) {
    opened_ = ctx.api.OpenDevice() == 1;
}

DeviceSession::~DeviceSession() {
    ctx_.api.CloseDevice();
}

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

bool PhotoOnCard(const CommandContext& ctx, int number) {
    const long count = ctx.api.GetPhotoCount();
    if (number > count) {
        Say(ctx, "photo index %d out of range (card holds %s)", number, Photos(count).c_str());
        return false;
    }
    return true;
}

bool MayWrite(const CommandContext& ctx, const std::string& path) {
    const Target existing = TargetKind(path);
    if (existing == Target::kOther) {
        Say(ctx, "%s", NotARegularFile(path).c_str());
        return false;
    }
    if (!ctx.options.force && existing == Target::kRegularFile) {
        Say(ctx, "%s already exists (use --force to overwrite it)", path.c_str());
        return false;
    }
    return true;
}

std::unique_ptr<PendingFile> ReserveTarget(const CommandContext& ctx, const std::string& path) {
    if (!MayWrite(ctx, path))
        return nullptr;
    auto file = std::make_unique<PendingFile>(path);
    if (!file->ok()) {
        Say(ctx, "%s", file->error().c_str());
        return nullptr;
    }
    return file;
}

bool SavePhotoAs(const CommandContext& ctx, PictureFormat format,
                 const std::vector<uint8_t>& bitmap, const picture::Picture& image,
                 PendingFile& file) {
    std::vector<uint8_t> bytes;
    switch (format) {
        case PictureFormat::kBmp:
            bytes = bitmap;
            break;
        case PictureFormat::kPng:
            bytes = picture::EncodePng(image);
            break;
        case PictureFormat::kJpeg:
            bytes = picture::EncodeJpeg(image);
            break;
    }
    if (bytes.empty()) {
        Say(ctx, "cannot encode the photo for %s", file.final_path().c_str());
        return false;
    }
    if (!file.Write(bytes) || !file.Commit(ctx.options.force)) {
        Say(ctx, "%s", file.error().c_str());
        return false;
    }
    return true;
}

bool Confirm(const CommandContext& ctx, const std::string& question) {
    if (ctx.options.yes)
        return true;
    if (!ctx.io.interactive) {
        Say(ctx, "%s needs confirmation: add --yes", ctx.options.command.c_str());
        return false;
    }
    std::fprintf(ctx.io.err, "%s [y/N] ", question.c_str());
    std::fflush(ctx.io.err);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, ctx.io.in))
        return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

}  // namespace cli
