// File access of the library: result files are written whole or not at all;
// the backup streams into its file. Only regular files are read or written:
// a FIFO, device node, socket or folder is refused at once, and opening one
// never blocks (a FIFO with no reader or writer on the other side would hold
// the host's call for ever).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorbit {

// Whether path names a regular file (through symbolic links) or nothing yet:
// where a result file may be written. Checked before the card is read, so
// that a call that cannot store its result makes no transfer.
bool IsRegularFileOrAbsent(const std::string& path);

// Writes data as the file at path, replacing an existing regular file only
// once the new content is complete: it goes to a temporary file in the same
// folder first. On failure no file is left behind and an existing file is
// unchanged.
bool WriteWholeFile(const std::string& path, std::span<const uint8_t> data);

// The content of a regular file of at most max_bytes; nullopt when it cannot
// be read or is larger.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, size_t max_bytes);

// A regular file that receives data piece by piece (an existing one is
// truncated first).
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::string& path);
    // All of data, or false.
    bool Write(std::span<const uint8_t> data);
    // False when the data could not be stored.
    bool Close();

  private:
    int fd_ = -1;
};

}  // namespace quorbit
