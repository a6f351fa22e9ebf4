#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace taskbell {

struct RunResult
{
    int status = -1;    // exit status; 128 + signal when killed by a signal; -1 when it could not start
    std::string output; // standard output and standard error together; "" when not valid UTF-8
};

// Runs a program to completion with one pipe as both its standard output and standard error (standard input
// is /dev/null). The pipe is read to its end before waiting, so a chatty program cannot block on a full pipe.
// Never throws for the program's sake: a program that cannot start gives status -1 and the system's text.
RunResult run(const std::string& path, const std::vector<std::string>& arguments);

struct BoundedRunResult
{
    int status = -1;    // as RunResult::status
    std::string output; // standard output, at most 1 MiB
    std::string errors; // standard error, at most 1 MiB
    bool ended = false; // false when the program was killed for running past the limit (or on cancellation)
};

// Runs a program with standard input from the file `input`, exactly the given environment ("NAME=value"
// entries) and its standard output and standard error collected apart. A program still running after
// `limit`, or once *cancel is set, is killed with every process it started (it leads a process group of its
// own). Never throws for the program's sake, like run().
BoundedRunResult runBounded(const std::string& path, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment, const std::string& input,
                            std::chrono::milliseconds limit, const std::atomic<bool>* cancel = nullptr);

// Starts a program in a session of its own with its standard streams on /dev/null and without our other
// file descriptors, so it outlives us untouched. Returns its process id; throws std::system_error.
pid_t spawnDetached(const std::string& path, const std::vector<std::string>& arguments);

} // namespace taskbell
