#pragma once

// The message handling shared by the MCP server's own files (server.cpp, catalogue.cpp, tools.cpp) and
// their tests; not for other callers.

#include <exception>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "core/base/json_util.h"
#include "core/mcp/server.h"

namespace taskbell::MCPServer {

// A request id as received: absent when the message had no "id" member.
using Id = std::optional<Json>;

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

// The tools (tools.cpp).
void callTool(const Id& id, const Json& params);

} // namespace taskbell::MCPServer
