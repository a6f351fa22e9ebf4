// The client's operations against the fake Jira Cloud: searches, issues, edits and moves.

#include <gtest/gtest.h>

#include "adf_builder.h"
#include "core/jira/client.h"
#include "core/jira/jql.h"
#include "failure.h"
#include "fake_jira.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

JiraClient clientFor(const FakeJira& jira)
{
    return JiraClient{JiraConfig{jira.baseUrl(), jira.email(), jira.token()}};
}

// count Backlog issues assigned to the signed-in user, newest first by creation order.
void addBacklog(FakeJira& jira, int count)
{
    for (int i = 0; i < count; ++i) {
        FakeIssue issue;
        issue.summary = "Issue " + std::to_string(i);
        issue.assigneeAccountId = jira.accountId();
        jira.addIssue(issue);
    }
}

const Json kFields = {"summary",        "status",    "priority", "updated",  "created",    "duedate",
                      "resolutiondate", "issuetype", "project",  "assignee", "description"};

std::string categoryOf(const FakeJira& jira, const std::string& key)
{
    return jira.status(jira.issue(key)->statusId)->categoryKey;
}

std::vector<std::string> appliedIds(const FakeJira& jira, const std::string& key)
{
    std::vector<std::string> ids;
    for (const auto& request : jira.requests("POST", "/rest/api/3/issue/" + key + "/transitions")) {
        ids.push_back(request.json()["transition"]["id"]);
    }
    return ids;
}

std::string moveFailure(const JiraClient& client, const std::string& key, const std::string& category)
{
    auto error = caught<JiraError>([&] { client.move(key, category); });
    EXPECT_TRUE(error && error->kind() == JiraError::Kind::noTransition);
    return error ? error->what() : "moved";
}

} // namespace

TEST(JiraOperations, EnhancedSearchPagesUntilTheCapAndKeepsTheLastPageWhole)
{
    FakeJira jira;
    addBacklog(jira, 300);
    JiraClient client = clientFor(jira);

    auto all = client.search(JQL::backlog, 300);
    ASSERT_EQ(all.size(), 300u);
    EXPECT_EQ(all.front().fields.summary, "Issue 299") << "Jira's order: most recently updated first";
    auto pages = jira.requests("POST", "/rest/api/3/search/jql");
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].json(), (Json{{"jql", JQL::backlog}, {"maxResults", 100}, {"fields", kFields}}));
    EXPECT_FALSE(pages[0].json().contains("nextPageToken"));
    EXPECT_TRUE(pages[1].json()["nextPageToken"].is_string());
    EXPECT_EQ(pages[2].json()["jql"], JQL::backlog);

    jira.clearLog();
    EXPECT_EQ(client.search(JQL::backlog, 250).size(), 300u);
    EXPECT_EQ(jira.requests().size(), 3u);
    jira.clearLog();
    EXPECT_EQ(client.search(JQL::backlog, 1).size(), 100u);
    EXPECT_EQ(jira.requests().size(), 1u);

    // A repeated token or empty pages that still carry one end the search.
    jira.clearLog();
    jira.setPagingFault(PagingFault::repeatToken);
    EXPECT_EQ(client.search(JQL::backlog, 10000).size(), 200u) << "the first page, twice";
    EXPECT_EQ(jira.requests().size(), 2u);
    jira.clearLog();
    jira.setPagingFault(PagingFault::emptyPagesWithToken);
    EXPECT_EQ(client.search(JQL::backlog, 10000).size(), 300u);
    EXPECT_EQ(jira.requests().size(), 4u) << "three full pages, then one empty page ends it";

    // The server may hand out fewer than asked for; the token is followed, not the page size.
    jira.clearLog();
    jira.setPagingFault(PagingFault::none);
    jira.setMaxPageSize(40);
    jira.setNullTokenOnLastPage(true);
    EXPECT_EQ(client.search(JQL::backlog, 1000).size(), 300u);
    EXPECT_EQ(jira.requests().size(), 8u);

    jira.setRoute("POST", "/rest/api/3/search/jql", [](const LoggedRequest&) {
        return FakeReply{200, R"({"issues":[{"id":"1","key":"A-1","fields":{}}],"isLast":false})"};
    });
    jira.clearLog();
    EXPECT_EQ(client.search(JQL::backlog, 1000).size(), 1u) << "no token means no further page, whatever isLast says";
    EXPECT_EQ(jira.requests().size(), 1u);
}

