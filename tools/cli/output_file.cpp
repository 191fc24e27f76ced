#include "tools/cli/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace cli {
namespace {

// The temporary file to remove if a signal ends the program.
char g_pending[4096];
volatile sig_atomic_t g_have_pending = 0;

void OnInterrupt(int sig) {
    if (g_have_pending)
        unlink(g_pending);
    signal(sig, SIG_DFL);
    raise(sig);
}

void Track(const std::string& path) {
    g_have_pending = 0;
    if (path.size() < sizeof g_pending) {
        std::memcpy(g_pending, path.c_str(), path.size() + 1);
        g_have_pending = 1;
    }
}

void Untrack() {
    g_have_pending = 0;
}

mode_t CreationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

PendingFile::PendingFile(std::string final_path) : final_path_(std::move(final_path)) {
    const std::filesystem::path final_p = final_path_;
    std::filesystem::path dir = final_p.parent_path();
    if (dir.empty())
        dir = ".";
    std::string templ = (dir / ("." + final_p.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(templ.data());
    if (fd < 0) {
        error_ = final_path_ + ": " + std::strerror(errno);
        return;
    }
    close(fd);
    temp_path_ = templ;
    Track(temp_path_);
}

PendingFile::~PendingFile() {
    if (!temp_path_.empty() && !committed_) {
        unlink(temp_path_.c_str());
        Untrack();
    }
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
        rc = rename(temp_path_.c_str(), final_path_.c_str());
    } else {
        rc = renameat2(AT_FDCWD, temp_path_.c_str(), AT_FDCWD, final_path_.c_str(),
                       RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the atomic no-replace rename: a hard link
            // also refuses an existing name.
            rc = link(temp_path_.c_str(), final_path_.c_str());
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
    Untrack();
    return true;
}

void InstallInterruptCleanup() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        signal(sig, OnInterrupt);
}

}  // namespace cli
