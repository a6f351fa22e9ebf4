#include <cerrno>
#include <cstring>
#include <iostream>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include "core/base/http.h"
#include "core/mcp/server.h"
#include "core/platform/executable.h"
#include "core/platform/keychain.h"
#include "core/update/archive_extract.h"
#include "core/update/crypto.h"

// libcurl's LDAP and RTMP dependencies bring GnuTLS into the process, and GnuTLS sets up its whole crypto stack
// in a library constructor when it is loaded: about 0.6 MB resident for a library this program never calls
// (libcurl speaks TLS through OpenSSL, and only http and https). GnuTLS skips that implicit set-up when the
// program defines this function (what its GNUTLS_SKIP_GLOBAL_INIT macro expands to); a library that does use
// GnuTLS still initialises it explicitly. Exported from the executable, so it is found before GnuTLS's weak default.
extern "C" __attribute__((visibility("default"))) int _gnutls_global_init_skip()
{
    return 1;
}

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

using AppEntry = int (*)(int, char**);

// The desktop application lives in a module beside the executable, so that --mcp never loads Qt. Every
// library and symbol is bound at once, so a module that cannot link fails here, not halfway through a run.
AppEntry loadDesktopApplication()
{
    auto executable = taskbell::platform::runningExecutable();
    if (!executable) {
        std::cerr << "taskbell: cannot find the running executable.\n";
        return nullptr;
    }
    auto module = executable->parent_path() / "libtaskbell_gui.so";
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::cerr << "taskbell: cannot load the desktop application (" << ::dlerror()
                  << "); the MCP server still runs with --mcp.\n";
        return nullptr;
    }
    auto entry = reinterpret_cast<AppEntry>(::dlsym(handle, "taskbell_app_main"));
    if (entry == nullptr) {
        std::cerr << "taskbell: " << module.string() << " is not a Taskbell application module.\n";
    }
    return entry;
}

// The libraries the core otherwise opens on first use, opened now so that a missing or broken one is named at
// once instead of failing a later request. False after printing why.
bool loadLibraries(bool forUpdates, const char* prefix)
{
    try {
        taskbell::http::loadLibrary();
        taskbell::Keychain::loadLibrary();
        if (forUpdates) {
            taskbell::crypto();
            taskbell::update::loadArchiveLibrary();
        }
        return true;
    } catch (const std::exception& error) {
        std::cerr << prefix << error.what() << "\n";
        return false;
    }
}

} // namespace

int main(int argc, char** argv)
{
    openClosedStandardDescriptors();
    // Decide the mode before anything else exists: the MCP server never creates a user-interface object.
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mcp") == 0) {
            if (!loadLibraries(/*forUpdates=*/false, "[taskbell-mcp] ")) {
                return 1;
            }
            taskbell::MCPServer::run();
        }
    }
    auto entry = loadDesktopApplication();
    if (entry == nullptr) {
        return 1;
    }
    // The updater's proof that a downloaded version links on this system, before it replaces anything.
    if (argc == 2 && std::strcmp(argv[1], "--check-module") == 0) {
        return loadLibraries(/*forUpdates=*/true, "") ? 0 : 1;
    }
    return entry(argc, argv);
}
