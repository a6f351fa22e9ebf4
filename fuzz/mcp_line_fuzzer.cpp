// libFuzzer harness over the MCP line handler: any byte sequence as one input line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/mcp/server.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Tool calls must fail fast on "not configured" rather than reach a keyring or the network.
    setenv("XDG_CONFIG_HOME", "/nonexistent/taskbell-fuzz", 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("XDG_RUNTIME_DIR");
    taskbell::MCPServer::setWriters([](std::string_view) {}, [](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    taskbell::MCPServer::handleLine(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
