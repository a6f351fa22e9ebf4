#include "app/model/timing.h"

#include <cmath>

namespace taskbell::app {

std::chrono::milliseconds Timing::scaled(std::chrono::milliseconds delay) const
{
    long long value = std::llround(static_cast<double>(delay.count()) * delayScale);
    return std::chrono::milliseconds(value > 0 ? value : 0);
}

} // namespace taskbell::app
