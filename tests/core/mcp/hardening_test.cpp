// Hostile and odd conditions around the real `taskbell --mcp`: closed standard descriptors at start, NUL
// bytes and value bombs on the input, terminal escapes and bidi overrides from Jira, keys from Jira in
// request paths, a stored token with surrounding white space. The fake Jira Cloud and the private keyring
// stand behind the process.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.h"
#include "core/base/encoding.h"
#include "core/platform/executable.h"
#include "core/platform/keychain.h"
#include "fake_jira.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

const std::string kReady = "[taskbell-mcp] ready (Taskbell " + platform::runningVersion() + ")\n";
const std::string kUnparsable = "[taskbell-mcp] ignoring unparsable line\n";

std::string toolCall(int id, const std::string& tool, const Json& arguments)
{
    return Json{{"jsonrpc", "2.0"},
                {"id", id},
                {"method", "tools/call"},
                {"params", {{"name", tool}, {"arguments", arguments}}}}
               .dump() +
           "\n";
}

// The text of the one tool result in a response line, and whether it is an error.
std::pair<std::string, bool> toolResult(const std::string& line)
{
    Json result = Json::parse(line).at("result");
    return {result.at("content")[0].at("text").get<std::string>(), result.value("isError", false)};
}

std::string linkTarget(const std::string& link)
{
    std::error_code ec;
    return fs::read_symlink(link, ec).string();
}

class McpHardening : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeFile(config / "com.quillet.taskbell" / "settings.json",
                  Json{{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"projectKey", "TB"}}.dump());
        ASSERT_TRUE(Keychain::set(jira.token(), Keychain::kTokenAccount));
    }
    void TearDown() override { Keychain::set("", Keychain::kTokenAccount); }

    std::map<std::string, std::optional<std::string>> environment() const
    {
        return {{"XDG_CONFIG_HOME", config.path().string()},
                {"XDG_STATE_HOME", (config / "state").string()},
                {"TZ", "UTC"},
                {"LC_ALL", "C"}};
    }

    // Runs the given lines through one server and returns its standard output and error.
    ProcessResult session(const std::string& input)
    {
        return runProcess({TASKBELL_EXE, "--mcp"}, {.input = input, .env = environment()});
    }

    std::pair<std::string, bool> callOnce(const std::string& tool, const Json& arguments)
    {
        ProcessResult result = session(toolCall(1, tool, arguments));
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return toolResult(result.out.substr(0, result.out.find('\n')));
    }

    FakeJira jira;
    TempDir config;
};

} // namespace

// Started with a standard descriptor closed, the next file or socket opened would take its number and
// protocol lines or diagnostics would go into it (the session bus connection, the settings file).
TEST_F(McpHardening, ClosedStandardDescriptorsAreFilledBeforeAnythingOpens)
{
    FakeIssue issue;
    issue.summary = "Still answered";
    std::string key = jira.addIssue(issue);
    struct Case
    {
        int closed;
        bool answerVisible; // the protocol stream still reaches us
    };
    for (Case c : {Case{1, false}, Case{2, true}}) {
        SCOPED_TRACE(c.closed);
        jira.clearLog();
        ChildProcess server({"/bin/sh", "-c", "exec \"$0\" --mcp " + std::to_string(c.closed) + ">&-", TASKBELL_EXE},
                            environment());
        server.write(toolCall(1, "get_task", {{"issueKey", key}}));
        ASSERT_TRUE(jira.waitForRequests(1));
        if (c.answerVisible) {
            auto line = server.readLine();
            ASSERT_TRUE(line);
            EXPECT_EQ(toolResult(*line).first.rfind(key + " \u2014 Still answered", 0), 0u) << *line;
        }
        std::string folder = "/proc/" + std::to_string(server.pid()) + "/fd/";
        // Descriptor 1 is a copy of standard error (the protocol has its own copy); 2 is what it was or /dev/null.
        EXPECT_EQ(linkTarget(folder + "1"), linkTarget(folder + "2"));
        if (c.closed == 2) {
            EXPECT_EQ(linkTarget(folder + "2"), "/dev/null");
        }
        server.closeInput();
        ProcessResult end = server.wait();
        EXPECT_EQ(end.exitCode, 0);
        EXPECT_EQ(end.err, c.closed == 2 ? "" : kReady);
    }
    Json settings{{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"projectKey", "TB"}};
    EXPECT_EQ(readFile(config / "com.quillet.taskbell" / "settings.json"), settings.dump());
}

