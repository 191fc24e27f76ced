#include "tools/cli/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#ifndef QUORBIT_INSTALL_LIBDIR
#define QUORBIT_INSTALL_LIBDIR ""
#endif
#ifndef QUORBIT_RELATIVE_LIBDIR
#define QUORBIT_RELATIVE_LIBDIR "lib"
#endif

namespace cli {
namespace {

template <typename F>
bool Resolve(void* handle, const char* name, F& slot, std::string* missing) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        if (!missing->empty())
            *missing += ", ";
        *missing += name;
        return false;
    }
    slot = reinterpret_cast<F>(symbol);
    return true;
}

}  // namespace

std::vector<std::string> DefaultLibraryCandidates(const std::string& executable_dir) {
    std::vector<std::string> out;
    auto add = [&out](const std::filesystem::path& p) {
        const std::string s = p.lexically_normal().string();
        for (const auto& seen : out) {
            if (seen == s)
                return;
        }
        out.push_back(s);
    };
    if (!executable_dir.empty()) {
        const std::filesystem::path dir = executable_dir;
        add(dir / kLibraryFileName);
        add(dir / ".." / "cardlib" / kLibraryFileName);
        add(dir / ".." / QUORBIT_RELATIVE_LIBDIR / kLibraryFileName);
    }
    if (std::string(QUORBIT_INSTALL_LIBDIR).size() > 0) {
        add(std::filesystem::path(QUORBIT_INSTALL_LIBDIR) / kLibraryFileName);
    }
    out.push_back(kLibraryFileName);
    return out;
}

QuorbitLibrary::~QuorbitLibrary() {
    if (handle_)
        dlclose(handle_);
}

std::unique_ptr<QuorbitLibrary> QuorbitLibrary::LoadFile(const std::string& path,
                                                         std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        *error = why ? why : ("cannot load " + path);
        return nullptr;
    }
    std::unique_ptr<QuorbitLibrary> lib(new QuorbitLibrary);
    lib->handle_ = handle;
    lib->path_ = path;
    QuorbitApi& a = lib->api_;
    std::string missing;
    Resolve(handle, "OpenDevice", a.OpenDevice, &missing);
    Resolve(handle, "CloseDevice", a.CloseDevice, &missing);
    Resolve(handle, "IsConnect", a.IsConnect, &missing);
    Resolve(handle, "GetPhotoCount", a.GetPhotoCount, &missing);
    Resolve(handle, "GetPhotoTotalSize", a.GetPhotoTotalSize, &missing);
    Resolve(handle, "GetFlashSize", a.GetFlashSize, &missing);
    Resolve(handle, "ReadPhotoToFile", a.ReadPhotoToFile, &missing);
    Resolve(handle, "DeletePhoto", a.DeletePhoto, &missing);
    Resolve(handle, "WriteFileToFlash", a.WriteFileToFlash, &missing);
    Resolve(handle, "FormatFlash", a.FormatFlash, &missing);
    Resolve(handle, "ReadAll", a.ReadAll, &missing);
    Resolve(handle, "GetString", a.GetString, &missing);
    Resolve(handle, "SetProcessFunc", a.SetProcessFunc, &missing);
    if (!missing.empty()) {
        *error = path + " lacks the export(s) " + missing;
        return nullptr;
    }
    return lib;
}

std::unique_ptr<QuorbitLibrary> QuorbitLibrary::Find(const std::string& explicit_path,
                                                     std::string* error) {
    if (!explicit_path.empty())
        return LoadFile(explicit_path, error);
    if (const char* env = std::getenv(kLibraryEnvironmentVariable); env && *env) {
        auto lib = LoadFile(env, error);
        if (!lib)
            *error = std::string(kLibraryEnvironmentVariable) + ": " + *error;
        return lib;
    }
    std::string reasons;
    for (const std::string& candidate : DefaultLibraryCandidates(ExecutableDirectory())) {
        // A path that is not there is simply not a candidate; a file that is
        // there but does not load is worth telling about.
        const bool bare = candidate.find('/') == std::string::npos;
        if (!bare && access(candidate.c_str(), F_OK) != 0)
            continue;
        std::string why;
        if (auto lib = LoadFile(candidate, &why))
            return lib;
        reasons += "\n  " + why;
    }
    *error = std::string("cannot find ") + kLibraryFileName + " (use --library PATH or set " +
             kLibraryEnvironmentVariable + ")" + reasons;
    return nullptr;
}

std::string ExecutableDirectory() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "";
    return exe.parent_path().string();
}

}  // namespace cli