TEST(JiraOperations, SearchFallsBackToTheClassicEndpointOnlyOn404And410)
{
    FakeJira jira;
    addBacklog(jira, 250);
    jira.setClassicSearch(EndpointMode::normal);
    JiraClient client = clientFor(jira);
    for (EndpointMode mode : {EndpointMode::gone, EndpointMode::notFound}) {
        jira.clearLog();
        jira.setEnhancedSearch(mode);
        auto issues = client.search(JQL::backlog, 1000);
        EXPECT_EQ(issues.size(), 250u);
        auto classic = jira.requests("POST", "/rest/api/3/search");
        ASSERT_EQ(classic.size(), 3u);
        for (int page = 0; page < 3; ++page) {
            EXPECT_EQ(classic[page].json(),
                      (Json{{"jql", JQL::backlog}, {"startAt", page * 100}, {"maxResults", 100}, {"fields", kFields}}));
        }
    }
    jira.clearLog();
    EXPECT_EQ(client.search(JQL::backlog, 150).size(), 200u) << "cap reached after the second page";
    EXPECT_EQ(jira.requests("POST", "/rest/api/3/search").size(), 2u);

    jira.clearLog();
    jira.setEnhancedSearch(EndpointMode::badRequest);
    EXPECT_EQ(caught<JiraError>([&] { client.search(JQL::backlog, 10); }).value().status(), 400);
    EXPECT_TRUE(jira.requests("POST", "/rest/api/3/search").empty());

    // Both retired, as on today's Jira Cloud: the classic endpoint's 410 is the answer.
    jira.setEnhancedSearch(EndpointMode::gone);
    jira.setClassicSearch(EndpointMode::gone);
    EXPECT_EQ(caught<JiraError>([&] { client.search(JQL::backlog, 10); }).value().status(), 410);

    // The classic endpoint stops without a total or on an empty page.
    jira.clearLog();
    jira.setRoute("POST", "/rest/api/3/search", [](const LoggedRequest& request) {
        if (request.json()["jql"] == "no total") {
            return FakeReply{200, R"({"issues":[{"id":"1","key":"A-1","fields":{}}]})"};
        }
        return FakeReply{200, R"({"startAt":0,"total":500,"issues":[]})"};
    });
    EXPECT_EQ(client.searchClassic("no total", 1000).size(), 1u);
    EXPECT_EQ(client.searchClassic("empty", 1000).size(), 0u);
    EXPECT_EQ(jira.requests().size(), 2u);
}

TEST(JiraOperations, SectionQueriesSelectTheRightIssues)
{
    EXPECT_EQ(std::string(JQL::backlog), "assignee = currentUser() AND status = \"Backlog\" ORDER BY updated DESC");
    EXPECT_EQ(std::string(JQL::inProgress),
              "assignee = currentUser() AND statusCategory = \"In Progress\" ORDER BY updated DESC");
    const std::string prefix = "assignee = currentUser() AND statusCategory = Done AND updated >= ";
    EXPECT_EQ(JQL::assignedDone(1), prefix + "startOfMonth() ORDER BY updated DESC");
    EXPECT_EQ(JQL::assignedDone(0), prefix + "startOfMonth() ORDER BY updated DESC");
    EXPECT_EQ(JQL::assignedDone(-4), prefix + "startOfMonth() ORDER BY updated DESC");
    EXPECT_EQ(JQL::assignedDone(2), prefix + "startOfMonth(\"-1\") ORDER BY updated DESC");
    EXPECT_EQ(JQL::assignedDone(12), prefix + "startOfMonth(\"-11\") ORDER BY updated DESC");

    FakeJira::Options options;
    options.sampleIssues = true;
    FakeJira jira(options);
    JiraClient client = clientFor(jira);
    auto summaries = [&](const std::string& jql) {
        std::vector<std::string> out;
        for (const auto& issue : client.search(jql, 100)) {
            out.push_back(issue.fields.summary.value_or(""));
        }
        return out;
    };
    EXPECT_EQ(summaries(JQL::backlog),
              (std::vector<std::string>{"Rotate the signing keys", "Write release notes", "Gated task"}))
        << "by the status named Backlog only: the To Do issue is in none of the sections";
    EXPECT_EQ(summaries(JQL::inProgress),
              (std::vector<std::string>{"Fix the tray badge on Wayland", "Endless review"}));
    EXPECT_EQ(summaries(JQL::assignedDone(2)), (std::vector<std::string>{"Ship 1.10"}));
}

