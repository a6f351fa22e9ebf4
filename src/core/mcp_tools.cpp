#include "mcp_server.h"

namespace taskbell::MCPServer {

void callTool(const Id& id, const Json& params)
{
    std::string name;
    if (auto found = params.find("name"); found != params.end() && found->is_string()) {
        name = found->get<std::string>();
    }
    respond(id,
            Json{{"content", Json::array({{{"type", "text"}, {"text", "Unknown tool: " + name}}})}, {"isError", true}});
}

} // namespace taskbell::MCPServer
