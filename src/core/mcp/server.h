#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace taskbell::MCPServer {

using Writer = std::function<void(std::string_view bytes)>;

// Longest line accepted; a longer one is treated as unparsable.
inline constexpr std::size_t kMaxLineBytes = std::size_t{8} << 20;

// Where protocol lines and diagnostics go. run() points them at a private duplicate of the original
// standard output and at standard error; transcript tests capture them.
void setWriters(Writer protocol, Writer diagnostics);

// Serves MCP on standard input and output until end of input, then exits with status 0.
[[noreturn]] void run();

// One raw input line (terminator already removed): trimmed, parsed and dispatched, or reported as
// unparsable on the diagnostics stream. Blank lines produce no output at all.
void handleLine(std::string_view line);

} // namespace taskbell::MCPServer
