// The one way the programs meet libjpeg's errors: its default handler ends
// the process and prints to stderr, so errors leave by longjmp to the caller's
// setjmp instead, and warnings are counted (a decoder that refuses damaged
// files leaves on the first one too).
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <string>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace picture {

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool warnings_are_errors = false;
    bool left_on_warning = false;  // the jump came from a warning
};

// Installs the manager on a compress or decompress object before its create call.
void InstallJpegErrors(j_common_ptr cinfo, JpegErrors* errors);

// libjpeg's text for the last message (error or warning).
std::string JpegMessage(j_common_ptr cinfo);

}  // namespace picture
