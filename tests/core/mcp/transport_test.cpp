// The line handler as transcripts: each line of tests/data/mcp/transcript.json with exactly what it writes on
// standard output and standard error.
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/mcp/server_internal.h"
#include "core/platform/executable.h"
#include "temp_dir.h"

using namespace taskbell;
using taskbell::test::readFile;

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
    for (const Json& row : Json::parse(readFile(TASKBELL_TEST_DATA "/mcp/transcript.json"))) {
        std::string answer = row[1];
        if (auto at = answer.find("{version}"); at != std::string::npos) {
            answer.replace(at, 9, platform::runningVersion());
        }
        Transcript t = feed(row[0]);
        EXPECT_EQ(t.out, answer.empty() ? "" : answer + "\n") << row[0];
        EXPECT_EQ(t.err, row.size() > 2 ? row[2] : "") << row[0];
    }
    const std::string unparsable = "[taskbell-mcp] ignoring unparsable line\n";
    EXPECT_EQ(feed("{\"id\":\"\xff\",\"method\":\"ping\"}").err, unparsable);
    // Hostile nesting is refused before anything copies it.
    std::string deepId = "{\"id\":" + std::string(100000, '[') + std::string(100000, ']') + ",\"method\":\"ping\"}";
    Transcript deep = feed(deepId);
    EXPECT_EQ(deep.out + deep.err, unparsable);
    EXPECT_NE(feed("{\"id\":" + std::string(63, '[') + std::string(63, ']') + ",\"method\":\"ping\"}").out, "");
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
