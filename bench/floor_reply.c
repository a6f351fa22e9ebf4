/* The floor for MCP start-up: read one line, print a fixed initialize reply, exit.
   Built twice: plain, and linked against the same shared libraries as taskbell. */
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    char line[65536];
    if (fgets(line, sizeof line, stdin) == NULL) {
        return 1;
    }
    static const char reply[] =
        "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"capabilities\":{\"tools\":{\"listChanged\":false}},"
        "\"protocolVersion\":\"2025-06-18\",\"serverInfo\":{\"name\":\"taskbell\",\"version\":\"1.10.0\"}}}\n";
    return write(1, reply, sizeof reply - 1) == (ssize_t)(sizeof reply - 1) ? 0 : 1;
}
