#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace taskbell::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::optional<std::string>>& changes)
{
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        auto eq = text.find('=');
        if (eq != std::string::npos) {
            merged[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            merged[name] = *value;
        } else {
            merged.erase(name);
        }
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) {
        result.push_back(name + "=" + value);
    }
    return result;
}

int spawn(const std::vector<std::string>& argv, const std::map<std::string, std::optional<std::string>>& env, int& in,
          int& out, int& err)
{
    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
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
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (rc != 0) {
        ::close(inPipe[1]);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        throw std::runtime_error(std::string("posix_spawn failed: ") + std::strerror(rc));
    }
    in = inPipe[1];
    out = outPipe[0];
    err = errPipe[0];
    return pid;
}

enum class ReadState { data, wouldBlock, end };

ReadState readSome(int fd, std::string& into)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            return ReadState::data;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 && errno == EAGAIN ? ReadState::wouldBlock : ReadState::end;
    }
}

ProcessResult reap(int pid, std::chrono::milliseconds timeout)
{
    ProcessResult result;
    auto deadline = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        ::usleep(2000);
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ChildProcess child(argv, options.env);
    child.write(options.input);
    child.closeInput();
    std::string out;
    while (auto line = child.readLine(options.timeout)) {
        out += *line + "\n";
    }
    ProcessResult result = child.wait(options.timeout);
    result.out = out + result.out;
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::optional<std::string>>& env)
{
    pid_ = spawn(argv, env, in_, out_, err_);
    ::fcntl(err_, F_SETFL, ::fcntl(err_, F_GETFL) | O_NONBLOCK);
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

void ChildProcess::write(const std::string& bytes)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::size_t done = 0;
    while (done < bytes.size()) {
        pollfd fds[2] = {{in_, POLLOUT, 0}, {err_, POLLIN, 0}};
        ::poll(fds, 2, 1000);
        if (fds[1].revents & POLLIN) {
            drainErr();
        }
        if (fds[0].revents & (POLLERR | POLLHUP)) {
            return;
        }
        if (fds[0].revents & POLLOUT) {
            ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return;
            }
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            }
        }
    }
}

void ChildProcess::drainErr()
{
    if (err_ < 0) {
        return;
    }
    ReadState state;
    while ((state = readSome(err_, errBuffer_)) == ReadState::data) {
    }
    if (state == ReadState::end) {
        ::close(err_);
        err_ = -1;
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto newline = outBuffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = outBuffer_.substr(0, newline);
            outBuffer_.erase(0, newline + 1);
            return line;
        }
        if (out_ < 0) {
            return std::nullopt;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return std::nullopt;
        }
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        ::poll(fds, 2, static_cast<int>(left));
        if (fds[1].revents & POLLIN) {
            drainErr();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (readSome(out_, outBuffer_) == ReadState::end) {
                ::close(out_);
                out_ = -1;
            }
        }
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
    // Keep draining both pipes so the child can never block on a full one.
    while (out_ >= 0 || err_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left)) <= 0) {
            continue;
        }
        if (out_ >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) &&
            readSome(out_, outBuffer_) == ReadState::end) {
            ::close(out_);
            out_ = -1;
        }
        if (err_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            drainErr();
        }
    }
    auto left = std::max<std::chrono::milliseconds>(
        std::chrono::milliseconds(1), std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    ProcessResult result = reap(pid_, left);
    waited_ = true;
    result.out = outBuffer_;
    result.err = errBuffer_;
    outBuffer_.clear();
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
