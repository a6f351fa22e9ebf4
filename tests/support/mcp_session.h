#pragma once

// A running `taskbell --mcp` process driven one tools/call request at a time (TASKBELL_EXE names the
// executable; the test target defines it).

#include <filesystem>
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

// One running `taskbell --mcp` process; each call writes one request line and reads its response line.
class McpSession
{
public:
    // The activity journal goes to stateHome, by default a "state" folder inside configHome.
    explicit McpSession(const std::filesystem::path& configHome, std::filesystem::path stateHome = {})
        : child_({TASKBELL_EXE, "--mcp"},
                 {{"XDG_CONFIG_HOME", configHome.string()},
                  {"XDG_STATE_HOME", (stateHome.empty() ? configHome / "state" : stateHome).string()},
                  {"TZ", "UTC"},
                  {"LC_ALL", "en_US.UTF-8"}})
    {
    }

    ToolResult call(const std::string& tool, const Json& arguments = Json::object())
    {
        Json request{{"jsonrpc", "2.0"},
                     {"id", ++id_},
                     {"method", "tools/call"},
                     {"params", {{"name", tool}, {"arguments", arguments}}}};
        child_.write(request.dump() + "\n");
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