TEST(JiraOperations, ReadsOneIssueWithItsRawDescription)
{
    FakeJira::Options options;
    options.utcOffset = "-0300";
    FakeJira jira(options);
    Json mediaInline = {{"type", "mediaInline"}, {"attrs", {{"id", "6e7c"}, {"collection", ""}, {"type", "file"}}}};
    Json rich = adf::doc({adf::paragraph({adf::text("See "), mediaInline})});
    FakeIssue described;
    described.summary = "Rotate the keys";
    described.description = rich;
    described.assigneeAccountId = jira.accountId();
    described.duedate = "2026-07-15";
    std::string key = jira.addIssue(described);
    std::string bare = jira.addIssue(FakeIssue{});
    JiraClient client = clientFor(jira);

    FetchedIssue fetched = client.fetchIssue("tb-1");
    EXPECT_EQ(jira.requests().back().target,
              "/rest/api/3/issue/tb-1?fields=summary,status,priority,updated,created,duedate,resolutiondate,"
              "issuetype,project,assignee,description");
    EXPECT_EQ(fetched.issue.key, key);
    EXPECT_EQ(fetched.rawDescription, rich);
    EXPECT_EQ(fetched.issue.fields.summary, "Rotate the keys");
    EXPECT_EQ(fetched.issue.fields.status->statusCategory->key, "new");
    EXPECT_EQ(fetched.issue.fields.assignee->accountId, jira.accountId());
    EXPECT_EQ(fetched.issue.fields.duedate, "2026-07-15");
    EXPECT_TRUE(fetched.issue.fields.updated->ends_with("-0300"));
    EXPECT_EQ(fetched.issue.fields.description->content->front().content->size(), 2u);

    FetchedIssue plain = client.fetchIssue(bare);
    EXPECT_TRUE(plain.rawDescription.is_null());
    EXPECT_FALSE(plain.issue.fields.description);
    EXPECT_FALSE(plain.issue.fields.assignee);
    EXPECT_EQ(client.issue(bare).key, bare);
}

TEST(JiraOperations, CreatesIssuesWithExactBodies)
{
    FakeJira jira;
    JiraClient client = clientFor(jira);
    EXPECT_EQ(client.myself(), (JiraUser{jira.accountId(), "Ana Pereira", jira.email()}));
    CreatedIssue created = client.createIssue("TB", "Write release notes", "Task", jira.accountId(), "Draft first.");
    EXPECT_EQ(created.key, "TB-1");
    Json body = jira.requests().back().json();
    EXPECT_EQ(body["fields"]["project"], (Json{{"key", "TB"}}));
    EXPECT_EQ(body["fields"]["summary"], "Write release notes");
    EXPECT_EQ(body["fields"]["issuetype"], (Json{{"name", "Task"}}));
    EXPECT_EQ(body["fields"]["assignee"], (Json{{"accountId", jira.accountId()}}));
    EXPECT_EQ(body["fields"]["description"]["type"], "doc");
    EXPECT_EQ(jira.issue("TB-1")->description, body["fields"]["description"]) << "the fake accepted the ADF";

    client.createIssue("TB", "  Spaces kept  ", "Bug", "", "  \t ");
    Json bare = jira.requests().back().json()["fields"];
    EXPECT_FALSE(bare.contains("assignee"));
    EXPECT_FALSE(bare.contains("description"));
    EXPECT_EQ(bare["summary"], "  Spaces kept  ");
    client.createIssue("TB", "No extras", "Task", std::nullopt, std::nullopt);
    EXPECT_EQ(jira.requests().back().json()["fields"].size(), 3u);

    auto refused = caught<JiraError>([&] { client.createIssue("TB", "Two\nlines", "Epic", "nobody", std::nullopt); });
    EXPECT_EQ(refused.value().status(), 400);
    Json errors = Json::parse(refused->body())["errors"];
    EXPECT_EQ(errors["summary"], "The summary is invalid because it contains newline characters.");
    EXPECT_EQ(errors["issuetype"], "The issue type selected is invalid.");
    EXPECT_TRUE(errors.contains("assignee"));
}

