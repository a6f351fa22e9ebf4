#include "core/update/process_run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/base/text_util.h"

extern char** environ;

namespace taskbell {
namespace {

// A program's output beyond this is read and dropped, so a runaway program cannot fill our memory.
constexpr std::size_t kMaxOutputBytes = std::size_t{16} << 20;

// posix_spawn attributes and file actions with their cleanup, set up the same way for both kinds of child.
class SpawnSetup
{
public:
    SpawnSetup()
    {
        posix_spawnattr_init(&attributes_);
        posix_spawn_file_actions_init(&actions_);
        // The child starts with no blocked signals and default dispositions, whatever our threads changed.
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD}) {
            sigaddset(&defaults, signal);
        }
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        flags_ = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void addFlags(short flags) { flags_ = static_cast<short>(flags_ | flags); }
    posix_spawn_file_actions_t* actions() { return &actions_; }

    // Returns 0 or the error number of the failed start.
    int spawn(pid_t* pid, const std::string& path, const std::vector<std::string>& arguments)
    {
        posix_spawnattr_setflags(&attributes_, flags_);
        // Nothing of ours but the three standard streams reaches the child.
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        return posix_spawn(pid, path.c_str(), &actions_, &attributes_, argv.data(), environ);
    }

private:
    posix_spawnattr_t attributes_{};
    posix_spawn_file_actions_t actions_{};
    short flags_ = 0;
};

void readToEnd(int fd, std::string& output)
{
    std::array<char, 1 << 14> buffer{};
    for (;;) {
        ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return;
        }
        std::size_t room = kMaxOutputBytes - std::min(kMaxOutputBytes, output.size());
        output.append(buffer.data(), std::min(room, static_cast<std::size_t>(got)));
    }
}

int waitForExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace

RunResult run(const std::string& path, const std::vector<std::string>& arguments)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return {-1, std::generic_category().message(errno)};
    }
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(setup.actions(), pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(setup.actions(), pipeEnds[1], 2);
    pid_t pid = -1;
    int error = setup.spawn(&pid, path, arguments);
    ::close(pipeEnds[1]);
    if (error != 0) {
        ::close(pipeEnds[0]);
        return {-1, std::generic_category().message(error)};
    }
    RunResult result;
    readToEnd(pipeEnds[0], result.output);
    ::close(pipeEnds[0]);
    result.status = waitForExit(pid);
    if (!isValidUtf8(result.output)) {
        result.output.clear();
    }
    return result;
}

pid_t spawnDetached(const std::string& path, const std::vector<std::string>& arguments)
{
    SpawnSetup setup;
    setup.addFlags(POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(setup.actions(), 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(setup.actions(), 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (int error = setup.spawn(&pid, path, arguments); error != 0) {
        throw std::system_error(error, std::generic_category(), "Could not start " + path);
    }
    return pid;
}

} // namespace taskbell
