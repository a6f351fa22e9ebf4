// Peak memory of a real `taskbell --mcp` on large input, and its growth over many tool calls. Each case runs
// in a fresh server process; the figures are VmHWM (peak resident set) and VmRSS from /proc/<pid>/status.
// Needs a Secret Service (run under scripts/with-keyring.sh).
// Usage: bench_mcp_memory [calls-for-the-growth-case [taskbell-executable]]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "child_process.h"
#include "core/platform/keychain.h"
#include "fake_jira.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

std::string executable = TASKBELL_EXE;

// Kilobytes of one "VmXXX:" line of the process's status.
long statusKilobytes(int pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field + ":")) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

std::string call(int id, const std::string& tool, const Json& arguments)
{
    return Json{{"jsonrpc", "2.0"},
                {"id", id},
                {"method", "tools/call"},
                {"params", {{"name", tool}, {"arguments", arguments}}}}
               .dump() +
           "\n";
}

// A description of many small text nodes: the costliest shape per byte.
Json bulkyDescription(std::size_t bytes)
{
    Json content = Json::array();
    for (std::size_t size = 0; size < bytes; size += 27) {
        content.push_back({{"type", "text"}, {"text", "a"}});
    }
    return {{"type", "doc"}, {"version", 1}, {"content", {{{"type", "paragraph"}, {"content", std::move(content)}}}}};
}

void expectReply(ChildProcess& server)
{
    if (!server.readLine(std::chrono::minutes(5))) {
        std::fprintf(stderr, "no reply\n");
        std::exit(1);
    }
}

struct Figures
{
    long peakMiB = 0;
    long afterMiB = 0;
};

Figures measure(const TempDir& config, const std::function<void(ChildProcess&)>& drive)
{
    ChildProcess server({executable, "--mcp"}, {{"XDG_CONFIG_HOME", config.path().string()}});
    drive(server);
    // A ping answered after the case: whatever the server gives back after a message has been given back.
    server.write("{\"jsonrpc\":\"2.0\",\"id\":\"after\",\"method\":\"ping\"}\n");
    expectReply(server);
    Figures figures{statusKilobytes(server.pid(), "VmHWM") / 1024, statusKilobytes(server.pid(), "VmRSS") / 1024};
    server.closeInput();
    server.wait();
    return figures;
}

void report(const char* what, const Figures& figures)
{
    std::printf("%-58s peak %5ld MiB, after %5ld MiB\n", what, figures.peakMiB, figures.afterMiB);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (argc > 2) {
        executable = argv[2];
    }
    FakeJira jira;
    FakeIssue small;
    small.summary = "A small issue";
    small.assigneeAccountId = jira.accountId();
    std::string smallKey = jira.addIssue(small);

    TempDir config;
    writeFile(config / "com.quillet.taskbell" / "settings.json",
              Json{{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"projectKey", "TB"}}.dump());
    if (!Keychain::set(jira.token(), Keychain::kTokenAccount)) {
        std::fprintf(stderr, "no Secret Service: run under scripts/with-keyring.sh\n");
        return 1;
    }

    report("idle server (initialize only)", measure(config, [](ChildProcess& server) {
               server.write("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\"}\n");
               expectReply(server);
           }));

    std::string bullets;
    for (int i = 0; i < 1'500'000; ++i) {
        bullets += "- a\n";
    }
    report("create_task, description \"- a\\n\" x 1.5 M (6 MB line)", measure(config, [&](ChildProcess& server) {
               server.write(call(1, "create_task", {{"summary", "Big"}, {"description", bullets}}));
               expectReply(server);
           }));

    std::string objects = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\",\"params\":{\"x\":[{}";
    while (objects.size() < (std::size_t{8} << 20) - 16) {
        objects += ",{}";
    }
    objects += "]}}\n";
    report("one 8 MiB line of {} objects", measure(config, [&](ChildProcess& server) {
               server.write(objects);
               server.write("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}\n");
               expectReply(server);
           }));

    // Jira's answers are served as prepared text: one issue whose description is 30 MB of small text nodes.
    std::string description = bulkyDescription(std::size_t{30} << 20).dump();
    auto issueJson = [&](const std::string& key) {
        return "{\"id\":\"1\",\"key\":\"" + key +
               "\",\"fields\":{\"summary\":\"Big\",\"status\":{\"name\":\"In Progress\"},\"description\":" +
               description + "}}";
    };
    jira.setRoute("GET", "/rest/api/3/issue/BIG-1",
                  [&](const LoggedRequest&) { return FakeReply(200, issueJson("BIG-1")); });
    report("get_task of an issue with a 30 MB description", measure(config, [&](ChildProcess& server) {
               server.write(call(1, "get_task", {{"issueKey", "BIG-1"}}));
               expectReply(server);
           }));

    // Six pages of one issue each, every one with a 30 MB description.
    jira.setRoute("POST", "/rest/api/3/search/jql", [&](const LoggedRequest& request) {
        int page = request.json().value("nextPageToken", std::string("0")).front() - '0';
        std::string next = page < 5 ? ",\"nextPageToken\":\"" + std::to_string(page + 1) + "\"" : "";
        return FakeReply(200, "{\"issues\":[" + issueJson("BIG-" + std::to_string(page + 1)) + "]" + next + "}");
    });
    report("list_tasks limit 6, six pages with a 30 MB description", measure(config, [&](ChildProcess& server) {
               server.write(call(1, "list_tasks", {{"filter", "in_progress"}, {"limit", 6}}));
               expectReply(server);
           }));
    jira.setRoute("POST", "/rest/api/3/search/jql", nullptr);

    long before = 0;
    Figures growth = measure(config, [&](ChildProcess& server) {
        for (int i = 0; i < calls; ++i) {
            server.write(call(i, "get_task", {{"issueKey", smallKey}}));
            expectReply(server);
            if (i == 999) {
                before = statusKilobytes(server.pid(), "VmRSS");
            }
        }
    });
    std::printf("%d get_task calls: resident %ld KiB after 1,000 calls, %ld KiB after all (growth %ld KiB)\n", calls,
                before, growth.afterMiB * 1024, growth.afterMiB * 1024 - before);
    Keychain::set("", Keychain::kTokenAccount);
    return 0;
}
