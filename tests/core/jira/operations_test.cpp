// The client's operations against the fake Jira Cloud, where the MCP tools cannot reach them (the tools'
// scenes own the rest): paging faults and caps, the classic search's paging, and calls the tools never make.

#include <gtest/gtest.h>

#include "core/jira/client.h"
#include "core/jira/jql.h"
#include "failure.h"
#include "fake_jira.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

JiraClient clientFor(const FakeJira& jira)
{
    return JiraClient{JiraConfig{jira.baseUrl(), jira.email(), jira.token()}};
}

// count Backlog issues assigned to the signed-in user.
void addBacklog(FakeJira& jira, int count)
{
    for (int i = 0; i < count; ++i) {
        FakeIssue issue;
        issue.summary = "Issue " + std::to_string(i);
        issue.assigneeAccountId = jira.accountId();
        jira.addIssue(issue);
    }
}

} // namespace

TEST(JiraOperations, EnhancedSearchPagesUntilTheCapAndStopsOnMisbehavingPages)
{
    FakeJira jira;
    addBacklog(jira, 300);
    jira.setNullTokenOnLastPage(true);
    const std::map<std::string, PagingFault> faults{{"none", PagingFault::none},
                                                    {"repeatToken", PagingFault::repeatToken},
                                                    {"emptyPagesWithToken", PagingFault::emptyPagesWithToken}};
    for (const Json& row : testData("jira/paging.json")) {
        SCOPED_TRACE(row[0]);
        jira.clearLog();
        jira.setPagingFault(faults.at(row[1]));
        jira.setMaxPageSize(row[2]);
        auto issues = clientFor(jira).search(JQL::backlog, row[3]);
        EXPECT_EQ(issues.size(), row[4]);
        EXPECT_EQ(issues.front().fields.summary, "Issue 299") << "Jira's order: most recently updated first";
        EXPECT_EQ(jira.requests().size(), row[5]);
    }
    EXPECT_TRUE(jira.requests().back().json()["nextPageToken"].is_string());
    jira.setRoute("POST", "/rest/api/3/search/jql", [](const LoggedRequest&) {
        return FakeReply{200, R"({"issues":[{"id":"1","key":"A-1","fields":{}}],"isLast":false})"};
    });
    EXPECT_EQ(clientFor(jira).search(JQL::backlog, 1000).size(), 1u) << "no token, no next page, whatever isLast says";
}

TEST(JiraOperations, TheClassicSearchPagesByStartAtUntilTheCapOrTheTotal)
{
    FakeJira jira;
    addBacklog(jira, 250);
    jira.setClassicSearch(EndpointMode::normal);
    jira.setEnhancedSearch(EndpointMode::gone);
    JiraClient client = clientFor(jira);
    EXPECT_EQ(client.search(JQL::backlog, 1000).size(), 250u);
    auto classic = jira.requests("POST", "/rest/api/3/search");
    ASSERT_EQ(classic.size(), 3u);
    EXPECT_EQ(classic[2].json()["startAt"], 200);
    jira.clearLog();
    EXPECT_EQ(client.search(JQL::backlog, 150).size(), 200u) << "cap reached after the second page";
    EXPECT_EQ(jira.requests("POST", "/rest/api/3/search").size(), 2u);

    // It stops without a total or on an empty page.
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

// The tools validate before they call: here an edit with nothing to change, and a move into a category other
// than the three, which the client names by its key.
TEST(JiraOperations, CallsTheToolsNeverMake)
{
    FakeJira jira;
    std::string key = jira.addIssue(FakeIssue{});
    clientFor(jira).updateIssue(key, std::nullopt, std::nullopt);
    EXPECT_TRUE(jira.requests().empty()) << "nothing to change sends nothing";
    EXPECT_EQ(failure<JiraError>([&] { clientFor(jira).move(key, "review"); }),
              "No workflow transition to review is available for this issue.");
}
