// File access of the library: result files are written whole or not at all;
// the backup streams into its file and replaces an existing one only once it
// is complete. Only regular files are read or written: a FIFO, device node,
// socket or folder is refused at once, and opening one never blocks (a FIFO
// with no reader or writer on the other side would hold the host's call for
// ever). A symbolic link to a regular file is written through (the link
// stays, the file it names gets the content); a symbolic link that names
// nothing is refused like a FIFO: neither the link nor a file where it
// points is created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorbit {

// Whether path names a regular file (through symbolic links) or nothing yet
// (not even a dangling link): where a result file may be written. Checked before the card is read,
// so that a call that cannot store its result makes no transfer.
bool IsRegularFileOrAbsent(const std::string& path);

// Writes data as the file at path, replacing an existing regular file only
// once the new content is complete: it goes to a temporary file in the same
// folder first. On failure no file is left behind and an existing file is
// unchanged.
bool WriteWholeFile(const std::string& path, std::span<const uint8_t> data);

// The content of a regular file of at most max_bytes; nullopt when it cannot
// be read or is larger.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t max_bytes);

// A regular file that receives data piece by piece. Where no file existed,
// it is created under its name at once, and what was written stays should
// the writer give up. An existing file is never truncated: the data goes to
// a temporary file beside it, which takes its place (and its permissions)
// only when Commit succeeds; until then, and after any failure, the old file
// is as it was.
class OutputFile {
  public:
    OutputFile() = default;
    // Closes; a replacement that was not committed is removed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::string& path);
    // All of data, or false.
    bool Write(std::span<const uint8_t> data);
    // Closes the file and puts a replacement in place. False when the data
    // could not be stored (an existing file then keeps its content).
    bool Commit();

  private:
    void Discard();

    int fd_ = -1;
    std::string path_;  // the file to replace, links followed
    std::string temp_;  // the replacement; empty for a new file
    unsigned mode_ = 0;
};

}  // namespace quorbit
