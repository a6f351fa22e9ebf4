// The real executable in --mcp mode, driven through pipes.
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.h"
#include "core/base/json_util.h"
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

TEST(McpProcess, WithoutTheExactFlagTheDesktopApplicationIsNotAvailable)
{
    for (auto args : std::vector<std::vector<std::string>>{{}, {"--MCP"}, {"--mcp=1"}, {"-mcp"}}) {
        ProcessResult result = runMcp("", args);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("not available"), std::string::npos) << result.err;
    }
}

TEST(McpProcess, AnswersEveryMessageKindInOrder)
{
    std::string input = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":"
                        "\"2025-06-18\"}}\r\n"
                        "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n"
                        "\n"
                        "garbage\n"
                        "{\"jsonrpc\":\"2.0\",\"id\":\"p\",\"method\":\"ping\"}\n"
                        "{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"prompts/list\"}\n"
                        "{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"tools/list\"}"; // no final line feed
    ProcessResult result = runMcp(input, {"--mcp"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, kReady + "[taskbell-mcp] ignoring unparsable line\n");
    std::vector<Json> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = result.out.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(Json::parse(result.out.substr(start, end - start)));
    }
    EXPECT_EQ(start, result.out.size()) << "every response ends in a line feed";
    ASSERT_EQ(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[0]["result"]["protocolVersion"], "2025-06-18");
    EXPECT_EQ(lines[1], Json::parse(R"({"jsonrpc":"2.0","id":"p","result":{}})"));
    EXPECT_EQ(lines[2]["error"]["code"], -32601);
    EXPECT_EQ(lines[3]["result"]["tools"].size(), 5u);
}

TEST(McpProcess, OverlongAndDeeplyNestedLinesAreSkipped)
{
    std::string overlong = "{\"id\":1,\"method\":\"ping\",\"pad\":\"" + std::string(9u << 20, 'x') + "\"}\n";
    std::string deep = "{\"id\":" + std::string(200000, '[') + std::string(200000, ']') + ",\"method\":\"ping\"}\n";
    ProcessResult result = runMcp(overlong + deep + "{\"id\":2,\"method\":\"ping\"}\n", {"--mcp"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
    EXPECT_EQ(result.err,
              kReady + "[taskbell-mcp] ignoring unparsable line\n" + "[taskbell-mcp] ignoring unparsable line\n");
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
