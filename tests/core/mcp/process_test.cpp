// The real executable in --mcp mode, driven through pipes.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.h"
#include "core/platform/executable.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

const std::string kReady = "[taskbell-mcp] ready (Taskbell " + platform::runningVersion() + ")\n";

ProcessResult runMcp(const std::string& input, std::vector<std::string> extraArgs = {})
{
    std::vector<std::string> argv{TASKBELL_EXE};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    return runProcess(argv, {.input = input, .env = {{"XDG_CONFIG_HOME", "/nonexistent/taskbell-test"}}});
}

} // namespace

TEST(McpProcess, EmptyInputEndsAtOnceAfterTheReadyLine)
{
    for (auto args : std::vector<std::vector<std::string>>{{"--mcp"}, {"--verbose", "--mcp"}, {"x", "--mcp", "y"}}) {
        ProcessResult result = runMcp("", args);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, kReady);
    }
}

TEST(McpProcess, WithoutTheExactFlagTheDesktopApplicationStarts)
{
    // Without a display the desktop application says so in one line instead of serving MCP.
    for (auto args : std::vector<std::vector<std::string>>{{}, {"--MCP"}, {"--mcp=1"}, {"-mcp"}}) {
        std::vector<std::string> argv{TASKBELL_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult result =
            runProcess(argv, {.env = {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("taskbell: no graphical display", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

// What each kind of message gets is checked as transcripts in transport_test.cpp; here only what the line
// reader decides: CR LF, blank lines, an overlong line and a last line without a line feed.
TEST(McpProcess, TheLineReaderSkipsOverlongLinesAndTakesALastLineWithoutLineFeed)
{
    std::string overlong = "{\"id\":1,\"method\":\"ping\",\"pad\":\"" + std::string(9u << 20, 'x') + "\"}\n";
    ProcessResult result =
        runMcp("{\"id\":0,\"method\":\"ping\"}\r\n\n" + overlong + "{\"id\":2,\"method\":\"ping\"}", {"--mcp"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out,
              "{\"id\":0,\"jsonrpc\":\"2.0\",\"result\":{}}\n{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
    EXPECT_EQ(result.err, kReady + "[taskbell-mcp] ignoring unparsable line\n");
}

TEST(McpProcess, ProtocolLinesUseAPrivateCopyOfStandardOutput)
{
    ChildProcess child({TASKBELL_EXE, "--mcp"}, {{"XDG_CONFIG_HOME", "/nonexistent/taskbell-test"}});
    child.write("{\"id\":1,\"method\":\"ping\"}\n");
    ASSERT_EQ(child.readLine(), "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}");
    auto target = [](const std::string& link) {
        char buffer[256] = {};
        ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
        return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
    };
    std::string folder = "/proc/" + std::to_string(child.pid()) + "/fd/";
    std::string originalOut = target("/proc/self/fd/" + std::to_string(child.outputDescriptor()));
    ASSERT_EQ(originalOut.rfind("pipe:", 0), 0u) << originalOut;
    // Anything a library prints on descriptor 1 lands on standard error, never in the protocol stream,
    // which goes through a private duplicate of the original standard output.
    EXPECT_EQ(target(folder + "1"), target(folder + "2"));
    EXPECT_NE(target(folder + "1"), originalOut);
    bool duplicated = false;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        duplicated = duplicated || (std::stoi(entry.path().filename()) > 2 && target(entry.path()) == originalOut);
    }
    EXPECT_TRUE(duplicated);
    EXPECT_EQ(child.wait().exitCode, 0);
}
