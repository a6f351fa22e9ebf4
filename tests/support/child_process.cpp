#include "child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace taskbell::test {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        if (changes.count(text.substr(0, text.find('='))) == 0) {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            result.push_back(name + "=" + *value);
        }
    }
    return result;
}

// Appends everything the (non-blocking) descriptor holds; closes it at the end of the stream.
void drain(int& fd, std::string& into)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            ::close(fd);
            fd = -1;
            return;
        } else if (errno == EAGAIN) {
            return;
        }
    }
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ChildProcess child(argv, options.env);
    child.write(options.input);
    return child.wait(options.timeout);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::optional<std::string>>& env)
{
    int pipes[3][2];
    for (auto& pipe : pipes) {
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int stream = 0; stream < 3; ++stream) {
        posix_spawn_file_actions_adddup2(&actions, pipes[stream][stream == 0 ? 0 : 1], stream);
    }
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    auto envStrings = mergedEnvironment(env);
    std::vector<char*> envp;
    for (auto& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    in_ = pipes[0][1];
    out_ = pipes[1][0];
    err_ = pipes[2][0];
    for (int stream = 0; stream < 3; ++stream) {
        ::close(pipes[stream][stream == 0 ? 0 : 1]);
        int ours = pipes[stream][stream == 0 ? 1 : 0];
        ::fcntl(ours, F_SETFL, ::fcntl(ours, F_GETFL) | O_NONBLOCK);
    }
    if (rc != 0) {
        for (int fd : {in_, out_, err_}) {
            ::close(fd);
        }
        throw std::runtime_error(std::string("posix_spawn failed: ") + std::strerror(rc));
    }
}

ChildProcess::~ChildProcess()
{
    if (!waited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

// Waits for a pipe (or the deadline), then moves what the child wrote into our buffers, so the child never
// blocks on a full pipe. With `input`, tells whether standard input takes bytes now.
bool ChildProcess::pump(Clock::time_point deadline, bool input)
{
    pollfd fds[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {input ? in_ : -1, POLLOUT, 0}};
    ::poll(fds, 3, millisecondsLeft(deadline));
    if (fds[0].revents != 0) {
        drain(out_, outBuffer_);
    }
    if (fds[1].revents != 0) {
        drain(err_, errBuffer_);
    }
    return fds[2].revents != 0;
}

void ChildProcess::write(const std::string& bytes)
{
    std::signal(SIGPIPE, SIG_IGN);
    for (std::size_t done = 0; done < bytes.size() && in_ >= 0;) {
        if (pump(Clock::now() + std::chrono::seconds(1), true)) {
            ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return; // the child closed its input
            }
            done += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
        }
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto newline = outBuffer_.find('\n'); newline != std::string::npos) {
            std::string line = outBuffer_.substr(0, newline);
            outBuffer_.erase(0, newline + 1);
            return line;
        }
        if (out_ < 0 || Clock::now() >= deadline) {
            return std::nullopt;
        }
        pump(deadline, false);
    }
}

void ChildProcess::closeInput()
{
    if (in_ >= 0) {
        ::close(in_);
        in_ = -1;
    }
}

ProcessResult ChildProcess::wait(std::chrono::milliseconds timeout)
{
    closeInput();
    auto deadline = Clock::now() + timeout;
    while ((out_ >= 0 || err_ >= 0) && Clock::now() < deadline) {
        pump(deadline, false);
    }
    ProcessResult result;
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            done = ::waitpid(pid_, &status, 0);
            result.timedOut = true;
            break;
        }
        ::usleep(2000);
    }
    waited_ = true;
    if (done == pid_ && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (done == pid_ && WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = std::exchange(outBuffer_, {});
    result.err = errBuffer_;
    return result;
}

int deadPid()
{
    ChildProcess child({"/bin/true"});
    int pid = child.pid();
    child.wait();
    return pid;
}

int waitExit(int pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace taskbell::test
