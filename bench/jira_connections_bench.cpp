// Connections opened by paged searches through the shared HTTP pool, counted by the fake Jira Cloud.
// Goals: one connection for a 3-page search, four for four concurrent 3-page searches.

#include <chrono>
#include <cstdio>
#include <future>
#include <vector>

#include "core/jira/client.h"
#include "core/jira/jql.h"
#include "fake_jira.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

void addBacklog(FakeJira& jira, int count)
{
    for (int i = 0; i < count; ++i) {
        FakeIssue issue;
        issue.summary = "Issue " + std::to_string(i);
        issue.assigneeAccountId = jira.accountId();
        jira.addIssue(issue);
    }
}

double millisSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    FakeJira single;
    addBacklog(single, 300);
    JiraClient client{JiraConfig{single.baseUrl(), single.email(), single.token()}};
    auto start = std::chrono::steady_clock::now();
    auto issues = client.search(JQL::backlog, 300);
    std::printf("one 3-page search: %zu issues, %zu requests, %d connection(s) (goal 1), %.1f ms\n", issues.size(),
                single.requests().size(), single.connectionCount(), millisSince(start));

    FakeJira shared;
    addBacklog(shared, 300);
    JiraClient sharedClient{JiraConfig{shared.baseUrl(), shared.email(), shared.token()}};
    start = std::chrono::steady_clock::now();
    std::vector<std::future<std::size_t>> searches;
    for (int i = 0; i < 4; ++i) {
        searches.push_back(
            std::async(std::launch::async, [&] { return sharedClient.search(JQL::backlog, 300).size(); }));
    }
    std::size_t total = 0;
    for (auto& search : searches) {
        total += search.get();
    }
    std::printf("four concurrent 3-page searches: %zu issues, %zu requests, %d connection(s) (goal 4), %.1f ms\n",
                total, shared.requests().size(), shared.connectionCount(), millisSince(start));
    return 0;
}
