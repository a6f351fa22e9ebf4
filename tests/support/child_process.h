#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace taskbell::test {

struct ProcessResult
{
    int exitCode = -1; // -1 when killed by a signal or timed out
    int signal = 0;    // the terminating signal, if any
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ProcessOptions
{
    std::string input{};                                     // written to standard input, then closed
    std::map<std::string, std::optional<std::string>> env{}; // set (value) or unset (nullopt) on top of ours
    std::chrono::milliseconds timeout{30000};
};

// Runs a program with pipes for all three standard streams and collects everything it writes.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// An interactive child: write lines, read lines from standard output, with time-outs.
class ChildProcess
{
public:
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::optional<std::string>>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void write(const std::string& bytes);
    // Next line of standard output without its terminator; nothing on end of output or time-out.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    void closeInput();
    // Waits for exit (killing the child after the time-out) and returns everything written to stderr.
    ProcessResult wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    int pid() const { return pid_; }
    // Our end of the pipe that is the child's standard output (-1 once it has ended).
    int outputDescriptor() const { return out_; }

private:
    int pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
    bool waited_ = false;
    bool pump(std::chrono::steady_clock::time_point deadline, bool input);
};

// A process id that certainly belongs to nobody any more: a child of ours that has exited and been reaped.
int deadPid();

// Waits for a child of ours; its exit status, or -1 when it did not exit normally or could not be waited for.
int waitExit(int pid);

} // namespace taskbell::test
