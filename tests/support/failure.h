#pragma once

// What an action throws, for tests that check failures.

#include <exception>
#include <optional>
#include <string>

namespace taskbell::test {

// The Error the action throws; nothing when it returns normally. Other exceptions pass through.
template <typename Error, typename Action> std::optional<Error> caught(Action&& action)
{
    try {
        action();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

// what() of the Error the action throws, "(no failure)" when it returns normally.
template <typename Error = std::exception, typename Action> std::string failure(Action&& action)
{
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no failure)";
}

} // namespace taskbell::test
