#pragma once

namespace taskbell::test {
class FakeJira;
}

namespace taskbell::tools {

// Fills a fake Jira Cloud with a realistic workspace for trying the app without a Jira site: three
// projects, about forty issues of the signed-in user across Backlog, In Progress and Done (resolved over
// the last three months), with descriptions that use lists and line breaks.
void loadSampleWorkspace(test::FakeJira& jira);

// Fills a fake Jira Cloud with `count` issues of the signed-in user for measuring the app with a large list:
// spread evenly over Backlog, In Progress and Done (resolved over the last five months), with varied
// summaries and a description on every fourth.
void loadBulkIssues(test::FakeJira& jira, int count);

} // namespace taskbell::tools
