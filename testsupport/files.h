// Whole files in and out, for tests of every folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The file's bytes; nothing (with the path and the reason in *error, when
// given) when it cannot be read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path,
                                                  std::string* error = nullptr);
// Creates or replaces the file; false (with the reason) on any failure, and
// then no partial file is left.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error = nullptr);

}  // namespace testsupport
