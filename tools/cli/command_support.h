// What the commands of quorbit-cli share: messages, the camera session of a
// command, progress labels and photo numbers.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "tools/cli/commands.h"
#include "tools/cli/output_file.h"
#include "tools/cli/picture_format.h"

namespace cli {

// The size of the library's photo bitmap files.
inline constexpr long kPhotoBitmapBytes = 234310;

// A message on stderr, "quorbit-cli: ..." (errors: always shown).
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

// A message that only tells what was done: left out under --quiet.
template <typename... A>
void Tell(const CommandContext& ctx, const char* format, A... args) {
    if (!ctx.options.quiet)
        Say(ctx, format, args...);
}

// "1 photo", "3 photos".
std::string Photos(long n);

// Opens the device for the lifetime of a command and closes it afterwards.
class DeviceSession {
  public:
    explicit DeviceSession(const CommandContext& ctx);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;
    bool opened() const { return opened_; }

  private:
    const CommandContext& ctx_;
    bool opened_ = false;
};

// 0 when the session is open and the card recognised, else the exit status
// (the reason said).
int RequireCard(const CommandContext& ctx, const DeviceSession& session);

// Whether photo `number` (from 1) is on the card; says so when not.
bool PhotoOnCard(const CommandContext& ctx, int number);

// Whether the command may write `path`: nothing there, or (under --force) a
// regular file. Says why not.
bool MayWrite(const CommandContext& ctx, const std::string& path);

// The temporary file for the result at `path`, once the command may write
// there (MayWrite) and the file is reserved; null, the reason said, if not.
std::unique_ptr<PendingFile> ReserveTarget(const CommandContext& ctx, const std::string& path);

// Writes a photo, given as the library's bitmap and as its pixels, in `format`
// through `file` and commits it; says why when it cannot.
bool SavePhotoAs(const CommandContext& ctx, PictureFormat format,
                 const std::vector<uint8_t>& bitmap, const picture::Picture& image,
                 PendingFile& file);

// Whether the user agrees (--yes, or "y" on a terminal); without a terminal
// to ask on, --yes is required.
bool Confirm(const CommandContext& ctx, const std::string& question);

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

}  // namespace cli
