// Files quorbit-cli writes (photos, card backups) are written under a short
// temporary name in the destination folder and only then given their real
// name. A failed or interrupted operation thus never leaves a partial file
// under the real name; without `overwrite` an existing file is never
// replaced, not even by one that appeared while the operation ran; and what
// is not a regular file (a FIFO, a device, a folder) is never replaced at all.
// Symbolic links follow the library's rule: a link to a regular file is
// written through (the link stays, the file it names is replaced); a link
// that names nothing is refused like a FIFO.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Target {
    kFree,         // nothing by that name
    kRegularFile,  // a regular file (or a link to one)
    kOther,        // a FIFO, device, folder, socket, dangling link: never replaced
};
Target TargetKind(const std::string& path);

// The message for a target of kind kOther (a dangling link said as such).
std::string NotARegularFile(const std::string& path);

class PendingFile {
  public:
    // Reserves a temporary file beside `final_path`. On failure ok() is false
    // and error() tells why. A PendingFile that is never committed serves as
    // a scratch file in that folder.
    explicit PendingFile(std::string final_path);
    ~PendingFile();  // removes the temporary file unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool ok() const { return !temp_path_.empty(); }
    const std::string& error() const { return error_; }
    // Where the library is to write.
    const std::string& temp_path() const { return temp_path_; }
    const std::string& final_path() const { return final_path_; }

    // "" when `bytes` fit into the temporary file (free space, quota, the
    // process's file-size limit), else what stands in the way, e.g.
    // "no room for 16 MB in /media/x: No space left on device". Leaves the
    // file empty.
    std::string RoomFor(uint64_t bytes);

    // The temporary file's contents, refused beyond max_bytes.
    std::optional<std::vector<uint8_t>> Contents(size_t max_bytes);
    // Makes `bytes` the temporary file's contents (false, error() set: the
    // file system's reason, such as a full disk).
    bool Write(const std::vector<uint8_t>& bytes);

    // Gives the written file its real name and the usual permissions.
    // Without `overwrite`, fails (and keeps the existing file) when the name
    // is taken; with it, still refuses to replace what is not a regular file.
    bool Commit(bool overwrite);

  private:
    std::string final_path_;
    std::string write_path_;  // final_path_, or the regular file a link there names
    std::string temp_path_;
    std::string error_;
    bool committed_ = false;
    int tracked_ = -1;  // slot of the interrupt cleanup
};

// Where scratch files that belong to no destination go ($TMPDIR or /tmp).
std::string TemporaryFolder();

// Removes the temporary files of the operation in progress when the user
// interrupts the program (SIGINT, SIGTERM, SIGHUP), then dies of the signal.
void InstallInterruptCleanup();

}  // namespace cli
