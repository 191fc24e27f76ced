// Reading a picture file the user names, safely: only regular files (a FIFO
// without a writer, a device such as /dev/zero or a directory is refused at
// once, never waited on), and never more than a picture can take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// The whole file, or nothing with a message that names the path: missing,
// not a regular file, larger than max_bytes, unreadable.
std::optional<std::vector<uint8_t>> ReadBoundedFile(const std::string& path, size_t max_bytes,
                                                    std::string* error);

}  // namespace cli
