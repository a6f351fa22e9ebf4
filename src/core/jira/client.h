#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/json_util.h"
#include "core/jira/config.h"
#include "core/jira/error.h"
#include "core/jira/models.h"
#include "core/jira/recent_writes.h"

namespace taskbell {

// One issue as read, with its "description" member exactly as Jira sent it (JSON null when absent), for
// callers that need more of the ADF than the decoded record keeps.
struct FetchedIssue
{
    Issue issue;
    Json rawDescription;
};

// Display label of a status category key: "done" -> "Done", "indeterminate" -> "In Progress",
// "new" -> "To Do"; any other key is its own label.
std::string categoryLabel(std::string_view categoryKey);

// The Jira Cloud REST API v3 client. A plain value built afresh for each operation; it owns no connection
// (the HTTP layer's shared pool does). Every operation is synchronous, thread-safe, throws JiraError, and
// takes an optional cancellation flag that aborts its transfers promptly (a cancelled transfer fails as
// `network`).
struct JiraClient
{
    JiraConfig config;
    // No progress for this long fails a request; tests shorten it.
    std::chrono::seconds idleTimeout{60};
    // When set: every issue read is noted, every successful write recorded, and every enhanced search
    // carries the ids written lately as `reconcileIssues`, so that a list made right after a write shows it.
    std::shared_ptr<RecentWrites> recentWrites = nullptr;

    // Fields requested by every search and by reading one issue, in this order.
    static constexpr std::array<std::string_view, 11> searchFields = {
        "summary",        "status",    "priority", "updated",  "created",    "duedate",
        "resolutiondate", "issuetype", "project",  "assignee", "description"};
    static constexpr int kPageSize = 100;
    // Larger response bodies fail as `network`.
    static constexpr std::size_t kMaxResponseBytes = std::size_t{32} << 20;

    // "/rest/api/3/issue/" with the key or id as one percent-encoded path segment.
    static std::string issuePath(std::string_view issueKeyOrId);

    // Sends one authenticated request to normalizedBaseURL + path and returns the body of a 2xx answer.
    std::string request(const std::string& method, const std::string& path,
                        const std::optional<std::string>& body = std::nullopt,
                        const std::atomic<bool>* cancel = nullptr) const;

    JiraUser myself(const std::atomic<bool>* cancel = nullptr) const;

    // Enhanced search, falling back to the classic endpoint when it answers 404 or 410. Paging stops once
    // cap issues are collected; the last page is kept whole.
    std::vector<Issue> search(const std::string& jql, int cap, const std::atomic<bool>* cancel = nullptr) const;
    std::vector<Issue> searchEnhanced(const std::string& jql, int cap, const std::atomic<bool>* cancel = nullptr) const;
    std::vector<Issue> searchClassic(const std::string& jql, int cap, const std::atomic<bool>* cancel = nullptr) const;

    Issue issue(const std::string& key, const std::atomic<bool>* cancel = nullptr) const;
    FetchedIssue fetchIssue(const std::string& key, const std::atomic<bool>* cancel = nullptr) const;

    std::vector<Transition> transitions(const std::string& issueKey, const std::atomic<bool>* cancel = nullptr) const;
    void applyTransition(const std::string& issueKey, const std::string& transitionId,
                         const std::atomic<bool>* cancel = nullptr) const;

    CreatedIssue createIssue(const std::string& projectKey, const std::string& summary,
                             const std::string& issueTypeName, const std::optional<std::string>& assigneeAccountId,
                             const std::optional<std::string>& description,
                             const std::atomic<bool>* cancel = nullptr) const;
    // Sends nothing when neither summary nor description is given. A description that converts to no
    // document (blank text) clears the issue's description.
    void updateIssue(const std::string& key, const std::optional<std::string>& summary,
                     const std::optional<std::string>& description, const std::atomic<bool>* cancel = nullptr) const;

    // Moves the issue into the status category (a key such as "done") by applying workflow transitions:
    // a direct one, for "done" one named Done, or up to three stepping stones through In Progress.
    void move(const std::string& issueKey, const std::string& toCategory,
              const std::atomic<bool>* cancel = nullptr) const;

private:
    void noteIssues(std::span<const Issue> issues) const;
    void noteWrite(const std::string& issueKeyOrId) const;
};

} // namespace taskbell
