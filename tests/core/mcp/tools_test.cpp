// The five MCP tools, driven through the real `taskbell --mcp` process with settings in a temporary XDG
// folder, the token in the private keyring, and the fake Jira Cloud server behind them.
#include <algorithm>
#include <optional>

#include <gtest/gtest.h>

#include "adf_builder.h"
#include "core/base/encoding.h"
#include "core/platform/keychain.h"
#include "fake_jira.h"
#include "mcp_session.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test;
using namespace taskbell::test::adf;

namespace {

class McpTools : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saveSettings({{"baseURL", jira.baseUrl() + "/"},
                      {"email", jira.email()},
                      {"projectKey", "TB"},
                      {"defaultIssueType", "Task"},
                      {"monthsBack", 2}});
        ASSERT_TRUE(Keychain::set(jira.token(), Keychain::kTokenAccount));
    }

    void TearDown() override { Keychain::set("", Keychain::kTokenAccount); }

    void saveSettings(const Json& values)
    {
        writeFile(config / "com.quillet.taskbell" / "settings.json", values.dump());
    }

    ToolResult call(const std::string& tool, const Json& arguments = Json::object())
    {
        McpSession session(config.path());
        ToolResult result = session.call(tool, arguments);
        ProcessResult end = session.finish();
        EXPECT_EQ(end.exitCode, 0);
        return result;
    }

    std::string link(const std::string& key) const { return jira.baseUrl() + "/browse/" + key; }

    // Each added issue is updated a little later than the one before, so "ORDER BY updated DESC" lists
    // them newest first.
    std::string addIssue(const std::string& summary, const std::string& statusId, const std::string& project = "TB")
    {
        FakeIssue issue;
        issue.projectKey = project;
        issue.summary = summary;
        issue.statusId = statusId;
        issue.assigneeAccountId = jira.accountId();
        issue.updated = jira.timestamp(firstUpdate_ + 10 * added_++);
        issue.created = issue.updated;
        return jira.addIssue(issue);
    }

    FakeJira jira;
    TempDir config;

private:
    std::int64_t firstUpdate_ =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count() -
        30'000;
    int added_ = 0;
};

} // namespace

TEST_F(McpTools, IncompleteSettingsAnswerNotConfiguredForEveryToolAndChangesApplyAtTheNextCall)
{
    const std::string notConfigured = "Jira is not configured. Open Settings and enter your site, email and API token.";
    ASSERT_TRUE(Keychain::set("", Keychain::kTokenAccount));
    McpSession session(config.path());
    for (const char* tool : {"create_task", "list_tasks", "set_status", "get_task", "update_task", "no_such_tool"}) {
        ToolResult result = session.call(tool, {{"summary", "x"}, {"issueKey", "TB-1"}});
        EXPECT_TRUE(result.isError) << tool;
        EXPECT_EQ(result.text, notConfigured) << tool;
    }
    // The same running server picks up a saved token and settings without a restart.
    ASSERT_TRUE(Keychain::set(jira.token(), Keychain::kTokenAccount));
    ToolResult unknown = session.call("no_such_tool");
    EXPECT_TRUE(unknown.isError);
    EXPECT_EQ(unknown.text, "Unknown tool: no_such_tool");
    saveSettings({{"email", jira.email()}});
    EXPECT_EQ(session.call("list_tasks").text, notConfigured);
    EXPECT_EQ(session.finish().exitCode, 0);
    EXPECT_TRUE(jira.requests().empty());
}

