// Shared by the fuzz targets: a clock that never sleeps and error reports
// that go nowhere.
#pragma once

#include "platform/clock.h"
#include "platform/report.h"

namespace quorbit::fuzz {

class NullClock final : public platform::Clock {
  public:
    void Sleep(Duration) override {}
    std::chrono::steady_clock::time_point Now() override { return {}; }
};

inline void Silence() {
    static NullClock clock;
    platform::SetClock(&clock);
    platform::SetErrorReporter([](std::string_view, std::string_view) {});
}

}  // namespace quorbit::fuzz
