// Finding and opening the camera, and the error reports of the transfer
// primitives (the primitives themselves are FlashGeometry operations).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/device.h"
#include "platform/guid.h"

namespace quorbit {

inline constexpr int kTextReadError = 13;
inline constexpr int kTextWriteError = 14;

// The first present device of the interface class, opened on its interface
// path; null when there is none or it cannot be opened.
std::unique_ptr<platform::DeviceHandle> OpenInterfaceDevice(const platform::Guid& interface_class);

// Shows text `id` of the string table, in the current language, as an error
// with the caption "Orvanta". Nothing is shown for an id without text. A
// detail, when given, follows the text on a line of its own.
void ReportCardError(int id, std::string_view detail = {});

// While one exists, ReportCardError shows nothing: detection tries every
// variant's commands on the card, and a variant that does not fit the camera
// fails its probe read; that is not an error of the user's.
class QuietCardErrors {
  public:
    QuietCardErrors();
    ~QuietCardErrors();
    QuietCardErrors(const QuietCardErrors&) = delete;
    QuietCardErrors& operator=(const QuietCardErrors&) = delete;
};

// Consecutive "aborted" answers a big-endian page read accepts before it
// gives up: at least one second of the 1 ms pauses between retries.
inline constexpr int kMaxAbortedRetries = 1000;

}  // namespace quorbit
