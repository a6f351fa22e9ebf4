// The line handler as transcripts: each line of tests/data/mcp/transcript.json with exactly what it writes on
// standard output and standard error.
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/mcp/server_internal.h"
#include "core/platform/executable.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

struct Transcript
{
    std::string out;
    std::string err;
};

// Feeds one line to the line handler and collects exactly what it writes on both streams.
Transcript feed(const std::string& line)
{
    Transcript transcript;
    MCPServer::setWriters([&](std::string_view bytes) { transcript.out.append(bytes); },
                          [&](std::string_view bytes) { transcript.err.append(bytes); });
    MCPServer::handleLine(line);
    MCPServer::setWriters([](std::string_view) {}, [](std::string_view) {});
    return transcript;
}

} // namespace

TEST(McpTransport, EachLineGetsItsWholeAnswer)
{
    const Json rows = testData("mcp/transcript.json");
    for (const Json& row : rows) {
        std::string line = withBytes(textOf(row[0]));
        std::string answer = fillIn(textOf(row[1]), "{version}", platform::runningVersion());
        Transcript t = feed(line);
        EXPECT_EQ(t.out, answer.empty() ? "" : answer + "\n") << line.substr(0, 200);
        EXPECT_EQ(t.err, row.size() > 2 ? row[2] : "") << line.substr(0, 200);
    }
}

TEST(McpTransport, ToolsListCarriesTheCatalogueByteForByte)
{
    Transcript t = feed(R"({"id":1,"method":"tools/list"})");
    EXPECT_EQ(t.err, "");
    EXPECT_EQ(Json::parse(t.out)["result"]["tools"].dump(2) + "\n",
              readFile(TASKBELL_TEST_DATA "/mcp/tool_catalogue.json"));
    EXPECT_EQ(MCPServer::toolNames(),
              (std::vector<std::string>{"create_task", "list_tasks", "set_status", "get_task", "update_task"}));
}

TEST(McpTransport, RunBlockingReturnsValuesAndRethrowsErrors)
{
    EXPECT_NE(MCPServer::runBlocking([] { return std::this_thread::get_id(); }), std::this_thread::get_id());
    EXPECT_THROW(MCPServer::runBlocking([]() -> int { throw std::invalid_argument("bad"); }), std::invalid_argument);
    try {
        MCPServer::runBlocking([]() -> int { throw std::runtime_error("the message"); });
    } catch (...) {
        EXPECT_EQ(MCPServer::describe(std::current_exception()), "the message");
    }
}
