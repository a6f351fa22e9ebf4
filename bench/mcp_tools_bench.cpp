// The MCP server's own overhead per tool call: `list_tasks` with filter "all" through a running
// `taskbell --mcp` against the fake Jira with no delay, minus the same three searches made directly with
// the Jira client in this process. Needs a Secret Service (run under scripts/with-keyring.sh).
// Usage: bench_mcp_tools [calls]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "child_process.h"
#include "core/jira/client.h"
#include "core/jira/jql.h"
#include "core/platform/keychain.h"
#include "fake_jira.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test;
using Clock = std::chrono::steady_clock;

namespace {

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int calls = argc > 1 ? std::atoi(argv[1]) : 200;
    FakeJira jira;
    for (int i = 0; i < 30; ++i) {
        FakeIssue issue;
        issue.summary = "Issue " + std::to_string(i);
        issue.statusId = i % 3 == 0 ? "10000" : i % 3 == 1 ? "3" : "10002";
        issue.assigneeAccountId = jira.accountId();
        jira.addIssue(issue);
    }
    TempDir config;
    writeFile(config / "com.quillet.taskbell" / "settings.json",
              Json{{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"projectKey", "TB"}}.dump());
    if (!Keychain::set(jira.token(), Keychain::kTokenAccount)) {
        std::fprintf(stderr, "no Secret Service: run under scripts/with-keyring.sh\n");
        return 1;
    }

    ChildProcess server({TASKBELL_EXE, "--mcp"}, {{"XDG_CONFIG_HOME", config.path().string()}});
    std::vector<double> throughServer;
    for (int i = 0; i < calls + 5; ++i) {
        Json request{{"jsonrpc", "2.0"},
                     {"id", i},
                     {"method", "tools/call"},
                     {"params", {{"name", "list_tasks"}, {"arguments", {{"filter", "all"}}}}}};
        auto start = Clock::now();
        server.write(request.dump() + "\n");
        auto line = server.readLine();
        double elapsed = millisSince(start);
        if (!line || line->find("\"isError\"") != std::string::npos) {
            std::fprintf(stderr, "tool call failed: %s\n", line ? line->c_str() : "(no reply)");
            return 1;
        }
        if (i >= 5) {
            throughServer.push_back(elapsed);
        }
    }
    server.wait();

    std::vector<double> direct;
    for (int i = 0; i < calls + 5; ++i) {
        auto start = Clock::now();
        JiraClient client{{jira.baseUrl(), jira.email(), jira.token()}};
        client.search(JQL::backlog, 100);
        client.search(JQL::inProgress, 100);
        client.search(JQL::assignedDone(2), 100);
        double elapsed = millisSince(start);
        if (i >= 5) {
            direct.push_back(elapsed);
        }
    }
    Keychain::set("", Keychain::kTokenAccount);

    double server_ms = median(throughServer);
    double direct_ms = median(direct);
    std::printf("list_tasks \"all\" through taskbell --mcp: median %.2f ms (%d calls)\n", server_ms, calls);
    std::printf("the same three searches in-process:     median %.2f ms\n", direct_ms);
    std::printf("server overhead per call:               %.2f ms\n", server_ms - direct_ms);
    return 0;
}
