#include "picture/jpeg_errors.h"

namespace picture {
namespace {

JpegErrors* Of(j_common_ptr cinfo) {
    // base is the first member: libjpeg hands back the pointer it was given.
    return reinterpret_cast<JpegErrors*>(cinfo->err);
}

[[noreturn]] void JumpOnError(j_common_ptr cinfo) {
    std::longjmp(Of(cinfo)->jump, 1);
}

// Level -1 is a warning (corrupt data, a stream cut short); the others are
// trace messages.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return;
    JpegErrors* errors = Of(cinfo);
    ++errors->base.num_warnings;
    if (errors->warnings_are_errors) {
        errors->left_on_warning = true;
        std::longjmp(errors->jump, 1);
    }
}

void NoOutput(j_common_ptr) {}

}  // namespace

void InstallJpegErrors(j_common_ptr cinfo, JpegErrors* errors) {
    cinfo->err = jpeg_std_error(&errors->base);
    errors->base.error_exit = JumpOnError;
    errors->base.emit_message = OnMessage;
    errors->base.output_message = NoOutput;
}

std::string JpegMessage(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX] = {};
    cinfo->err->format_message(cinfo, text);
    return text;
}

}  // namespace picture
