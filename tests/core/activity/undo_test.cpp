// What the MCP tools write to the activity journal and undoing it, with the real `taskbell --mcp` process,
// the private keyring and the fake Jira Cloud.
#include <gtest/gtest.h>

#include "adf_builder.h"
#include "core/activity/undo.h"
#include "core/jira/jql.h"
#include "core/platform/keychain.h"
#include "failure.h"
#include "fake_jira.h"
#include "mcp_session.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::Activity;
using namespace taskbell::test;
using namespace taskbell::test::adf;

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

    ToolResult call(const std::string& tool, const Json& arguments)
    {
        McpSession session(config.path(), state.path());
        ToolResult result = session.call(tool, arguments);
        EXPECT_EQ(session.finish().exitCode, 0);
        return result;
    }

    std::string addIssue(const std::string& statusId, const std::string& project = "TB")
    {
        FakeIssue issue;
        issue.projectKey = project;
        issue.summary = "Before";
        issue.statusId = statusId;
        issue.description = paragraphs({"Old body"});
        issue.assigneeAccountId = jira.accountId();
        return jira.addIssue(issue);
    }

    std::string statusName(const std::string& key) const { return jira.status(jira.issue(key)->statusId)->name; }

    FakeJira jira;
    TempDir config;
    TempDir state;
    Journal journal{state / "taskbell"};
    JiraClient client{JiraConfig{jira.baseUrl(), jira.email(), jira.token()}};
};

} // namespace

TEST_F(AssistantActivity, EachSuccessfulWriteIsJournalledAndNothingElse)
{
    std::string key = addIssue("10000");
    ASSERT_FALSE(call("create_task", {{"summary", "Start"}, {"status", "in_progress"}}).isError);
    ASSERT_FALSE(call("set_status", {{"issueKey", key}, {"status", "done"}}).isError);
    ASSERT_FALSE(call("update_task", {{"issueKey", key}, {"summary", "After"}, {"description", "New body"}}).isError);
    ASSERT_TRUE(call("set_status", {{"issueKey", "TB-999"}, {"status", "done"}}).isError);
    ASSERT_TRUE(call("update_task", {{"issueKey", key}, {"summary", std::string(300, 'x')}}).isError);

    // A move that fails half-way through its stepping stones journals where the issue did go.
    std::string gated = addIssue("10000", "GATE");
    jira.setInterceptor([](const LoggedRequest& request) -> std::optional<FakeReply> {
        if (request.method == "POST" && request.json().value("transition", Json::object()).value("id", "") == "61") {
            return FakeReply{409, R"({"errorMessages":["Conflict"],"errors":{}})"};
        }
        return std::nullopt;
    });
    ASSERT_TRUE(call("set_status", {{"issueKey", gated}, {"status", "done"}}).isError);

    std::vector<Entry> entries = journal.read();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entryText(entries[3]), "Moved " + gated + " to In Progress");
    EXPECT_EQ(entryText(entries[0]), "Created TB-2: Start in In Progress");
    EXPECT_EQ(entries[0].issueId, jira.issue("TB-2")->id);
    EXPECT_EQ(entryText(entries[1]), "Moved " + key + " to Done");
    EXPECT_EQ(entries[1].statusBefore, (StatusRef{"10000", "Backlog", "new", "To Do"}));
    EXPECT_EQ(entries[2].summaryBefore, "Before");
    EXPECT_EQ(entries[2].descriptionBefore, "Old body");
    EXPECT_EQ(entries[2].descriptionAfter, "New body");
    EXPECT_EQ((std::vector<bool>{canUndo(entries[0]), canUndo(entries[1]), canUndo(entries[2])}),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ(readFile(journal.file()).find(jira.token()), std::string::npos);

    // A journal that cannot be written costs one notice, never the tool call.
    writeFile(config / "blocked", "");
    McpSession session(config.path(), config / "blocked");
    EXPECT_FALSE(session.call("set_status", {{"issueKey", key}, {"status", "todo"}}).isError);
    EXPECT_NE(session.finish().err.find("[taskbell-mcp] The activity journal was not written: Could not create "),
              std::string::npos);
}

