// Serves the fake Jira Cloud with sample data until interrupted, for manual runs of the app and the MCP mode.
// Usage: fake_jira [--https]

#include <csignal>
#include <cstring>
#include <iostream>

#include "fake_jira.h"

int main(int argc, char** argv)
{
    taskbell::test::FakeJira::Options options;
    options.sampleIssues = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--https") == 0) {
            options.https = true;
        } else {
            std::cerr << "usage: fake_jira [--https]\n";
            return 2;
        }
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Block before the server's threads start so only sigwait below sees them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    taskbell::test::FakeJira jira(options);
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
