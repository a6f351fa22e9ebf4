#pragma once

// A running `taskbell --mcp` process driven one tools/call request at a time (TASKBELL_EXE names the
// executable; the test target defines it).

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "core/base/json_util.h"

namespace taskbell::test {

struct ToolResult
{
    std::string text;
    bool isError = false;
};

// The environment of a `taskbell --mcp` child: its settings under configHome, its activity journal under stateHome
// (by default a "state" folder inside configHome), UTC and the locale.
inline std::map<std::string, std::optional<std::string>> mcpEnvironment(const std::filesystem::path& configHome,
                                                                        std::filesystem::path stateHome = {},
                                                                        const std::string& locale = "en_US.UTF-8")
{
    return {{"XDG_CONFIG_HOME", configHome.string()},
            {"XDG_STATE_HOME", (stateHome.empty() ? configHome / "state" : stateHome).string()},
            {"TZ", "UTC"},
            {"LC_ALL", locale}};
}

// One tools/call request line.
inline std::string toolCallLine(int id, const std::string& tool, const Json& arguments)
{
    Json request{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}};
    request["params"] = {{"name", tool}, {"arguments", arguments}};
    return request.dump() + "\n";
}

// One running `taskbell --mcp` process; each call writes one request line and reads its response line.
class McpSession
{
public:
    explicit McpSession(const std::filesystem::path& configHome, std::filesystem::path stateHome = {})
        : child_({TASKBELL_EXE, "--mcp"}, mcpEnvironment(configHome, std::move(stateHome)))
    {
    }

    ToolResult call(const std::string& tool, const Json& arguments = Json::object())
    {
        child_.write(toolCallLine(++id_, tool, arguments));
        auto line = child_.readLine();
        if (!line) {
            ADD_FAILURE() << "no response to " << tool;
            return {};
        }
        output_ += *line + "\n";
        Json response = Json::parse(*line);
        EXPECT_EQ(response["id"], id_);
        const Json& result = response.at("result");
        EXPECT_EQ(result.at("content").size(), 1u);
        EXPECT_EQ(result.at("content")[0].at("type"), "text");
        return {result.at("content")[0].at("text").get<std::string>(), result.value("isError", false)};
    }

    // Ends the session; the result holds everything written on both streams.
    ProcessResult finish()
    {
        ProcessResult result = child_.wait();
        result.out = output_ + result.out;
        return result;
    }

private:
    ChildProcess child_;
    std::string output_;
    int id_ = 0;
};

} // namespace taskbell::test
