#include "platform/clock.h"

#include <sys/prctl.h>
#include <time.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace {

// How many LowTimerSlack guards the thread holds.
thread_local int t_slack_guards = 0;

std::atomic<Clock*> g_installed{nullptr};

}  // namespace

LowTimerSlack::LowTimerSlack() {
    if (t_slack_guards++ > 0)
        return;
    const int current = ::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    if (current > 1 && ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0)
        previous_ = current;
}

LowTimerSlack::~LowTimerSlack() {
    --t_slack_guards;
    if (previous_ > 1)
        ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_), 0UL, 0UL, 0UL);
}

void SystemClock::Sleep(Duration d) {
    if (d <= Duration::zero())
        return;
    const LowTimerSlack slack;
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long us = d.count();
    deadline.tv_sec += static_cast<time_t>(us / 1000000);
    deadline.tv_nsec += static_cast<long>((us % 1000000) * 1000);
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // An absolute deadline keeps a signal that interrupts the sleep from
    // shortening or lengthening it.
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::chrono::steady_clock::time_point SystemClock::Now() {
    return std::chrono::steady_clock::now();
}

Clock& CurrentClock() {
    static SystemClock system_clock;
    Clock* installed = g_installed.load(std::memory_order_acquire);
    return installed ? *installed : system_clock;
}

Clock* SetClock(Clock* clock) {
    return g_installed.exchange(clock, std::memory_order_acq_rel);
}

}  // namespace platform
