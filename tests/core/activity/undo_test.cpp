// The activity journal between separate `taskbell --mcp` processes, with the private keyring and the fake Jira
// Cloud. What each tool journals and undoing it are scenes of the MCP tools' tests.
#include <gtest/gtest.h>

#include "core/jira/client.h"
#include "core/jira/jql.h"
#include "core/platform/keychain.h"
#include "fake_jira.h"
#include "mcp_session.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

class AssistantActivity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeFile(config / "com.quillet.taskbell" / "settings.json",
                  Json{{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"projectKey", "TB"}}.dump());
        ASSERT_TRUE(Keychain::set(jira.token(), Keychain::kTokenAccount));
    }
    void TearDown() override { Keychain::set("", Keychain::kTokenAccount); }

    ToolResult call(const std::string& tool, const Json& arguments, const std::filesystem::path& state = {})
    {
        McpSession session(config.path(), state);
        ToolResult result = session.call(tool, arguments);
        end = session.finish();
        EXPECT_EQ(end.exitCode, 0);
        return result;
    }

    FakeJira jira;
    TempDir config;
    ProcessResult end;
};

} // namespace

TEST_F(AssistantActivity, AJournalThatCannotBeWrittenCostsOneNoticeNeverTheToolCall)
{
    FakeIssue issue;
    issue.summary = "Move me";
    std::string key = jira.addIssue(issue);
    writeFile(config / "blocked", "");
    EXPECT_FALSE(call("set_status", {{"issueKey", key}, {"status", "done"}}, config / "blocked").isError);
    EXPECT_NE(end.err.find("[taskbell-mcp] The activity journal was not written: Could not create "), std::string::npos)
        << end.err;
}

// Each call builds its own client: the ids written lately come from the journal the earlier servers wrote.
TEST_F(AssistantActivity, AListRightAfterWritesInOtherServersShowsThem)
{
    jira.setSearchLag(std::chrono::hours(1));
    FakeIssue issue;
    issue.assigneeAccountId = jira.accountId();
    std::string key = jira.addIssue(issue);
    ASSERT_FALSE(call("create_task", {{"summary", "Fresh"}, {"status", "in_progress"}}).isError);
    ASSERT_FALSE(call("set_status", {{"issueKey", key}, {"status", "in_progress"}}).isError);
    std::string listed = call("list_tasks", {{"filter", "in_progress"}}).text;
    EXPECT_TRUE(listed.starts_with("In Progress \u2014 2:")) << listed;
    JiraClient client{JiraConfig{jira.baseUrl(), jira.email(), jira.token()}};
    EXPECT_TRUE(client.search(JQL::inProgress, 10).empty()) << "without reconciling, Jira's index lags";
}
