#include "core/update/process_run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
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
    // The child leads a process group of its own, so that it can be stopped with whatever it started.
    void newProcessGroup()
    {
        posix_spawnattr_setpgroup(&attributes_, 0);
        addFlags(POSIX_SPAWN_SETPGROUP);
    }
    posix_spawn_file_actions_t* actions() { return &actions_; }

    // Returns 0 or the error number of the failed start. The child gets our environment unless one is given.
    int spawn(pid_t* pid, const std::string& path, const std::vector<std::string>& arguments,
              const std::vector<std::string>* environment = nullptr)
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
        std::vector<char*> envp;
        if (environment != nullptr) {
            for (const auto& entry : *environment) {
                envp.push_back(const_cast<char*>(entry.c_str()));
            }
            envp.push_back(nullptr);
        }
        return posix_spawn(pid, path.c_str(), &actions_, &attributes_, argv.data(),
                           environment != nullptr ? envp.data() : environ);
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

// Reads what is there without blocking; false once the pipe has ended.
bool readAvailable(int fd, std::string& into, std::size_t cap)
{
    std::array<char, 1 << 14> buffer{};
    ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
        return errno == EINTR || errno == EAGAIN;
    }
    into.append(buffer.data(), std::min(cap - std::min(cap, into.size()), static_cast<std::size_t>(got)));
    return got > 0;
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

BoundedRunResult runBounded(const std::string& path, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment, const std::string& input,
                            std::chrono::milliseconds limit, const std::atomic<bool>* cancel)
{
    constexpr std::size_t kCap = std::size_t{1} << 20;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC | O_NONBLOCK) != 0) {
        return {-1, {}, std::generic_category().message(errno), true};
    }
    if (::pipe2(err, O_CLOEXEC | O_NONBLOCK) != 0) {
        int error = errno;
        ::close(out[0]);
        ::close(out[1]);
        return {-1, {}, std::generic_category().message(error), true};
    }
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(setup.actions(), 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(setup.actions(), out[1], 1);
    posix_spawn_file_actions_adddup2(setup.actions(), err[1], 2);
    setup.newProcessGroup();
    pid_t pid = -1;
    int error = setup.spawn(&pid, path, arguments, &environment);
    ::close(out[1]);
    ::close(err[1]);
    BoundedRunResult result;
    if (error != 0) {
        ::close(out[0]);
        ::close(err[0]);
        return {-1, {}, std::generic_category().message(error), true};
    }
    // Read both pipes until they end and the program has exited, or until the limit or a cancellation.
    auto deadline = std::chrono::steady_clock::now() + limit;
    bool outOpen = true;
    bool errOpen = true;
    int status = 0;
    pid_t exited = 0;
    while (std::chrono::steady_clock::now() < deadline && !(cancel != nullptr && cancel->load())) {
        std::array<pollfd, 2> entries{pollfd{outOpen ? out[0] : -1, POLLIN, 0},
                                      pollfd{errOpen ? err[0] : -1, POLLIN, 0}};
        if (::poll(entries.data(), entries.size(), outOpen || errOpen ? 100 : 10) < 0 && errno != EINTR) {
            break;
        }
        if (outOpen && entries[0].revents != 0) {
            outOpen = readAvailable(out[0], result.output, kCap);
        }
        if (errOpen && entries[1].revents != 0) {
            errOpen = readAvailable(err[0], result.errors, kCap);
        }
        if (!outOpen && !errOpen && (exited = ::waitpid(pid, &status, WNOHANG)) == pid) {
            break;
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    result.ended = exited == pid;
    if (!result.ended) {
        ::kill(-pid, SIGKILL);
        result.status = waitForExit(pid);
    } else if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else {
        result.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
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
