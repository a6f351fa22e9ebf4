#pragma once

#include <chrono>
#include <functional>

namespace taskbell::app {

// What tests control about time: the wall clock, and one factor applied to every wait of the store and
// the updater (the refresh period, the follow-up reloads, the updater's first check and its six-hour
// period). The 60-second guard between automatic update checks is measured with `now`, not scaled.
struct Timing
{
    using Clock = std::chrono::system_clock;

    double delayScale = 1.0;
    std::function<Clock::time_point()> now = [] { return Clock::now(); };

    // The delay to arm a timer with: the scaled duration in whole milliseconds, between 0 and INT_MAX.
    std::chrono::milliseconds scaled(std::chrono::milliseconds delay) const;
};

} // namespace taskbell::app
