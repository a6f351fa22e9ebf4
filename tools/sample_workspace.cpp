#include "sample_workspace.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "fake_jira.h"

namespace taskbell::tools {
namespace {

using test::FakeIssue;
using test::FakeJira;
using test::Json;

Json text(const std::string& value)
{
    return {{"type", "text"}, {"text", value}};
}

// A paragraph whose lines are separated by hard breaks.
Json paragraph(std::initializer_list<const char*> lines)
{
    Json content = Json::array();
    for (const char* line : lines) {
        if (!content.empty()) {
            content.push_back({{"type", "hardBreak"}});
        }
        content.push_back(text(line));
    }
    return {{"type", "paragraph"}, {"content", content}};
}

Json bulletList(std::initializer_list<const char*> items)
{
    Json content = Json::array();
    for (const char* item : items) {
        content.push_back({{"type", "listItem"}, {"content", {paragraph({item})}}});
    }
    return {{"type", "bulletList"}, {"content", content}};
}

Json document(std::vector<Json> blocks)
{
    return {{"type", "doc"}, {"version", 1}, {"content", blocks}};
}

constexpr int kNoDueDate = -1000;

struct Sample
{
    const char* project;
    const char* summary;
    const char* statusId; // Backlog 10000, To Do 10001, In Progress 3, In Review 10003, Done 10002
    int daysAgo;          // last update (and resolution for Done)
    const char* type = "Task";
    const char* priority = "Medium";
    Json description = nullptr;
    int dueInDays = kNoDueDate;
};

std::int64_t millisDaysAgo(int days)
{
    auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return now - std::int64_t{days} * 86'400'000;
}

// The calendar date (UTC) of a moment, as Jira writes due dates.
std::string isoDate(std::int64_t epochMillis)
{
    std::time_t seconds = static_cast<std::time_t>(epochMillis / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &parts);
    return buffer;
}

std::vector<Sample> samples()
{
    Json release = document({paragraph({"Cut the release branch on Monday.", "Freeze strings a day earlier."}),
                             bulletList({"Update the changelog", "Tag the build", "Publish the feed entry"})});
    Json outage = document({paragraph({"Checkout returned 502 for about four minutes."}),
                            bulletList({"Timeline from the load balancer logs", "Root cause", "Follow-up tasks"}),
                            paragraph({"Owner: platform team."})});
    Json onboarding = document({paragraph({"New joiners lose a day to local set-up."}),
                                bulletList({"One script for the toolchain", "Seed data for the dev database"})});
    Json flaky = document({paragraph({"Fails about once in twenty runs on CI.", "Only on the 2-core runners."})});
    return {
        {"WEB", "Redesign the pricing page", "10000", 2, "Story", "Medium",
         document({paragraph({"Three plans side by side, yearly toggle."})})},
        {"WEB", "Add dark mode to the docs site", "10000", 9, "Story", "Low"},
        {"WEB", "Lazy-load images below the fold", "10001", 5, "Task", "Medium"},
        {"WEB", "Cookie banner covers the footer on mobile", "10001", 1, "Bug", "High",
         document({paragraph({"Seen on iOS Safari and Firefox for Android."})}), 11},
        {"OPS", "Rotate the database credentials", "10000", 12, "Task", "High", nullptr, 24},
        {"OPS", "Write the on-call handbook", "10000", 20, "Task", "Low", onboarding},
        {"OPS", "Archive logs older than 90 days", "10001", 3},
        {"TB", "Translate the settings window", "10000", 15, "Story", "Low"},
        {"TB", "Keyboard shortcut to open the panel", "10000", 6, "Story", "Medium"},
        {"TB", "Investigate flaky search test", "10001", 4, "Bug", "Medium", flaky},
        {"TB", "Document the MCP tools", "10000", 8},
        {"WEB", "Broken link in the footer", "10001", 0, "Bug", "Lowest"},
        {"WEB", "Migrate the blog to the new CMS", "3", 1, "Story", "High",
         document({paragraph({"Keep the old URLs working."}),
                   bulletList({"Export posts", "Import with authors", "Redirect map"})})},
        {"OPS", "Post-mortem for the checkout outage", "3", 0, "Task", "Highest", outage, 2},
        {"TB", "Prepare the 1.11 release", "3", 2, "Task", "High", release},
        {"TB", "Speed up the first load", "3", 1, "Task", "Medium"},
        {"OPS", "Upgrade the staging cluster", "3", 5, "Task", "Medium"},
        {"WEB", "Accessibility audit of the sign-up form", "3", 3, "Story", "High"},
        {"TB", "Fix the tray badge on wide counts", "10003", 0, "Bug", "Medium"},
        {"WEB", "Ship the new navigation", "10002", 1, "Story", "High"},
        {"WEB", "Compress hero images", "10002", 3},
        {"OPS", "Renew the TLS certificates", "10002", 4, "Task", "Highest"},
        {"TB", "Show due dates in rows", "10002", 6, "Story"},
        {"TB", "Copy key and summary", "10002", 9},
        {"OPS", "Nightly backup check", "10002", 11},
        {"WEB", "Fix the 404 page layout", "10002", 14, "Bug"},
        {"TB", "Group Done by month", "10002", 18, "Story"},
        {"OPS", "Move DNS to the new provider", "10002", 24, "Task", "High"},
        {"WEB", "Newsletter sign-up endpoint", "10002", 29},
        {"TB", "Mark done in one click", "10002", 33, "Story", "High"},
        {"OPS", "Alert on disk usage", "10002", 36},
        {"WEB", "Update the team page", "10002", 41, "Task", "Low"},
        {"TB", "Filter tabs with counts", "10002", 45, "Story"},
        {"OPS", "Retire the old build server", "10002", 52},
        {"WEB", "A/B test the sign-up button", "10002", 58, "Task", "Low"},
        {"TB", "Open issues in the browser", "10002", 63},
        {"OPS", "Quarterly access review", "10002", 67, "Task", "High"},
        {"WEB", "Fix font loading flash", "10002", 72, "Bug"},
        {"TB", "First public beta", "10002", 80, "Task", "High"},
    };
}

// Summaries are a verb and an object; the two lists are coprime in length, so the pairs repeat only after
// their product (about a thousand), and a running number keeps them apart beyond that.
constexpr std::array kVerbs = {"Fix",      "Review",   "Document", "Speed up",  "Test",     "Redesign", "Migrate",
                               "Clean up", "Monitor",  "Automate", "Translate", "Simplify", "Audit",    "Update",
                               "Measure",  "Retire",   "Secure",   "Refactor",  "Localise", "Plan",     "Ship",
                               "Check",    "Split",    "Archive",  "Rename",    "Profile",  "Harden",   "Draft",
                               "Merge",    "Validate", "Cache"};
constexpr std::array kObjects = {
    "the sign-up form",     "the nightly backup",      "the pricing page",      "the search index",
    "the release notes",    "the billing export",      "the on-call rota",      "the staging cluster",
    "the settings window",  "the login rate limit",    "the image pipeline",    "the onboarding e-mails",
    "the audit log",        "the mobile navigation",   "the DNS records",       "the invoice template",
    "the feature flags",    "the error pages",         "the metrics dashboard", "the webhook retries",
    "the CSV import",       "the password reset flow", "the cookie banner",     "the API quotas",
    "the test fixtures",    "the translation files",   "the build cache",       "the support macros",
    "the TLS certificates", "the data retention job",  "the team calendar",     "the crash reporter"};

} // namespace

void loadSampleWorkspace(FakeJira& jira)
{
    jira.addProject({"WEB", "Website", "simple"});
    jira.addProject({"OPS", "Operations", "gated"});
    for (const Sample& sample : samples()) {
        FakeIssue issue;
        issue.projectKey = sample.project;
        issue.summary = sample.summary;
        issue.statusId = sample.statusId;
        issue.issueType = sample.type;
        issue.priority = sample.priority;
        issue.assigneeAccountId = jira.accountId();
        issue.description = sample.description;
        issue.created = jira.timestamp(millisDaysAgo(sample.daysAgo + 7));
        issue.updated = jira.timestamp(millisDaysAgo(sample.daysAgo));
        if (std::string(sample.statusId) == "10002") {
            issue.resolutiondate = issue.updated;
        }
        if (sample.dueInDays != kNoDueDate) {
            issue.duedate = isoDate(millisDaysAgo(-sample.dueInDays));
        }
        jira.addIssue(std::move(issue));
    }
}

void loadBulkIssues(FakeJira& jira, int count)
{
    jira.addProject({"WEB", "Website", "simple"});
    jira.addProject({"OPS", "Operations", "gated"});
    constexpr std::array kProjects = {"TB", "WEB", "OPS"};
    constexpr std::array kTypes = {"Task", "Bug", "Story", "Task"};
    constexpr std::array kPriorities = {"Medium", "High", "Low", "Medium", "Highest", "Lowest"};
    constexpr std::array kStatuses = {"10000", "3", "10002"}; // Backlog, In Progress, Done
    const int perStatus = (count + 2) / 3;
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<std::size_t>(i);
        const int rank = i / 3; // position within its status
        FakeIssue issue;
        issue.projectKey =
            kProjects[static_cast<std::size_t>(rank) % kProjects.size()]; // every project in every status
        issue.summary = std::string(kVerbs[n % kVerbs.size()]) + " " + kObjects[n % kObjects.size()];
        if (i >= static_cast<int>(kVerbs.size() * kObjects.size())) {
            issue.summary += " (" + std::to_string(i / static_cast<int>(kVerbs.size() * kObjects.size()) + 1) + ")";
        }
        issue.statusId = kStatuses[n % kStatuses.size()];
        issue.issueType = kTypes[n % kTypes.size()];
        issue.priority = kPriorities[n % kPriorities.size()];
        issue.assigneeAccountId = jira.accountId();
        if (i % 4 == 0) {
            issue.description = document({paragraph({"Raised in the weekly review.", "Owner: this team."}),
                                          bulletList({"Agree on the scope", "Do the work", "Tell support"})});
        }
        // Done spreads over about five months, the others over the last few weeks.
        const int daysAgo = issue.statusId == "10002" ? rank * 150 / perStatus : rank * 30 / perStatus;
        issue.created = jira.timestamp(millisDaysAgo(daysAgo + 7));
        issue.updated = jira.timestamp(millisDaysAgo(daysAgo) - i);
        if (issue.statusId == "10002") {
            issue.resolutiondate = issue.updated;
        }
        jira.addIssue(std::move(issue));
    }
}

} // namespace taskbell::tools
