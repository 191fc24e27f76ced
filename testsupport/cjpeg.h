// The reference the program's JPEG files are compared with: cjpeg -quality 90.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// cjpeg's output for a bitmap file, after setting its resolution fields to 0
// (cjpeg copies them into the JFIF density; libjpeg's default is 1:1 without
// unit). The tool is $CJPEG, else cjpeg on PATH; empty when it did not run.
std::vector<uint8_t> CjpegOf(const std::string& bitmap, const std::string& scratch_dir);

}  // namespace testsupport