TEST(JiraOperations, UpdatesOnlyWhatIsGiven)
{
    FakeJira jira;
    FakeIssue issue;
    issue.summary = "Old";
    issue.description = adf::doc({});
    std::string key = jira.addIssue(issue);
    JiraClient client = clientFor(jira);

    client.updateIssue(key, std::nullopt, std::nullopt);
    EXPECT_TRUE(jira.requests().empty()) << "nothing to change sends nothing";

    client.updateIssue(key, std::nullopt, " \n ");
    auto request = jira.requests().back();
    EXPECT_EQ(request.method, "PUT");
    EXPECT_EQ(request.target, "/rest/api/3/issue/" + key);
    EXPECT_EQ(request.json(), (Json{{"fields", {{"description", nullptr}}}}));
    EXPECT_TRUE(jira.issue(key)->description.is_null());

    client.updateIssue(key, "New title", "Line one\nLine two");
    Json fields = jira.requests().back().json()["fields"];
    EXPECT_EQ(fields.size(), 2u);
    EXPECT_EQ(jira.issue(key)->summary, "New title");
    EXPECT_EQ(jira.issue(key)->description, fields["description"]);

    auto refused = caught<JiraError>([&] { client.updateIssue(key, "", std::nullopt); });
    EXPECT_EQ(Json::parse(refused.value().body())["errors"]["summary"], "You must specify a summary of the issue.");
}

