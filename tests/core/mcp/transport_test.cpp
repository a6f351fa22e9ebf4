#include <algorithm>
#include <initializer_list>
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

// Feeds lines to the line handler and collects exactly what it writes on both streams.
Transcript feed(std::initializer_list<std::string> lines)
{
    Transcript transcript;
    MCPServer::setWriters([&](std::string_view bytes) { transcript.out.append(bytes); },
                          [&](std::string_view bytes) { transcript.err.append(bytes); });
    for (const auto& line : lines) {
        MCPServer::handleLine(line);
    }
    MCPServer::setWriters([](std::string_view) {}, [](std::string_view) {});
    return transcript;
}

Json onlyResponse(const Transcript& t)
{
    EXPECT_EQ(t.err, "");
    EXPECT_EQ(std::count(t.out.begin(), t.out.end(), '\n'), 1) << t.out;
    EXPECT_EQ(t.out.back(), '\n');
    return Json::parse(t.out);
}

} // namespace

TEST(McpTransport, InitializeNegotiatesTheProtocolVersion)
{
    std::string version = platform::runningVersion();
    EXPECT_EQ(feed({R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-03-26"}})"}).out,
              R"({"id":1,"jsonrpc":"2.0","result":{"capabilities":{"tools":{"listChanged":false}},)"
              R"("protocolVersion":"2025-03-26","serverInfo":{"name":"taskbell","version":")" +
                  version + "\"}}}\n");
    for (const char* request : {R"({"id":2,"method":"initialize","params":{"protocolVersion":"1999-01-01"}})",
                                R"({"id":2,"method":"initialize"})", R"({"id":2,"method":"initialize","params":7})",
                                R"({"id":2,"method":"initialize","params":{"protocolVersion":20250618}})"}) {
        EXPECT_EQ(onlyResponse(feed({request}))["result"]["protocolVersion"], "2024-11-05") << request;
    }
    EXPECT_EQ(onlyResponse(feed(
                  {R"({"id":2,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})"}))["result"]
                                                                                                   ["protocolVersion"],
              "2025-06-18");
}

TEST(McpTransport, EachLineGetsItsWholeAnswer)
{
    const std::string pong = R"(,"jsonrpc":"2.0","result":{}})";
    const std::string notFound = R"({"error":{"code":-32601,"message":"Method not found: )";
    const std::pair<std::string, std::string> cases[] = {
        // Ids are echoed unchanged; blanks and a carriage return around a line are tolerated.
        {R"({"jsonrpc":"2.0","id":"abc","method":"ping"})", R"({"id":"abc")" + pong},
        {R"({"id":{"k":[1,2]},"method":"ping"})", R"({"id":{"k":[1,2]})" + pong},
        {"  {\"id\":7,\"method\":\"ping\"}\r", R"({"id":7)" + pong},
        {R"({"jsonrpc":"2.0","id":5,"method":"resources/list"})",
         notFound + R"(resources/list"},"id":5,"jsonrpc":"2.0"})"},
        {R"({"id":6})", notFound + R"("},"id":6,"jsonrpc":"2.0"})"},
        {R"({"id":6,"method":42})", notFound + R"("},"id":6,"jsonrpc":"2.0"})"},
        {R"({"id":6,"method":"Ping"})", notFound + R"(Ping"},"id":6,"jsonrpc":"2.0"})"},
        // Notifications (no id, or a null one) get nothing, whatever their method.
        {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", ""},
        {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", ""},
        {R"({"method":"initialize"})", ""},
        {R"({"id":null,"method":"resources/list"})", ""},
        {R"({"method":"tools/list"})", ""},
    };
    for (const auto& [line, answer] : cases) {
        Transcript t = feed({line});
        EXPECT_EQ(t.out, answer.empty() ? "" : answer + "\n") << line;
        EXPECT_EQ(t.err, "") << line;
    }
}

TEST(McpTransport, UnparsableLinesGoToStandardErrorOnly)
{
    Transcript t = feed({"", "   \t ", "not json", "[1,2]", R"([{"id":1,"method":"ping"}])", "42", "\"text\"",
                         "{\"id\":1,", std::string("{\"id\":\"\xff\",\"method\":\"ping\"}")});
    EXPECT_EQ(t.out, "");
    std::string notice = "[taskbell-mcp] ignoring unparsable line\n";
    std::string expected;
    for (int i = 0; i < 7; ++i) {
        expected += notice;
    }
    EXPECT_EQ(t.err, expected);
}

TEST(McpTransport, HostileNestingIsRefusedBeforeAnythingCopiesIt)
{
    std::string deepId = "{\"id\":" + std::string(100000, '[') + std::string(100000, ']') + ",\"method\":\"ping\"}";
    Transcript t = feed({deepId});
    EXPECT_EQ(t.out, "");
    EXPECT_EQ(t.err, "[taskbell-mcp] ignoring unparsable line\n");
    std::string limit = "{\"id\":" + std::string(63, '[') + std::string(63, ']') + ",\"method\":\"ping\"}";
    EXPECT_NE(feed({limit}).out, "");
}

TEST(McpTransport, ToolsListCarriesTheCatalogueByteForByte)
{
    Json response = onlyResponse(feed({R"({"id":1,"method":"tools/list"})"}));
    EXPECT_EQ(response["result"]["tools"].dump(2) + "\n", readFile(TASKBELL_TEST_DATA "/mcp/tool_catalogue.json"));
    EXPECT_EQ(MCPServer::toolNames(),
              (std::vector<std::string>{"create_task", "list_tasks", "set_status", "get_task", "update_task"}));
}

TEST(McpTransport, RunBlockingReturnsValuesAndRethrowsErrors)
{
    EXPECT_EQ(MCPServer::runBlocking([] { return std::string("done"); }), "done");
    auto mainThread = std::this_thread::get_id();
    EXPECT_NE(MCPServer::runBlocking([] { return std::this_thread::get_id(); }), mainThread);
    EXPECT_THROW(MCPServer::runBlocking([]() -> int { throw std::invalid_argument("bad"); }), std::invalid_argument);
    try {
        MCPServer::runBlocking([]() -> int { throw std::runtime_error("the message"); });
    } catch (...) {
        EXPECT_EQ(MCPServer::describe(std::current_exception()), "the message");
    }
}
