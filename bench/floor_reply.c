/* The floor for MCP start-up: read one line, print a fixed initialize reply, exit.
   Built three times: plain, linked against the same shared libraries as taskbell, and loading the desktop
   application module (and with it Qt) with dlopen before it answers: what --mcp would pay with Qt. */
#include <stdio.h>
#include <unistd.h>
#ifdef TASKBELL_FLOOR_GUI_MODULE
#include <dlfcn.h>
#endif

int main(void)
{
#ifdef TASKBELL_FLOOR_GUI_MODULE
    if (dlopen(TASKBELL_FLOOR_GUI_MODULE, RTLD_NOW | RTLD_LOCAL) == NULL) {
        return 1;
    }
#endif
    char line[65536];
    if (fgets(line, sizeof line, stdin) == NULL) {
        return 1;
    }
    static const char reply[] =
        "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"capabilities\":{\"tools\":{\"listChanged\":false}},"
        "\"protocolVersion\":\"2025-06-18\",\"serverInfo\":{\"name\":\"taskbell\",\"version\":\"1.10.0\"}}}\n";
    return write(1, reply, sizeof reply - 1) == (ssize_t)(sizeof reply - 1) ? 0 : 1;
}
