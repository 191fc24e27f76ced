// Pauses go through one replaceable clock, so that unit tests record the
// pauses a protocol makes instead of sleeping through them.
#pragma once

#include <chrono>
#include <mutex>
#include <vector>

namespace platform {

class Clock {
  public:
    using Duration = std::chrono::microseconds;
    virtual ~Clock() = default;
    // Sleeps at least d (never less).
    virtual void Sleep(Duration d) = 0;
    virtual std::chrono::steady_clock::time_point Now() = 0;
};

// The process-wide clock: the system clock unless a test installed another.
Clock& CurrentClock();
// Installs a clock (not owned), or restores the system clock with nullptr.
// Returns the previous one (nullptr when it was the system clock).
Clock* SetClock(Clock* clock);

inline void Pause(std::chrono::milliseconds ms) {
    CurrentClock().Sleep(ms);
}

// Lowers the calling thread's timer slack to 1 ns while it lives and puts the
// thread's own setting back when it ends: the thread belongs to the host. The
// default slack of 50 us would make every 1 ms protocol pause about 5%
// longer. Held once around an exported call or a driver operation, it saves
// the pauses inside (thousands a photo) the three prctl calls each would
// make. Guards nest on a thread; only the outermost one touches the setting.
class LowTimerSlack {
  public:
    LowTimerSlack();
    ~LowTimerSlack();
    LowTimerSlack(const LowTimerSlack&) = delete;
    LowTimerSlack& operator=(const LowTimerSlack&) = delete;

  private:
    int previous_ = -1;  // the thread's setting to put back; -1: an outer guard's
};

// Sleeps on the monotonic clock towards an absolute deadline with minimal
// timer slack (its own LowTimerSlack when the caller holds none), so a 1 ms
// pause costs close to 1 ms.
class SystemClock final : public Clock {
  public:
    void Sleep(Duration d) override;
    std::chrono::steady_clock::time_point Now() override;
};

// Installs a clock for the lifetime of the guard.
class ScopedClock {
  public:
    explicit ScopedClock(Clock* clock) : previous_(SetClock(clock)) {}
    ~ScopedClock() { SetClock(previous_); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

  private:
    Clock* previous_;
};

}  // namespace platform
