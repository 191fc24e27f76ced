// The thirteen exported functions. Each runs on the one static session and
// catches everything: nothing is thrown across the C interface.
#include <cstring>
#include <optional>
#include <string>

#include "cardlib/photo_io.h"
#include "cardlib/quorbit.h"
#include "cardlib/session.h"
#include "cardlib/strings.h"

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

std::string PathOf(const char* path) {
    return path == nullptr ? std::string() : std::string(path);
}

}  // namespace

extern "C" {

QUORBIT_API int OpenDevice(void) {
    return Guarded([] { return Session().Open(); }, 0);
}

QUORBIT_API int CloseDevice(void) {
    return Guarded([] { return Session().Close(); }, 0);
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
    return Guarded([&] { return quorbit::ReadPhotoToFile(Session(), index, PathOf(path)); }, 0);
}

QUORBIT_API int DeletePhoto(int index) {
    return Guarded([&] { return quorbit::DeletePhoto(Session(), index); }, 0);
}

QUORBIT_API int WriteFileToFlash(const char* path) {
    return Guarded([&] { return quorbit::WriteFileToFlash(Session(), PathOf(path)); }, 0);
}

QUORBIT_API int FormatFlash(int size_mb) {
    return Guarded([&] { return quorbit::FormatFlash(Session(), size_mb); }, 0);
}

QUORBIT_API int ReadAll(const char* path) {
    return Guarded([&] { return quorbit::ReadAll(Session(), PathOf(path)); }, 0);
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
    Session().step = step;
    Session().begin = begin;
}

}  // extern "C"
