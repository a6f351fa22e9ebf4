// The real `taskbell --mcp` process in odd and hostile conditions: its arguments, closed standard descriptors
// at start, what the line reader skips. The fake Jira Cloud and the private keyring stand behind it; what each
// kind of message gets is the transport test's transcripts; hostile text and keys from Jira and odd stored
// tokens are the tool scenes'.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/platform/executable.h"
#include "core/platform/keychain.h"
#include "fake_jira.h"
#include "mcp_session.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

const std::string kReady = "[taskbell-mcp] ready (Taskbell " + platform::runningVersion() + ")\n";
const Json kCases = testData("mcp/hardening.json");

std::string linkTarget(const fs::path& link)
{
    std::error_code ec;
    return fs::read_symlink(link, ec).string();
}

class McpHardening : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeFile(config / "com.quillet.taskbell" / "settings.json", settings.dump());
        ASSERT_TRUE(Keychain::set(jira.token(), Keychain::kTokenAccount));
    }
    void TearDown() override { Keychain::set("", Keychain::kTokenAccount); }

    ProcessResult run(const std::string& input, std::vector<std::string> arguments = {"--mcp"})
    {
        arguments.insert(arguments.begin(), TASKBELL_EXE);
        return runProcess(arguments, {.input = input, .env = mcpEnvironment(config.path(), {}, "C")});
    }

    FakeJira jira;
    TempDir config;
    Json settings{{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"projectKey", "TB"}};
};

} // namespace

TEST_F(McpHardening, OnlyTheExactFlagServesAndEmptyInputEndsAtOnce)
{
    for (const std::vector<std::string> arguments : kCases.at("serving")) {
        ProcessResult result = run("", arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out + result.err, kReady);
    }
    // Without a display the desktop application says so in one line instead of serving MCP.
    for (std::vector<std::string> arguments : kCases.at("desktop")) {
        arguments.insert(arguments.begin(), TASKBELL_EXE);
        ProcessResult result =
            runProcess(arguments, {.env = {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("taskbell: no graphical display")) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

// Protocol lines go through a private copy of the original standard output; descriptor 1 becomes a copy of
// standard error, so nothing a library prints reaches the protocol stream. Started with a standard descriptor
// closed, the next file or socket opened would take its number (the session bus connection, the settings file).
TEST_F(McpHardening, StandardDescriptorsAreSortedOutBeforeAnythingOpens)
{
    FakeIssue issue;
    issue.summary = "Still answered";
    std::string key = jira.addIssue(issue);
    for (int closed : {0, 1, 2}) {
        SCOPED_TRACE(closed);
        jira.clearLog();
        std::string close = closed == 0 ? "" : " " + std::to_string(closed) + ">&-";
        ChildProcess server({"/bin/sh", "-c", "exec \"$0\" --mcp" + close, TASKBELL_EXE},
                            mcpEnvironment(config.path(), {}, "C"));
        server.write(toolCallLine(1, "get_task", {{"issueKey", key}}));
        ASSERT_TRUE(jira.waitForRequests(1));
        if (closed != 1) {
            EXPECT_NE(server.readLine().value_or("").find(key + " \u2014 Still answered"), std::string::npos);
        }
        fs::path folder = "/proc/" + std::to_string(server.pid()) + "/fd/";
        EXPECT_EQ(linkTarget(folder / "1"), linkTarget(folder / "2"));
        EXPECT_EQ(linkTarget(folder / "2") == "/dev/null", closed == 2);
        if (closed == 0) {
            std::string protocol = linkTarget("/proc/self/fd/" + std::to_string(server.outputDescriptor()));
            EXPECT_NE(linkTarget(folder / "1"), protocol);
            bool duplicated = false;
            for (const auto& entry : fs::directory_iterator(folder)) {
                duplicated = duplicated || (std::stoi(entry.path().filename()) > 2 && linkTarget(entry) == protocol);
            }
            EXPECT_TRUE(duplicated);
        }
        server.closeInput();
        ProcessResult end = server.wait();
        EXPECT_EQ(end.exitCode, 0);
        EXPECT_EQ(end.err, closed == 2 ? "" : kReady);
    }
    EXPECT_EQ(readFile(config / "com.quillet.taskbell" / "settings.json"), settings.dump());
}

TEST_F(McpHardening, TheLineReaderSkipsWhatCannotBeAMessage)
{
    const Json& lines = kCases.at("lines");
    for (const Json& row : lines) {
        SCOPED_TRACE(row["name"].get<std::string>());
        ProcessResult result = run(withBytes(textOf(row["input"])) + "{\"id\":2,\"method\":\"ping\"}");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, row["out"]);
        EXPECT_EQ(result.err, kReady + row["err"].get<std::string>());
    }
}