TEST_F(McpTools, InvalidArgumentsFailInOrderBeforeAnyRequest)
{
    struct Case
    {
        const char* tool;
        Json arguments;
        std::string message;
    };
    std::vector<Case> cases{
        {"create_task", Json::object(), "`summary` is required."},
        {"create_task", {{"summary", "  \n "}, {"status", "bogus"}}, "`summary` is required."},
        {"create_task", {{"summary", 42}}, "`summary` is required."},
        {"create_task",
         {{"summary", "Ship"}, {"status", " BOGUS "}},
         "`status` must be one of todo, in_progress, done \u2014 got 'bogus'."},
        {"list_tasks", {{"filter", "later"}}, "`filter` must be one of backlog, in_progress, done, all."},
        {"set_status", {{"status", "done"}}, "`issueKey` is required."},
        {"set_status", {{"issueKey", "  "}, {"status", "done"}}, "`issueKey` is required."},
        {"set_status",
         {{"issueKey", "tb 12"}, {"status", "done"}},
         "`issueKey` must look like PROJ-123 \u2014 got 'TB 12'."},
        {"set_status", {{"issueKey", "tb"}}, "`issueKey` must look like PROJ-123 \u2014 got 'TB'."},
        {"set_status", {{"issueKey", "TB-1"}}, "`status` is required."},
        {"set_status",
         {{"issueKey", "TB-1"}, {"status", "In Review"}},
         "`status` must be one of todo, in_progress, done \u2014 got 'in review'."},
        {"get_task", {{"issueKey", "1-TB"}}, "`issueKey` must look like PROJ-123 \u2014 got '1-TB'."},
        {"update_task", {{"issueKey", "TB-1"}, {"summary", " \t"}}, "`summary` cannot be empty."},
        {"update_task", {{"issueKey", "TB-1"}}, "Nothing to change \u2014 pass `summary` and/or `description`."},
        {"update_task",
         {{"issueKey", "TB-1"}, {"summary", 7}},
         "Nothing to change \u2014 pass `summary` and/or `description`."},
    };
    McpSession session(config.path());
    for (const auto& c : cases) {
        ToolResult result = session.call(c.tool, c.arguments);
        EXPECT_TRUE(result.isError) << c.arguments;
        EXPECT_EQ(result.text, c.message) << c.arguments;
    }
    saveSettings({{"baseURL", jira.baseUrl()}, {"email", jira.email()}, {"projectKey", "  "}});
    ToolResult noProject = session.call("create_task", {{"summary", "Ship"}, {"projectKey", " "}});
    EXPECT_EQ(noProject.text, "No `projectKey` given and none set in Taskbell Settings.");
    EXPECT_EQ(session.finish().exitCode, 0);
    EXPECT_TRUE(jira.requests().empty()) << jira.requests().front().target;
}

TEST_F(McpTools, CreateTaskIntoEachStatus)
{
    ToolResult todo = call("create_task", {{"summary", "  Write notes "}, {"description", "First line\n- a\n- b"}});
    ASSERT_FALSE(todo.isError) << todo.text;
    EXPECT_EQ(todo.text, "Created TB-1 \u2014 Write notes\n" + link("TB-1"));
    auto created = jira.requests("POST", "/rest/api/3/issue");
    ASSERT_EQ(created.size(), 1u);
    Json fields = created[0].json()["fields"];
    EXPECT_EQ(fields["summary"], "Write notes");
    EXPECT_EQ(fields["project"], Json({{"key", "TB"}}));
    EXPECT_EQ(fields["issuetype"], Json({{"name", "Task"}}));
    EXPECT_EQ(fields["assignee"], Json({{"accountId", jira.accountId()}}));
    EXPECT_EQ(fields["description"]["content"][1]["type"], "bulletList");
    EXPECT_TRUE(jira.requests("POST", "/rest/api/3/issue/TB-1/transitions").empty());

    jira.clearLog();
    ToolResult progress =
        call("create_task",
             {{"summary", "Start"}, {"status", " In Progress "}, {"assignToMe", false}, {"issueType", "Bug"}});
    EXPECT_EQ(progress.text, "Created TB-2 \u2014 Start\n" + link("TB-2") + "\nStatus: In Progress");
    EXPECT_TRUE(jira.requests("GET", "/rest/api/3/myself").empty());
    EXPECT_FALSE(jira.requests("POST", "/rest/api/3/issue")[0].json()["fields"].contains("assignee"));
    EXPECT_EQ(jira.issue("TB-2")->issueType, "Bug");
    EXPECT_EQ(jira.status(jira.issue("TB-2")->statusId)->name, "In Progress");

    ToolResult gated = call("create_task", {{"summary", "Gate"}, {"status", "DONE"}, {"projectKey", "GATE"}});
    EXPECT_EQ(gated.text, "Created GATE-1 \u2014 Gate\n" + link("GATE-1") + "\nStatus: Done");
    EXPECT_EQ(jira.status(jira.issue("GATE-1")->statusId)->name, "Done");

    // A failed move leaves the issue created and says so, with the transitions on offer.
    ToolResult looped = call("create_task", {{"summary", "Spin"}, {"status", "done"}, {"projectKey", "LOOP"}});
    EXPECT_FALSE(looped.isError);
    EXPECT_EQ(looped.text, "Created LOOP-1 \u2014 Spin\n" + link("LOOP-1") +
                               "\n\nThe task was created but could NOT be moved to Done: No workflow transition to "
                               "Done is available for this issue.\nAvailable transitions for LOOP-1: Test \u2192 "
                               "Testing");
    ToolResult frozen = call("create_task", {{"summary", "Ice"}, {"status", "in_progress"}, {"projectKey", "FROZEN"}});
    EXPECT_EQ(frozen.text, "Created FROZEN-1 \u2014 Ice\n" + link("FROZEN-1") +
                               "\n\nThe task was created but could NOT be moved to In Progress: No workflow "
                               "transition to In Progress is available for this issue.");

    ToolResult badType = call("create_task", {{"summary", "x"}, {"issueType", "Epic"}});
    EXPECT_TRUE(badType.isError);
    EXPECT_EQ(badType.text.rfind("Jira returned HTTP 400. ", 0), 0u) << badType.text;
}

