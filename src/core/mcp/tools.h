#pragma once

#include <stdexcept>
#include <string>

#include "core/base/json_util.h"

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

} // namespace taskbell::MCPServer
