#include "app/model/timing.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace taskbell::app {

std::chrono::milliseconds Timing::scaled(std::chrono::milliseconds delay) const
{
    // Qt timers count in int milliseconds: a huge stored period waits as long as a timer can.
    double value = std::round(static_cast<double>(delay.count()) * delayScale);
    return std::chrono::milliseconds(static_cast<long long>(std::clamp(value, 0.0, double{INT_MAX})));
}

} // namespace taskbell::app
