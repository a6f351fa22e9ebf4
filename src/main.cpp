#include <cerrno>
#include <cstring>
#include <iostream>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include "core/mcp/server.h"
#include "core/platform/executable.h"

namespace {

// Started with a standard descriptor closed (`1>&-`), the next file opened would take its number and
// receive whatever is written there: protocol lines could land in the settings file. /dev/null fills the gap.
void openClosedStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                ::dup2(opened, fd);
                ::close(opened);
            }
        }
    }
}

// The desktop application lives in a module beside the executable, so that --mcp never loads Qt.
int runDesktopApplication(int argc, char** argv)
{
    auto executable = taskbell::platform::runningExecutable();
    if (!executable) {
        std::cerr << "taskbell: cannot find the running executable.\n";
        return 1;
    }
    auto module = executable->parent_path() / "libtaskbell_gui.so";
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::cerr << "taskbell: cannot load the desktop application (" << ::dlerror()
                  << "); the MCP server still runs with --mcp.\n";
        return 1;
    }
    using Entry = int (*)(int, char**);
    auto entry = reinterpret_cast<Entry>(::dlsym(handle, "taskbell_app_main"));
    if (entry == nullptr) {
        std::cerr << "taskbell: " << module.string() << " is not a Taskbell application module.\n";
        return 1;
    }
    return entry(argc, argv);
}

} // namespace

int main(int argc, char** argv)
{
    openClosedStandardDescriptors();
    // Decide the mode before anything else exists: the MCP server never creates a user-interface object.
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mcp") == 0) {
            taskbell::MCPServer::run();
        }
    }
    return runDesktopApplication(argc, argv);
}