TEST_F(McpTools, ListTasksRendersSections)
{
    for (int i = 0; i < 3; ++i) {
        addIssue("Backlog item " + std::to_string(i), "10000");
    }
    addIssue("Working", "3");
    addIssue("Reviewing", "10003");
    std::string finished = addIssue("Finished", "10002");

    ToolResult progress = call("list_tasks");
    EXPECT_EQ(progress.text, "In Progress \u2014 2:\n  TB-5  [In Review]  Reviewing  (Task, today)\n"
                             "  TB-4  [In Progress]  Working  (Task, today)");

    ToolResult all = call("list_tasks", {{"filter", " ALL "}, {"limit", 0}, {"monthsBack", 1}});
    EXPECT_EQ(all.text, "Backlog \u2014 3 (showing 1):\n  TB-3  [Backlog]  Backlog item 2  (Task, today)\n\n"
                        "In Progress \u2014 2 (showing 1):\n  TB-5  [In Review]  Reviewing  (Task, today)\n\n"
                        "Done (last 1 month) \u2014 1:\n  " +
                            finished + "  [Done]  Finished  (Task, today)");
    auto searches = jira.requests("POST", "/rest/api/3/search/jql");
    ASSERT_EQ(searches.size(), 4u);
    EXPECT_EQ(searches[3].json()["jql"],
              "assignee = currentUser() AND statusCategory = Done AND updated >= startOfMonth() ORDER BY updated DESC");

    EXPECT_EQ(call("list_tasks", {{"filter", "done"}, {"monthsBack", 3.0}, {"limit", 5}}).text,
              "Done (last 3 months) \u2014 1:\n  " + finished + "  [Done]  Finished  (Task, today)");
    EXPECT_EQ(jira.requests("POST", "/rest/api/3/search/jql").back().json()["jql"],
              "assignee = currentUser() AND statusCategory = Done AND updated >= startOfMonth(\"-2\") ORDER BY "
              "updated DESC");
    // The configured months apply when the argument is not a whole number.
    EXPECT_EQ(call("list_tasks", {{"filter", "done"}, {"monthsBack", "3"}}).text.substr(0, 20), "Done (last 2 months)");

    jira.setEnhancedSearch(EndpointMode::notFound);
    jira.setClassicSearch(EndpointMode::normal);
    std::string fallback = call("list_tasks", {{"filter", "backlog"}, {"limit", 2}}).text;
    EXPECT_EQ(fallback.substr(0, fallback.find('\n')), "Backlog \u2014 3 (showing 2):");
    jira.setClassicSearch(EndpointMode::gone);
    ToolResult failed = call("list_tasks", {{"filter", "all"}});
    EXPECT_TRUE(failed.isError);
    EXPECT_EQ(failed.text.rfind("Jira returned HTTP 410. {", 0), 0u) << failed.text;
}

TEST_F(McpTools, EmptySectionsAndLimitsOverOnePage)
{
    EXPECT_EQ(call("list_tasks", {{"filter", "backlog"}}).text, "Backlog: none");
    for (int i = 0; i < 120; ++i) {
        addIssue("Item " + std::to_string(i), "3");
    }
    ToolResult limited = call("list_tasks", {{"limit", 5}});
    // Searches append whole pages of 100, so the count is the page, not the limit.
    EXPECT_EQ(limited.text.substr(0, limited.text.find('\n')), "In Progress \u2014 100 (showing 5):");
    EXPECT_EQ(std::count(limited.text.begin(), limited.text.end(), '\n'), 5);
}

