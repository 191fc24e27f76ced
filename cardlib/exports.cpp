// The thirteen exported functions. Each runs on the one static session and
// catches everything: nothing is thrown across the C interface.
#include <atomic>
#include <cstring>
#include <optional>
#include <string>

#include "cardlib/photo_io.h"
#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/strings.h"
#include "platform/clock.h"

using quorbit::Session;

namespace {

template <typename F>
auto Guarded(F&& f, decltype(f()) on_failure) noexcept -> decltype(f()) {
    try {
        return f();
    } catch (...) {
        return on_failure;
    }
}

// Set while a call that uses the device or changes the session runs. A host
// may call back into the library from its progress callbacks (or from a
// second thread): a CloseDevice there would free the geometry the running
// call is working with. Such a call returns its failure value and changes
// nothing; the running call goes on as if it had not been made.
std::atomic<bool> g_call_running{false};

// f() as the one call that runs, or on_busy while another runs.
template <typename F>
auto Exclusive(F&& f, decltype(f()) on_busy, decltype(f()) on_failure) noexcept -> decltype(f()) {
    if (g_call_running.exchange(true))
        return on_busy;
    // Once for the call rather than once for each of its pauses.
    const auto result = [&] {
        const platform::LowTimerSlack slack;
        return Guarded(f, on_failure);
    }();
    g_call_running.store(false);
    return result;
}

std::string PathOf(const char* path) {
    return path == nullptr ? std::string() : std::string(path);
}

}  // namespace

extern "C" {

QUORBIT_API int OpenDevice(void) {
    return Exclusive([] { return Session().Open(); }, 0, 0);
}

QUORBIT_API int CloseDevice(void) {
    return Exclusive([] { return Session().Close(); }, -1, 0);
}

QUORBIT_API int IsConnect(void) {
    return Session().IsOpen() ? 1 : 0;
}

QUORBIT_API uint16_t GetPhotoCount(void) {
    const auto& session = Session();
    if (session.geometry == nullptr)
        return 0;
    return session.geometry->HeaderPhotoCount(session.system_block);
}

QUORBIT_API int GetPhotoTotalSize(void) {
    const auto& session = Session();
    return session.geometry == nullptr ? 0 : session.geometry->MaxPhotos();
}

QUORBIT_API uint16_t GetFlashSize(void) {
    const auto& session = Session();
    return session.geometry == nullptr ? 0 : session.geometry->FlashSizeMb();
}

QUORBIT_API int ReadPhotoToFile(int index, const char* path) {
    return Exclusive([&] { return quorbit::ReadPhotoToFile(Session(), index, PathOf(path)); }, 0,
                     0);
}

QUORBIT_API int DeletePhoto(int index) {
    return Exclusive([&] { return quorbit::DeletePhoto(Session(), index); }, 0, 0);
}

QUORBIT_API int WriteFileToFlash(const char* path) {
    return Exclusive([&] { return quorbit::WriteFileToFlash(Session(), PathOf(path)); }, 0, 0);
}

QUORBIT_API int FormatFlash(int size_mb) {
    return Exclusive([&] { return quorbit::FormatFlash(Session(), size_mb); }, 0, 0);
}

QUORBIT_API int ReadAll(const char* path) {
    return Exclusive([&] { return quorbit::ReadAll(Session(), PathOf(path)); }, 0, 0);
}

QUORBIT_API int GetString(int id, char* buffer) {
    if (buffer == nullptr)
        return 0;
    return Guarded(
        [&] {
            const std::optional<std::string> text = quorbit::LocalisedText(id);
            if (!text)
                return 0;
            const size_t n = std::min(text->size(), quorbit::kMaxTextBytes);
            std::memcpy(buffer, text->data(), n);
            buffer[n] = '\0';
            return 1;
        },
        0);
}

QUORBIT_API void SetProcessFunc(ProgressStepFunc step, ProgressBeginFunc begin) {
    // From inside a callback the running call keeps the functions it began with.
    Exclusive(
        [&] {
            Session().step = step;
            Session().begin = begin;
            return 0;
        },
        0, 0);
}

}  // extern "C"