TEST_F(McpHardening, LinesThatCannotBeMessagesAreReported)
{
    const std::string ping = "{\"id\":1,\"method\":\"ping\"}";
    std::string objects = "{\"id\":1,\"method\":\"ping\",\"params\":{\"x\":[{}";
    while (objects.size() < (std::size_t{8} << 20) - 16) {
        objects += ",{}";
    }
    objects += "]}}\n";
    struct Case
    {
        std::string name;
        std::string line;
    };
    for (const Case& c : std::vector<Case>{
             {"NUL between two messages", ping + '\0' + "{\"id\":9,\"method\":\"ping\"}\n"},
             {"NUL before a message", '\0' + ping + "\n"},
             {"a value bomb under the line cap", objects},
         }) {
        SCOPED_TRACE(c.name);
        ProcessResult result = session(c.line + "{\"id\":2,\"method\":\"ping\"}\n");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
        EXPECT_EQ(result.err, kReady + kUnparsable);
    }
}

TEST_F(McpHardening, TextFromJiraIsShownWithoutControlsOrOverrides)
{
    const std::string hostile = "Pay\x1b[2J\x1b]0;owned\x07 \u202Etxt.exe\u2066x\u2069 a\rb\r\nc";
    const std::string shown = "Pay\uFFFD[2J\uFFFD]0;owned\uFFFD \uFFFDtxt.exe\uFFFDx\uFFFD a\uFFFDb\nc";
    FakeIssue issue;
    issue.summary = hostile;
    issue.assigneeAccountId = jira.accountId();
    issue.description = {{"type", "doc"},
                         {"version", 1},
                         {"content", {{{"type", "paragraph"}, {"content", {{{"type", "text"}, {"text", hostile}}}}}}}};
    std::string key = jira.addIssue(issue);

    auto [text, failed] = callOnce("get_task", {{"issueKey", key}});
    EXPECT_FALSE(failed);
    EXPECT_EQ(text.rfind(key + " \u2014 " + shown + "\n", 0), 0u) << text;
    EXPECT_NE(text.find("Description:\n" + shown), std::string::npos) << text;
    for (char control : {'\x1b', '\x07', '\r', '\0'}) {
        EXPECT_EQ(text.find(control), std::string::npos) << int(control);
    }

    // An error body that is not UTF-8 keeps its readable part.
    jira.setRoute("GET", "/rest/api/3/issue/" + key, [](const LoggedRequest&) {
        return FakeReply(502, "Bad gateway \xff\xfe from \x1b[31mproxy", "text/plain");
    });
    auto [error, isError] = callOnce("get_task", {{"issueKey", key}});
    EXPECT_TRUE(isError);
    EXPECT_EQ(error, "Jira returned HTTP 502. Bad gateway \uFFFD\uFFFD from \uFFFD[31mproxy");
}

TEST_F(McpHardening, KeysFromJiraStayInsideTheIssuePath)
{
    jira.setRoute("POST", "/rest/api/3/issue",
                  [](const LoggedRequest&) { return FakeReply(201, R"({"id":"10001","key":"../../../x?y=#"})"); });
    auto [text, failed] = callOnce("create_task", {{"summary", "Escape"}, {"status", "done"}, {"assignToMe", false}});
    EXPECT_FALSE(failed);
    std::vector<std::string> targets;
    for (const LoggedRequest& request : jira.requests()) {
        targets.push_back(request.method + " " + request.target);
        EXPECT_EQ(request.path().rfind("/rest/api/3/", 0), 0u) << request.target;
        EXPECT_EQ(request.path().find("/x"), std::string::npos) << request.target;
    }
    EXPECT_NE(std::find(targets.begin(), targets.end(),
                        "GET /rest/api/3/issue/%2E%2E%2F%2E%2E%2F%2E%2E%2Fx%3Fy%3D%23/transitions"),
              targets.end())
        << text << "\n"
        << ::testing::PrintToString(targets);
}

TEST_F(McpHardening, ATokenStoredWithWhiteSpaceAroundItSignsIn)
{
    FakeIssue issue;
    issue.summary = "Signed in";
    std::string key = jira.addIssue(issue);
    for (const std::string& stored : {" " + jira.token(), jira.token() + "\n", "\t" + jira.token() + " \r\n"}) {
        ASSERT_TRUE(Keychain::set(stored, Keychain::kTokenAccount));
        jira.clearLog();
        auto [text, failed] = callOnce("get_task", {{"issueKey", key}});
        EXPECT_FALSE(failed) << text;
        auto requests = jira.requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.front().header("Authorization"), "Basic " + base64Encode(jira.email() + ":" + jira.token()));
        // The stored value itself is left as it is.
        EXPECT_EQ(Keychain::get(Keychain::kTokenAccount), stored);
    }
}
