#include <cstring>
#include <iostream>

#include "core/mcp/server.h"

int main(int argc, char** argv)
{
    // Decide the mode before anything else exists: the MCP server never creates a user-interface object.
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mcp") == 0) {
            taskbell::MCPServer::run();
        }
    }
    std::cerr << "taskbell: the desktop application is not available in this build; run with --mcp for the MCP "
                 "server.\n";
    return 1;
}