TEST_F(AssistantActivity, UndoRestoresOnlyWhatTheAssistantLeftAsItWas)
{
    auto someoneRenames = [&](const std::string& key) { client.updateIssue(key, "Theirs", std::nullopt); };
    auto someoneMoves = [&](const std::string& key) { client.move(key, "new"); };
    auto someoneAttaches = [&](const std::string& key) {
        Json media = {{"type", "media"}, {"attrs", {{"type", "file"}, {"id", "6e7c"}, {"collection", ""}}}};
        Json body = {{"fields", {{"description", doc({{{"type", "mediaGroup"}, {"content", {media}}}})}}}};
        client.request("PUT", JiraClient::issuePath(key), body.dump());
    };
    struct Case
    {
        std::string statusId, project, tool;
        Json arguments;
        std::function<void(const std::string&)> meanwhile;
        std::string refusal; // "" when the undo goes through
        std::string status, summary;
    };
    const std::string changed = "KEY changed since the assistant's edit; nothing was undone.";
    const std::string noWayBack = "Can't move KEY back to In Progress: no transition leads there.";
    const std::string attached = "The description of KEY embeds 2 attachment(s) that Jira would delete if it were "
                                 "replaced \u2014 edit it in Jira instead.";
    const Json both = {{"summary", "Mine"}, {"description", "New body"}};
    const std::vector<Case> cases = {
        {"10000", "TB", "set_status", {{"status", "in_progress"}}, {}, "", "Backlog", "Before"},
        {"3", "GATE", "set_status", {{"status", "done"}}, {}, noWayBack, "Done", "Before"},
        {"10000", "TB", "set_status", {{"status", "done"}}, someoneMoves, changed, "To Do", "Before"},
        {"3", "TB", "update_task", both, {}, "", "In Progress", "Before"},
        {"3", "TB", "update_task", {{"summary", "Mine"}}, someoneRenames, changed, "In Progress", "Theirs"},
        {"3", "TB", "update_task", {{"description", "New body"}}, someoneAttaches, attached, "In Progress", "Before"},
    };
    for (const Case& c : cases) {
        std::string key = addIssue(c.statusId, c.project);
        Json arguments = c.arguments;
        arguments["issueKey"] = key;
        ASSERT_FALSE(call(c.tool, arguments).isError) << key;
        if (c.meanwhile) {
            c.meanwhile(key);
        }
        Entry entry = journal.read().back();
        std::string refusal = c.refusal;
        if (auto at = refusal.find("KEY"); at != std::string::npos) {
            refusal.replace(at, 3, key);
        }
        auto error = caught<UndoError>([&] { undo(client, journal, entry); });
        EXPECT_EQ(error ? std::string(error->what()) : "", refusal) << key;
        EXPECT_EQ(statusName(key), c.status) << key;
        EXPECT_EQ(jira.issue(key)->summary, c.summary) << key;
        EXPECT_EQ(journal.read().back().tool == Entry::Tool::undo, refusal.empty()) << key;
    }
    EXPECT_EQ(jira.issue("TB-3")->description, paragraphs({"Old body"})) << "the description came back too";
    EXPECT_TRUE(journal.read()[0].undone);
}

TEST_F(AssistantActivity, AListRightAfterAWriteInAnotherServerShowsIt)
{
    jira.setSearchLag(std::chrono::hours(1));
    ASSERT_FALSE(call("create_task", {{"summary", "Fresh"}, {"status", "in_progress"}}).isError);
    EXPECT_NE(call("list_tasks", {{"filter", "in_progress"}}).text.find("TB-1"), std::string::npos);
    EXPECT_TRUE(client.search(JQL::inProgress, 10).empty()) << "without reconciling, Jira's index lags";
}