TEST_F(McpTools, SetStatusMovesThroughWorkflows)
{
    std::string key = addIssue("Move me", "10000");
    ToolResult moved = call("set_status", {{"issueKey", "  tb-1 "}, {"status", "In Progress"}});
    EXPECT_EQ(moved.text, "TB-1 moved to In Progress.\n" + link("TB-1"));
    EXPECT_EQ(call("set_status", {{"issueKey", key}, {"status", "todo"}}).text,
              "TB-1 moved to To Do.\n" + link("TB-1"));

    std::string gated = addIssue("Gated", "10000", "GATE");
    EXPECT_EQ(call("set_status", {{"issueKey", gated}, {"status", "done"}}).text,
              gated + " moved to Done.\n" + link(gated));
    EXPECT_EQ(jira.requests("POST", "/rest/api/3/issue/" + gated + "/transitions").size(), 2u);

    std::string looped = addIssue("Loop", "10003", "LOOP");
    ToolResult failed = call("set_status", {{"issueKey", looped}, {"status", "done"}});
    EXPECT_TRUE(failed.isError);
    EXPECT_EQ(failed.text, "No workflow transition to Done is available for this issue.\nAvailable transitions for " +
                               looped + ": Test \u2192 Testing");

    ToolResult missing = call("set_status", {{"issueKey", "TB-999"}, {"status", "done"}});
    EXPECT_TRUE(missing.isError);
    EXPECT_EQ(missing.text, "Jira returned HTTP 404. Not found \u2014 check your site URL / project key.");
}

TEST_F(McpTools, GetTaskShowsEverythingAndCopesWithSparseIssues)
{
    FakeIssue issue;
    issue.summary = "Rotate the keys";
    issue.statusId = "3";
    issue.assigneeAccountId = jira.accountId();
    issue.description = doc({paragraph({text("Steps:")}), bulletList({"one", "two"})});
    issue.created = "2026-07-08T09:12:33.123+0200";
    issue.updated = jira.now();
    std::string key = jira.addIssue(issue);
    ToolResult result = call("get_task", {{"issueKey", key}});
    ASSERT_FALSE(result.isError) << result.text;
    EXPECT_EQ(result.text, key +
                               " \u2014 Rotate the keys\nStatus: In Progress \u00b7 Type: Task \u00b7 Project: TB\n"
                               "Assignee: Ana Pereira\nCreated: 08 July 2026 \u00b7 Updated: today\n" +
                               link(key) + "\n\nDescription:\nSteps:\n\u2022 one\n\u2022 two");

    jira.setRoute("GET", "/rest/api/3/issue/TB-77", [](const LoggedRequest&) {
        return FakeReply{200, R"({"id":"1","key":"TB-77","fields":{"created":"yesterday","assignee":null}})",
                         "application/json", HeaderList{}};
    });
    EXPECT_EQ(call("get_task", {{"issueKey", "tb-77"}}).text,
              "TB-77 \u2014 (no summary)\nStatus: Unknown\nAssignee: unassigned\n\n" + link("TB-77") +
                  "\n\nDescription:\n(none)");
}

TEST_F(McpTools, UpdateTaskReportsPreviousValues)
{
    FakeIssue issue;
    issue.summary = "Old title";
    issue.description = paragraphs({"Old body"});
    std::string key = jira.addIssue(issue);

    ToolResult both = call("update_task", {{"issueKey", key}, {"summary", " New title "}, {"description", "New body"}});
    EXPECT_EQ(both.text, "Updated " + key +
                             ".\nSummary: \"Old title\" \u2192 \"New title\"\nDescription replaced.\n"
                             "Previous description:\nOld body\n" +
                             link(key));
    EXPECT_EQ(jira.issue(key)->summary, "New title");
    EXPECT_EQ(jira.issue(key)->description, paragraphs({"New body"}));

    ToolResult cleared = call("update_task", {{"issueKey", key}, {"description", ""}});
    EXPECT_EQ(cleared.text,
              "Updated " + key + ".\nDescription cleared.\nPrevious description:\nNew body\n" + link(key));
    EXPECT_TRUE(jira.issue(key)->description.is_null());
    auto puts = jira.requests("PUT", "/rest/api/3/issue/" + key);
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[1].json(), Json({{"fields", {{"description", nullptr}}}}));
}

