#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace taskbell::app {

// What a piece of background work produced: its value, or the exception it threw.
template <typename T> struct Outcome
{
    std::optional<T> value;
    std::exception_ptr error;
};

// Runs `work` on the pool and then `apply(Outcome&)` on the receiver's thread. The receiver must wait for
// its pool before it goes away (it owns the pool and calls waitForDone in its destructor), so a posted
// outcome either reaches a living receiver or is discarded with its pending events. No exception crosses
// the thread: it travels in the outcome.
template <typename Work, typename Apply> void runInPool(QThreadPool& pool, QObject* receiver, Work work, Apply apply)
{
    using Result = std::invoke_result_t<Work&>;
    using Value = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;
    auto task = [receiver, work = std::move(work), apply = std::move(apply)]() mutable {
        auto outcome = std::make_shared<Outcome<Value>>();
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
                outcome->value.emplace();
            } else {
                outcome->value = work();
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        auto shared = std::make_shared<Apply>(std::move(apply));
        QMetaObject::invokeMethod(
            receiver, [outcome, shared] { (*shared)(*outcome); }, Qt::QueuedConnection);
    };
    pool.start(std::move(task));
}

} // namespace taskbell::app
