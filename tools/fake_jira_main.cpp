// Serves the fake Jira Cloud with sample data until interrupted, for manual runs of the app and the MCP mode.
// Usage: fake_jira [--https] [--workspace | --issues N] [--info FILE]
//   --workspace  a realistic sample workspace (three projects, about forty issues) instead of a few issues
//   --issues N   N issues of the signed-in user over Backlog, In Progress and Done instead, for benchmarks
//   --info FILE  once serving, writes {"baseURL", "email", "apiToken"} as JSON to FILE (atomically)

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "fake_jira.h"
#include "sample_workspace.h"

namespace {

int usage()
{
    std::cerr << "usage: fake_jira [--https] [--workspace | --issues N] [--info FILE]\n";
    return 2;
}

bool writeInfo(const std::filesystem::path& file, const taskbell::test::FakeJira& jira)
{
    taskbell::test::Json info = {{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"apiToken", jira.token()}};
    auto temporary = file;
    temporary += ".partial";
    {
        std::ofstream out(temporary);
        out << info.dump() << "\n";
        if (!out.flush()) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    return !error;
}

} // namespace

int main(int argc, char** argv)
{
    taskbell::test::FakeJira::Options options;
    bool workspace = false;
    int bulk = -1;
    std::string infoFile;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--https") == 0) {
            options.https = true;
        } else if (std::strcmp(argv[i], "--workspace") == 0) {
            workspace = true;
        } else if (std::strcmp(argv[i], "--issues") == 0 && i + 1 < argc) {
            char* end = nullptr;
            long value = std::strtol(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || value < 0 || value > 100'000) {
                return usage();
            }
            bulk = static_cast<int>(value);
        } else if (std::strcmp(argv[i], "--info") == 0 && i + 1 < argc) {
            infoFile = argv[++i];
        } else {
            return usage();
        }
    }
    if (workspace && bulk >= 0) {
        return usage();
    }
    options.sampleIssues = !workspace && bulk < 0;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Block before the server's threads start so only sigwait below sees them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    taskbell::test::FakeJira jira(options);
    if (workspace) {
        taskbell::tools::loadSampleWorkspace(jira);
    } else if (bulk >= 0) {
        taskbell::tools::loadBulkIssues(jira, bulk);
    }
    if (!infoFile.empty() && !writeInfo(infoFile, jira)) {
        std::cerr << "fake_jira: cannot write " << infoFile << "\n";
        return 1;
    }
    std::cerr << "Fake Jira Cloud at " << jira.baseUrl() << "\n"
              << "e-mail: " << jira.email() << "\n"
              << "token:  " << jira.token() << "\n";
    if (options.https) {
        std::cerr << "certificate: " << jira.certificateFile().string() << "\n";
    }
    std::cerr << "Ctrl-C stops it.\n";
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