TEST_F(McpTools, UpdateTaskRefusesToDropEmbeddedAttachments)
{
    FakeIssue issue;
    issue.summary = "With a screenshot";
    Json media = {{"type", "media"}, {"attrs", {{"type", "file"}, {"id", "6e7c"}, {"collection", ""}}}};
    Json mediaSingle = {{"type", "mediaSingle"}, {"content", Json::array({media})}};
    Json mediaGroup = {{"type", "mediaGroup"}, {"content", Json::array({media, media})}};
    issue.description = doc({paragraph({text("See below")}), mediaSingle, mediaGroup});
    std::string key = jira.addIssue(issue);

    ToolResult refused = call("update_task", {{"issueKey", key}, {"description", "Replacement"}});
    EXPECT_TRUE(refused.isError);
    EXPECT_EQ(refused.text, "The description of " + key +
                                " embeds 5 attachment(s) that Jira would delete if it were replaced \u2014 edit it "
                                "in Jira instead.");
    EXPECT_TRUE(jira.requests("PUT", "/rest/api/3/issue/" + key).empty());
    EXPECT_EQ(jira.issue(key)->description, issue.description);

    ToolResult renamed = call("update_task", {{"issueKey", key}, {"summary", "Renamed"}});
    EXPECT_FALSE(renamed.isError) << renamed.text;
    EXPECT_EQ(jira.issue(key)->summary, "Renamed");
    EXPECT_EQ(jira.issue(key)->description, issue.description);
}

namespace {

// Files below the folder whose bytes contain any of the needles.
std::vector<std::string> filesContaining(const std::filesystem::path& folder, const std::vector<std::string>& needles)
{
    std::vector<std::string> hits;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string content = it->is_regular_file(ec) ? readFile(it->path()) : "";
        if (std::any_of(needles.begin(), needles.end(),
                        [&](auto& n) { return content.find(n) != std::string::npos; })) {
            hits.push_back(it->path().string());
        }
    }
    return hits;
}

} // namespace

TEST_F(McpTools, TheTokenNeverLeaksIntoOutputOrFiles)
{
    const std::string marker = "tb-marker-9f2e41c7d3";
    const std::vector<std::string> secrets{marker, base64Encode(jira.email() + ":" + marker),
                                           base64Encode(jira.email() + ":" + jira.token())};
    std::string key = addIssue("Secret-free", "3");
    auto everyTool = [&](McpSession& session) {
        std::vector<ToolResult> results{
            session.call("create_task", {{"summary", "Leak check"}}),
            session.call("list_tasks", {{"filter", "all"}}),
            session.call("set_status", {{"issueKey", key}, {"status", "done"}}),
            session.call("get_task", {{"issueKey", key}}),
            session.call("update_task", {{"issueKey", key}, {"summary", "Still secret-free"}}),
        };
        return results;
    };

    std::string tooMany = R"({"errorMessages":["The request has been rate-limited. Please try again later."],)"
                          R"("errors":{},"status":429})";
    struct Case
    {
        std::string token;
        std::optional<FakeReply> everywhere; // the answer to the first request of each of the five tools
        std::string message;
    };
    const std::vector<Case> cases{
        // A rejected token: Jira answers 401 on /myself and serves the other requests anonymously.
        {marker, std::nullopt, "Jira returned HTTP 401. Authentication failed \u2014 check your email and API token."},
        // The right token, but rate limiting and server errors everywhere.
        {jira.token(), FakeReply{429, tooMany, "application/json", {{"Retry-After", "3"}}},
         "Jira returned HTTP 429. " + tooMany},
        {jira.token(), FakeReply{500, "", "text/plain", {}}, "Jira returned HTTP 500. "},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Keychain::set(c.token, Keychain::kTokenAccount));
        if (c.everywhere) {
            for (const auto& [method, path] :
                 std::vector<std::pair<std::string, std::string>>{{"GET", "/rest/api/3/myself"},
                                                                  {"POST", "/rest/api/3/search/jql"},
                                                                  {"GET", "/rest/api/3/issue/" + key + "/transitions"},
                                                                  {"GET", "/rest/api/3/issue/" + key}}) {
                jira.setRoute(method, path, [reply = *c.everywhere](const LoggedRequest&) { return reply; });
            }
        }
        McpSession session(config.path());
        for (const ToolResult& result : everyTool(session)) {
            EXPECT_TRUE(result.isError);
            EXPECT_EQ(result.text, c.message);
        }
        ProcessResult run = session.finish();
        for (const auto& secret : secrets) {
            EXPECT_EQ(run.out.find(secret), std::string::npos);
            EXPECT_EQ(run.err.find(secret), std::string::npos);
        }
    }
    EXPECT_EQ(filesContaining(config.path(), secrets), std::vector<std::string>{});
    // Under the test script, HOME and the XDG folders are a private sandbox: nothing there may hold the token.
    if (const char* home = std::getenv("HOME"); home != nullptr && std::getenv("TASKBELL_KEYRING_SESSION") != nullptr) {
        EXPECT_EQ(filesContaining(std::filesystem::path(home).parent_path(), secrets), std::vector<std::string>{});
    }
}
