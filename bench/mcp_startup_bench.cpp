// Start-up of `taskbell --mcp`: time from spawn to the initialize reply, and peak RSS, as medians over
// many runs, side by side with floor programs (a tiny C program, the same program linked against taskbell's
// shared libraries, and one that also loads the desktop application module and so Qt). Also reports whether
// a running `taskbell --mcp` has any Qt library mapped. Prints a table; asserts nothing.
// Usage: bench_mcp_startup [runs [taskbell]] (another taskbell, such as a sealed bundle's, in place of the build's)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Sample
{
    double millis;
    long maxRssKb;
    int qtLibraries; // Qt libraries mapped into the process while it waited for more input
};

int qtLibrariesMapped(pid_t pid)
{
    std::string path = "/proc/" + std::to_string(pid) + "/maps";
    FILE* maps = std::fopen(path.c_str(), "r");
    if (maps == nullptr) {
        return -1;
    }
    std::vector<std::string> seen;
    char line[4096];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        const char* name = std::strstr(line, "libQt6");
        if (name != nullptr && std::find(seen.begin(), seen.end(), std::string(name)) == seen.end()) {
            seen.emplace_back(name);
        }
    }
    std::fclose(maps);
    return static_cast<int>(seen.size());
}

Sample runOnce(const char* program, bool mcp)
{
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    std::vector<char*> argv{const_cast<char*>(program)};
    if (mcp) {
        argv.push_back(const_cast<char*>("--mcp"));
    }
    argv.push_back(nullptr);

    static const char request[] =
        "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":\"2025-06-18\","
        "\"capabilities\":{},\"clientInfo\":{\"name\":\"bench\",\"version\":\"1\"}}}\n";
    auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (write(toChild[1], request, sizeof request - 1) < 0) {
        std::perror("write");
    }
    std::string reply;
    char buffer[4096];
    while (reply.find('\n') == std::string::npos) {
        ssize_t n = read(fromChild[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    int qt = qtLibrariesMapped(pid); // taskbell still runs here, waiting for its next line
    close(toChild[1]);
    close(fromChild[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    posix_spawn_file_actions_destroy(&actions);
    if (reply.find("\"protocolVersion\"") == std::string::npos) {
        std::fprintf(stderr, "%s: no initialize reply\n", program);
        std::exit(1);
    }
    return {elapsed, usage.ru_maxrss, qt};
}

template <typename T> T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 60;
    struct Program
    {
        const char* label;
        const char* path;
        bool mcp;
        std::vector<double> millis;
        std::vector<long> rss;
        int qtLibraries = 0;
    };
    std::vector<Program> programs{{"taskbell --mcp", argc > 2 ? argv[2] : TASKBELL_EXE, true, {}, {}},
                                  {"floor (tiny C)", FLOOR_EXE, false, {}, {}},
                                  {"floor (taskbell's libraries)", FLOOR_LINKED_EXE, false, {}, {}},
                                  {"floor + GUI module (Qt) loaded", FLOOR_GUI_EXE, false, {}, {}}};
    // Interleave the programs so that machine noise affects all of them alike.
    for (int i = 0; i < runs + 3; ++i) {
        for (auto& program : programs) {
            Sample sample = runOnce(program.path, program.mcp);
            if (i >= 3) { // warm-up runs fill the page cache
                program.millis.push_back(sample.millis);
                program.rss.push_back(sample.maxRssKb);
                program.qtLibraries = std::max(program.qtLibraries, sample.qtLibraries);
            }
        }
    }
    std::printf("%-30s %12s %12s %14s\n", "program", "median ms", "p90 ms", "peak RSS MB");
    for (auto& program : programs) {
        auto sorted = program.millis;
        std::sort(sorted.begin(), sorted.end());
        std::printf("%-30s %12.2f %12.2f %14.1f\n", program.label, median(program.millis),
                    sorted[sorted.size() * 9 / 10], median(program.rss) / 1024.0);
    }
    double ratio = median(programs[0].millis) / median(programs[2].millis);
    std::printf("taskbell / linked floor: %.2fx, %+.1f MB (%d runs each)\n", ratio,
                (median(programs[0].rss) - median(programs[2].rss)) / 1024.0, runs);
    std::printf("Qt libraries mapped by a running taskbell --mcp: %d\n", programs[0].qtLibraries);
    return 0;
}
