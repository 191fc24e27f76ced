#include "tools/cli/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/cli/input_file.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// The temporary files to remove if a signal ends the program: a command
// has at most a scratch file and the file it is writing.
constexpr int kTracked = 4;
char g_pending[kTracked][4096];
volatile sig_atomic_t g_have_pending[kTracked] = {};

void OnInterrupt(int sig) {
    for (int i = 0; i < kTracked; ++i) {
        if (g_have_pending[i])
            unlink(g_pending[i]);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// The slot tracking the path, or -1.
int Track(const std::string& path) {
    for (int i = 0; i < kTracked; ++i) {
        if (!g_have_pending[i] && path.size() < sizeof g_pending[i]) {
            std::memcpy(g_pending[i], path.c_str(), path.size() + 1);
            g_have_pending[i] = 1;
            return i;
        }
    }
    return -1;
}

void Untrack(int slot) {
    if (slot >= 0)
        g_have_pending[slot] = 0;
}

mode_t CreationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string SizeText(uint64_t bytes) {
    if (bytes >= (uint64_t{1} << 20))
        return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " bytes";
}

std::string Folder(const std::string& path) {
    const std::string dir = std::filesystem::path(path).parent_path().string();
    return dir.empty() ? "." : dir;
}

}  // namespace

Target TargetKind(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? Target::kFree : Target::kOther;
    if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0)
        return Target::kOther;
    return S_ISREG(st.st_mode) ? Target::kRegularFile : Target::kOther;
}

std::string NotARegularFile(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0) {
        return path +
               " is a symbolic link that names no file; it is neither replaced nor written through";
    }
    return path + " exists and is not a regular file; it is never replaced";
}

namespace {

// Through a symbolic link to a regular file: the file it names.
std::string WritePath(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) ||
        TargetKind(path) != Target::kRegularFile)
        return path;
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? path : real.string();
}

}  // namespace

PendingFile::PendingFile(std::string final_path)
    : final_path_(std::move(final_path)), write_path_(WritePath(final_path_)) {
    // A short name of its own, so that any name the folder can hold can be
    // the final one; beside the file written, so that a rename puts it there.
    std::string templ = Folder(write_path_) + "/.qc-XXXXXX";
    const int fd = mkstemp(templ.data());
    if (fd < 0) {
        error_ = "cannot create a file in " + Folder(write_path_) + ": " + std::strerror(errno);
        return;
    }
    close(fd);
    temp_path_ = templ;
    tracked_ = Track(temp_path_);
}

PendingFile::~PendingFile() {
    if (!temp_path_.empty() && !committed_) {
        unlink(temp_path_.c_str());
        Untrack(tracked_);
    }
}

std::string PendingFile::RoomFor(uint64_t bytes) {
    const int fd = open(temp_path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return "cannot write in " + Folder(final_path_) + ": " + std::strerror(errno);
    const int rc = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
    if (ftruncate(fd, 0) != 0) {
        // Nothing to do: the file is written anew by whoever fills it.
    }
    close(fd);
    if (rc == 0 || rc == EOPNOTSUPP || rc == EINVAL)
        return "";
    return "no room for " + SizeText(bytes) + " in " + Folder(final_path_) + ": " +
           std::strerror(rc);
}

std::optional<std::vector<uint8_t>> PendingFile::Contents(size_t max_bytes) {
    return ReadBoundedFile(temp_path_, max_bytes, &error_);
}

bool PendingFile::Write(const std::vector<uint8_t>& bytes) {
    const int fd = open(temp_path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        error_ = "cannot write " + final_path_ + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    int failure = 0;
    while (done < bytes.size() && failure == 0) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            failure = errno;
        else if (n > 0)
            done += static_cast<size_t>(n);
    }
    // A full disk may show only when the data reaches it.
    if (failure == 0 && fsync(fd) != 0 && errno != EINVAL)
        failure = errno;
    if (close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure != 0) {
        error_ = "cannot write " + final_path_ + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

bool PendingFile::Commit(bool overwrite) {
    if (!ok())
        return false;
    struct stat st {};
    if (stat(temp_path_.c_str(), &st) != 0) {
        error_ = final_path_ + ": the file was not written";
        return false;
    }
    chmod(temp_path_.c_str(), CreationMode());
    int rc;
    if (overwrite) {
        if (TargetKind(write_path_) == Target::kOther) {
            error_ = NotARegularFile(write_path_);
            return false;
        }
        rc = rename(temp_path_.c_str(), write_path_.c_str());
    } else {
        rc = renameat2(AT_FDCWD, temp_path_.c_str(), AT_FDCWD, write_path_.c_str(),
                       RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the atomic no-replace rename: a hard link
            // also refuses an existing name.
            rc = link(temp_path_.c_str(), write_path_.c_str());
            if (rc == 0)
                unlink(temp_path_.c_str());
        }
    }
    if (rc != 0) {
        error_ = errno == EEXIST ? final_path_ + " already exists (use --force to overwrite it)"
                                 : final_path_ + ": " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    Untrack(tracked_);
    return true;
}

std::string TemporaryFolder() {
    std::error_code ec;
    const auto dir = std::filesystem::temp_directory_path(ec);
    return ec ? "/tmp" : dir.string();
}

void InstallInterruptCleanup() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        signal(sig, OnInterrupt);
    // A file-size limit then makes writes fail with EFBIG, which is reported,
    // instead of ending the program.
    signal(SIGXFSZ, SIG_IGN);
}

}  // namespace cli
