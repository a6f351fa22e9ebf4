#include "core/base/json_util.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace taskbell {

namespace {

// Calls `visit` with every character of a JSON text that stands outside its strings (the quote that opens
// a string included), so the scans below never mistake string content for structure. Strings, most of a
// Jira answer's bytes, are skipped with memchr from quote to quote; a quote after an odd number of
// backslashes is escaped.
template <typename Visit> void forEachOutsideStrings(std::string_view text, Visit visit)
{
    const char* at = text.data();
    const char* end = at + text.size();
    while (at != end) {
        char c = *at++;
        visit(c);
        if (c != '"') {
            continue;
        }
        for (;;) {
            const auto* quote = static_cast<const char*>(std::memchr(at, '"', static_cast<std::size_t>(end - at)));
            if (quote == nullptr) {
                return; // an unterminated string runs to the end
            }
            const char* backslash = quote;
            while (backslash != at && backslash[-1] == '\\') {
                --backslash;
            }
            at = quote + 1;
            if ((quote - backslash) % 2 == 0) {
                break;
            }
        }
    }
}

} // namespace

std::size_t jsonNestingDepth(std::string_view text)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    forEachOutsideStrings(text, [&](char c) {
        if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    });
    return deepest;
}

std::optional<Json> parseJson(std::string_view text, std::size_t maxDepth)
{
    if (jsonNestingDepth(text) > maxDepth) {
        return std::nullopt;
    }
    Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

std::size_t jsonValueCount(std::string_view text)
{
    std::size_t count = 1;
    forEachOutsideStrings(text, [&](char c) {
        if (c == '[' || c == '{' || c == ',') {
            ++count; // a container opens (its first member counts with it), or one more member follows
        }
    });
    return count;
}

std::optional<Json> parseJson(std::string_view text, std::size_t maxDepth, std::size_t maxValues)
{
    if (jsonValueCount(text) > maxValues) {
        return std::nullopt;
    }
    return parseJson(text, maxDepth);
}

std::optional<std::int64_t> jsonInt64(const Json& value)
{
    if (value.is_number_unsigned()) {
        auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        double number = value.get<double>();
        // 2^63 itself is not representable, hence the strict upper bound.
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0 &&
            number < 9223372036854775808.0) {
            return static_cast<std::int64_t>(number);
        }
    }
    return std::nullopt;
}

std::string dumpJson(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace taskbell
