// A clock for tests: it records every pause and advances a virtual time instead
// of sleeping. Install it with platform::ScopedClock.
#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace testsupport {

class RecordingClock final : public platform::Clock {
  public:
    void Sleep(Duration d) override;
    std::chrono::steady_clock::time_point Now() override;
    std::vector<Duration> Pauses() const;
    Duration Total() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<Duration> pauses_;
    std::chrono::steady_clock::time_point now_{};
};

}  // namespace testsupport
