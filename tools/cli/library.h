// Finds and loads libquorbit.so at run time and resolves its thirteen exports.
// The host never links against the library: it is a plug-in that may be
// replaced without rebuilding the host.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cardlib/quorbit.h"

namespace cli {

struct QuorbitApi {
    decltype(&::OpenDevice) OpenDevice = nullptr;
    decltype(&::CloseDevice) CloseDevice = nullptr;
    decltype(&::IsConnect) IsConnect = nullptr;
    decltype(&::GetPhotoCount) GetPhotoCount = nullptr;
    decltype(&::GetPhotoTotalSize) GetPhotoTotalSize = nullptr;
    decltype(&::GetFlashSize) GetFlashSize = nullptr;
    decltype(&::ReadPhotoToFile) ReadPhotoToFile = nullptr;
    decltype(&::DeletePhoto) DeletePhoto = nullptr;
    decltype(&::WriteFileToFlash) WriteFileToFlash = nullptr;
    decltype(&::FormatFlash) FormatFlash = nullptr;
    decltype(&::ReadAll) ReadAll = nullptr;
    decltype(&::GetString) GetString = nullptr;
    decltype(&::SetProcessFunc) SetProcessFunc = nullptr;
};

// The library's versioned name: a host of this interface loads the ABI it was
// written for, never a later, incompatible one.
inline constexpr const char* kLibraryFileName = "libquorbit.so.1";
inline constexpr const char* kLibraryEnvironmentVariable = "QUORBIT_LIBRARY";

// Where to look when neither --library nor $QUORBIT_LIBRARY names the library:
// beside the executable, in the build tree's cardlib folder, in the install
// tree's library folder, and last the dynamic linker's own search by bare name.
std::vector<std::string> DefaultLibraryCandidates(const std::string& executable_dir);

class QuorbitLibrary {
  public:
    ~QuorbitLibrary();
    QuorbitLibrary(const QuorbitLibrary&) = delete;
    QuorbitLibrary& operator=(const QuorbitLibrary&) = delete;

    // Loads exactly this file (a path or a bare name for the linker's search).
    static std::unique_ptr<QuorbitLibrary> LoadFile(const std::string& path, std::string* error);

    // explicit_path (from --library) wins, then $QUORBIT_LIBRARY, then the
    // default candidates in order.
    static std::unique_ptr<QuorbitLibrary> Find(const std::string& explicit_path,
                                                std::string* error);

    const QuorbitApi& api() const { return api_; }
    const std::string& path() const { return path_; }

  private:
    QuorbitLibrary() = default;
    void* handle_ = nullptr;
    std::string path_;
    QuorbitApi api_;
};

// The directory holding the running executable ("" when it cannot be told).
std::string ExecutableDirectory();

}  // namespace cli
