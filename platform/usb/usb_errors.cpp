#include "platform/usb/usb_errors.h"

#include <libusb.h>

namespace platform {

IoError IoErrorFromLibusb(int libusb_error) {
    switch (libusb_error) {
        case LIBUSB_SUCCESS:
            return IoError::None;
        case LIBUSB_ERROR_NO_DEVICE:
            return IoError::DeviceGone;
        case LIBUSB_ERROR_TIMEOUT:
        case LIBUSB_ERROR_INTERRUPTED:
            return IoError::Aborted;
        default:
            return IoError::Failed;
    }
}

OpenError OpenErrorFromLibusb(int libusb_error) {
    switch (libusb_error) {
        case LIBUSB_SUCCESS:
            return OpenError::None;
        case LIBUSB_ERROR_ACCESS:
            return OpenError::AccessDenied;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return OpenError::NotFound;
        case LIBUSB_ERROR_BUSY:
            return OpenError::Busy;
        default:
            return OpenError::Failed;
    }
}

std::string OpenErrorMessage(std::string_view device_path, int libusb_error) {
    const std::string where = "the camera at " + std::string(device_path);
    switch (OpenErrorFromLibusb(libusb_error)) {
        case OpenError::None:
            return {};
        case OpenError::AccessDenied:
            return "cannot open " + where + ": permission denied; install the udev rule " +
                   std::string(kUdevRuleName) +
                   " (sudo cmake --install build, then sudo udevadm control --reload && sudo "
                   "udevadm trigger) and replug the camera";
        case OpenError::NotFound:
            return "cannot open " + where + ": the camera is no longer plugged in";
        case OpenError::Busy:
            return "cannot open " + where +
                   ": another program or a kernel driver is using it; close that program and "
                   "replug the camera";
        case OpenError::Failed:
            break;
    }
    return "cannot open " + where + ": " + libusb_strerror(libusb_error) + " (" +
           libusb_error_name(libusb_error) + ")";
}

}  // namespace platform
