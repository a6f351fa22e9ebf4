#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace taskbell {

using Json = nlohmann::json;

// Deepest nesting accepted in one MCP message line and in a body from Jira or the update feed.
inline constexpr std::size_t kMessageDepthLimit = 64;
inline constexpr std::size_t kResponseDepthLimit = 512;

// Nesting depth of arrays and objects in JSON text, counted without building anything; strings are
// skipped. Used to refuse hostile input before the recursive copy and dump routines see it.
std::size_t jsonNestingDepth(std::string_view text);

// Parses untrusted JSON text. Returns nothing when the text is not valid JSON or nests deeper than
// maxDepth. Never throws.
std::optional<Json> parseJson(std::string_view text, std::size_t maxDepth);

// Most values accepted in one MCP message line: a tree of small values costs a hundred times its text.
inline constexpr std::size_t kMessageValueLimit = 100'000;

// Values (arrays, objects and the scalars inside them) in JSON text, counted without building anything
// from its structural characters outside strings; an upper bound for valid JSON.
std::size_t jsonValueCount(std::string_view text);

// parseJson that also refuses text with more than maxValues values before building anything.
std::optional<Json> parseJson(std::string_view text, std::size_t maxDepth, std::size_t maxValues);

// A JSON number as a 64-bit integer: integers in range and floats without a fraction (5.0 counts as 5)
// in [-2^63, 2^63). Nothing for anything else, strings included.
std::optional<std::int64_t> jsonInt64(const Json& value);

// Compact serialisation that never throws: invalid UTF-8 in strings is replaced.
std::string dumpJson(const Json& value);

} // namespace taskbell
