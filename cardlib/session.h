// The one process-wide session behind the exported functions: the open
// device, the geometry recognised for its card and the working copy of the
// card's system block.
#pragma once

#include <cstdint>
#include <memory>

#include "cardlib/card_layout.h"
#include "cardlib/geometry.h"
#include "cardlib/quorbit.h"
#include "platform/device.h"

namespace quorbit {

class CardSession {
  public:
    CardSession() = default;
    virtual ~CardSession();
    CardSession(const CardSession&) = delete;
    CardSession& operator=(const CardSession&) = delete;

    // Opens the first camera and runs detection: 1 when a device was opened.
    int Open();
    // Forgets the geometry and closes the device: 1, or -1 when none was open.
    int Close();
    bool IsOpen() const { return device != nullptr; }

    // Progress calls; a function the host never set is skipped.
    void BeginProgress(int32_t steps) const {
        if (begin != nullptr)
            begin(steps);
    }
    void StepProgress() const {
        if (step != nullptr)
            step();
    }

    std::unique_ptr<platform::DeviceHandle> device;
    // Holds a non-owning pointer to *device; always reset before device is.
    std::unique_ptr<FlashGeometry> geometry;
    SystemBlock system_block{};
    ProgressStepFunc step = nullptr;
    ProgressBeginFunc begin = nullptr;
};

// The static session of the library.
CardSession& Session();

// 1 when the session's geometry recognises the card: reads the system block
// into the session's copy and checks magic and capacity. A read that fails
// is made again, up to `reads` reads in all (only the last one's failure is
// reported); when the last read fails, *read_failed (if given) is set. On 0
// the geometry has been deleted.
int ProbeGeometry(CardSession& session, int reads = 1, bool* read_failed = nullptr);

// Tries each variant in probe order; 1 when one recognised the card.
int DetectGeometry(CardSession& session);

}  // namespace quorbit
