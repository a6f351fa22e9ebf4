#pragma once

// Helpers shared by the fake Jira server's source files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/encoding.h"
#include "fake_jira.h"

namespace taskbell::test::fake {

FakeReply jsonReply(int status, const Json& body);
// An ErrorCollection body: {"errorMessages": [...], "errors": {...}}.
FakeReply errorReply(int status, std::vector<std::string> messages, Json errors = Json::object());
FakeReply issueNotFound();

// Minutes east of UTC of an offset such as "+0200" or "-0300".
int offsetMinutes(const std::string& utcOffset);
// Milliseconds since the epoch of "yyyy-MM-ddTHH:mm:ss.SSS+hhmm".
std::optional<std::int64_t> parseTimestamp(const std::string& text);
std::string formatTimestamp(std::int64_t epochMillis, const std::string& utcOffset);
std::int64_t nowMillis();

// ADF schema check: a "doc" with version 1 whose nodes have known types, allowed members and children.
bool isValidAdfDocument(const Json& document);

std::size_t codePointCount(std::string_view text);

} // namespace taskbell::test::fake
