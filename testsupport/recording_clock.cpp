#include "testsupport/recording_clock.h"

namespace testsupport {

void RecordingClock::Sleep(Duration d) {
    std::lock_guard lock(mutex_);
    pauses_.push_back(d);
    if (d > Duration::zero())
        now_ += d;
}

std::chrono::steady_clock::time_point RecordingClock::Now() {
    std::lock_guard lock(mutex_);
    return now_;
}

std::vector<platform::Clock::Duration> RecordingClock::Pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
}

platform::Clock::Duration RecordingClock::Total() const {
    std::lock_guard lock(mutex_);
    Duration total{0};
    for (Duration d : pauses_)
        total += d;
    return total;
}

void RecordingClock::Clear() {
    std::lock_guard lock(mutex_);
    pauses_.clear();
}

}  // namespace testsupport
