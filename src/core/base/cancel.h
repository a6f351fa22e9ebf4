#pragma once

#include <atomic>
#include <stdexcept>

namespace taskbell {

// Long local work (hashing, unpacking, verifying) stopped through its cancellation flag. what() is a
// plain sentence; cancelled work is normally dropped without showing it.
class Cancelled : public std::runtime_error
{
public:
    Cancelled() : std::runtime_error("The operation was cancelled.") {}
};

// Throws Cancelled once the flag (when there is one) is set.
inline void throwIfCancelled(const std::atomic<bool>* cancel)
{
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
        throw Cancelled();
    }
}

} // namespace taskbell
