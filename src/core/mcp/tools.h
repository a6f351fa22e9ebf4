#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/base/json_util.h"
#include "core/jira/client.h"
#include "core/jira/models.h"
#include "core/mcp/settings.h"

namespace taskbell::MCPServer {

// A tool's own failure: unusable arguments or an action it reports itself. what() is the message.
class ToolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Loads the settings afresh, checks they are complete and runs the named tool. Throws ToolError or
// JiraError.
std::string perform(const std::string& tool, const Json& arguments);

std::string createTask(const JiraClient& client, const Settings& settings, const Json& arguments);
std::string listTasks(const JiraClient& client, const Settings& settings, const Json& arguments);
std::string setStatus(const JiraClient& client, const Settings& settings, const Json& arguments);
std::string getTask(const JiraClient& client, const Settings& settings, const Json& arguments);
std::string updateTask(const JiraClient& client, const Settings& settings, const Json& arguments);

// A status argument as a category key ("new", "indeterminate", "done"); `fallback` when blank.
std::string category(const std::optional<std::string>& from, const std::optional<std::string>& fallback);
// The "issueKey" argument trimmed, upper-cased and checked against PROJ-123.
std::string issueKey(const Json& arguments);
// "\nAvailable transitions for KEY: A → B, ..." or empty text; never throws.
std::string transitionHint(const JiraClient& client, const std::string& issueKey);
// One section of the list_tasks output.
std::string render(const std::vector<Issue>& issues, const std::string& title, std::int64_t limit,
                   std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

} // namespace taskbell::MCPServer