TEST(JiraOperations, ListsAndAppliesTransitionsAndMoveFindsARouteOrNamesTheCategory)
{
    FakeJira jira;
    JiraClient client = clientFor(jira);
    auto issueIn = [&](const char* project) {
        FakeIssue issue;
        issue.projectKey = project;
        return jira.addIssue(issue);
    };

    std::string key = jira.addIssue(FakeIssue{});
    auto offered = client.transitions(key);
    EXPECT_EQ(jira.requests().back().target, "/rest/api/3/issue/" + key + "/transitions");
    ASSERT_EQ(offered.size(), 4u);
    EXPECT_EQ(offered[0].id, "11");
    EXPECT_EQ(offered[2].to->statusCategory->key, "done");
    client.applyTransition(key, "31");
    EXPECT_EQ(jira.requests().back().json(), (Json{{"transition", {{"id", "31"}}}}));
    EXPECT_EQ(categoryOf(jira, key), "done");
    EXPECT_EQ(client.transitions(key).size(), 4u) << "global transitions stay offered, their own target included";
    EXPECT_EQ(failure<JiraError>([&] { client.applyTransition(key, "999"); }),
              "Jira returned HTTP 400. {\"errorMessages\":[\"Transition id '999' is not valid for this issue.\"],"
              "\"errors\":{}}");

    std::string simple = issueIn("TB");
    client.move(simple, "done");
    EXPECT_EQ(appliedIds(jira, simple), std::vector<std::string>{"31"});
    client.move(simple, "indeterminate");
    client.move(simple, "new");
    EXPECT_EQ(appliedIds(jira, simple), (std::vector<std::string>{"31", "21", "11"}));
    EXPECT_EQ(jira.issue(simple)->statusId, "10001");

    std::string gated = issueIn("GATE");
    client.move(gated, "done");
    EXPECT_EQ(appliedIds(jira, gated), (std::vector<std::string>{"51", "61"})) << "through In Progress";
    EXPECT_EQ(categoryOf(jira, gated), "done");

    std::string loop = issueIn("LOOP");
    EXPECT_EQ(moveFailure(client, loop, "done"), "No workflow transition to Done is available for this issue.");
    EXPECT_EQ(appliedIds(jira, loop), (std::vector<std::string>{"81", "82", "83"}));
    EXPECT_EQ(jira.requests("GET", "/rest/api/3/issue/" + loop + "/transitions").size(), 3u);
    EXPECT_EQ(moveFailure(client, loop, "new"), "No workflow transition to To Do is available for this issue.");
    EXPECT_EQ(appliedIds(jira, loop).size(), 3u) << "\"new\" tries the direct route only";
    EXPECT_EQ(moveFailure(client, loop, "review"), "No workflow transition to review is available for this issue.");
    EXPECT_EQ(jira.requests("GET", "/rest/api/3/issue/" + loop + "/transitions").size(), 5u);

    std::string named = issueIn("NAMED");
    client.move(named, "done");
    EXPECT_EQ(appliedIds(jira, named), std::vector<std::string>{"92"}) << "the transition named DONE wins";

    std::string frozen = issueIn("FROZEN");
    EXPECT_EQ(moveFailure(client, frozen, "done"), "No workflow transition to Done is available for this issue.");
    EXPECT_EQ(jira.requests("GET", "/rest/api/3/issue/" + frozen + "/transitions").size(), 1u);

    EXPECT_EQ(caught<JiraError>([&] { client.move("NOPE-1", "done"); }).value().status(), 404);

    EXPECT_EQ(categoryLabel("done"), "Done");
    EXPECT_EQ(categoryLabel("indeterminate"), "In Progress");
    EXPECT_EQ(categoryLabel("new"), "To Do");
    EXPECT_EQ(categoryLabel("Done"), "Done");
    EXPECT_EQ(categoryLabel("undefined"), "undefined");
}

TEST(JiraOperations, EnhancedSearchesReconcileTheIssuesJustWritten)
{
    FakeJira jira;
    auto now = std::chrono::steady_clock::now();
    jira.setSearchLag(std::chrono::minutes(1), [&] { return now; });
    FakeIssue issue;
    issue.summary = "Working";
    issue.statusId = "3";
    issue.assigneeAccountId = jira.accountId();
    std::string key = jira.addIssue(issue);
    JiraClient plain = clientFor(jira);
    JiraClient tracking = clientFor(jira);
    tracking.recentWrites = std::make_shared<RecentWrites>();
    auto found = [](const JiraClient& client) { return client.search(JQL::inProgress, 50).size(); };
    auto lastBody = [&](const char* path) { return jira.requests("POST", path).back().json(); };

    EXPECT_EQ(found(tracking), 1u);
    EXPECT_FALSE(lastBody("/rest/api/3/search/jql").contains("reconcileIssues")) << "nothing written yet";
    tracking.updateIssue(key, "Renamed", std::nullopt); // by key: the id comes from the search before
    CreatedIssue created = tracking.createIssue("TB", "New", "Task", jira.accountId(), std::nullopt);
    tracking.move(created.key, "indeterminate");
    EXPECT_EQ(found(plain), 0u) << "the fake lags like Jira";
    EXPECT_EQ(found(tracking), 2u);
    EXPECT_EQ(lastBody("/rest/api/3/search/jql")["reconcileIssues"],
              Json::array({std::stoll(created.id), std::stoll(jira.issue(key)->id)}));

    jira.setEnhancedSearch(EndpointMode::gone);
    jira.setClassicSearch(EndpointMode::normal);
    EXPECT_EQ(found(tracking), 2u);
    EXPECT_FALSE(lastBody("/rest/api/3/search").contains("reconcileIssues")) << "the classic search has no such member";
    jira.setEnhancedSearch(EndpointMode::normal);
    now += std::chrono::minutes(1);
    EXPECT_EQ(found(plain), 2u) << "once the index has caught up";
}
