#pragma once

#include <exception>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/json_util.h"

namespace taskbell::MCPServer {

// A request id as received: absent when the message had no "id" member.
using Id = std::optional<Json>;
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

void handle(const Json& message);
void respond(const Id& id, const Json& result);
void respond(const Id& id, int error, const std::string& message);
void log(std::string_view text);
bool isRequest(const Id& id);

// The user-facing text of a failure: what() of standard exceptions (JiraError, ToolError, ...).
std::string describe(const std::exception_ptr& error);

// Runs the operation on a worker thread and blocks until it finishes; returns its value or rethrows
// its exception unchanged.
template <typename Operation> auto runBlocking(Operation&& operation) -> decltype(operation())
{
    return std::async(std::launch::async, std::forward<Operation>(operation)).get();
}

Json toolDefinitions();
std::vector<std::string> toolNames();
std::string executablePath();

// The tools (mcp_tools.cpp).
void callTool(const Id& id, const Json& params);

} // namespace taskbell::MCPServer
