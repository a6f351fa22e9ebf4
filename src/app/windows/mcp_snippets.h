#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace taskbell::app::McpSnippets {

// One shell word: the text unchanged when it holds only characters no shell splits or interprets,
// otherwise wrapped in single quotes (an embedded ' written as '\''), so a pasted command runs as is.
std::string shellWord(std::string_view text);

// The text as the body of a JSON string (without the surrounding quotes); invalid UTF-8 becomes U+FFFD.
std::string jsonStringBody(std::string_view text);

// The `claude mcp add` command that registers this executable for one repository.
std::string command(std::string_view executable);

// A .mcp.json that does the same by hand: ten lines, no final line feed.
std::string json(std::string_view executable);

// "Tools: a, b, c."
std::string toolsLine(const std::vector<std::string>& toolNames);

} // namespace taskbell::app::McpSnippets
