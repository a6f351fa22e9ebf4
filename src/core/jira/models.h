#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/base/json_util.h"

namespace taskbell {

// Records of the Jira Cloud REST API v3. Each is decoded by a strict decoder (decodeX / fromJson):
// required members must be present, non-null and of the right type; optional members may be missing
// or null; a wrong-typed member anywhere fails the whole document with DecodeError.

class DecodeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error; // what() names where decoding failed, e.g. "issues[3].fields.summary: ..."
};

struct StatusCategory
{
    std::optional<std::string> key;
    std::optional<std::string> name;
    bool operator==(const StatusCategory&) const = default;
};

struct IssueStatus
{
    std::optional<std::string> name;
    std::optional<StatusCategory> statusCategory;
    bool operator==(const IssueStatus&) const = default;
};

struct IssueType
{
    std::optional<std::string> name;
    std::optional<std::string> iconUrl;
    bool operator==(const IssueType&) const = default;
};

struct Priority
{
    std::optional<std::string> name;
    bool operator==(const Priority&) const = default;
};

struct ProjectRef
{
    std::optional<std::string> key;
    std::optional<std::string> name;
    bool operator==(const ProjectRef&) const = default;
};

struct JiraUser
{
    std::optional<std::string> accountId;
    std::optional<std::string> displayName;
    std::optional<std::string> emailAddress;
    bool operator==(const JiraUser&) const = default;
};

struct ADFNode
{
    std::optional<std::string> type;
    std::optional<std::string> text;
    std::optional<std::vector<ADFNode>> content;
    bool operator==(const ADFNode&) const = default;
};

struct IssueFields
{
    std::optional<std::string> summary;
    std::optional<IssueStatus> status;
    std::optional<Priority> priority;
    std::optional<std::string> updated;
    std::optional<std::string> created;
    std::optional<std::string> duedate;
    std::optional<std::string> resolutiondate;
    std::optional<IssueType> issuetype;
    std::optional<ProjectRef> project;
    std::optional<JiraUser> assignee;
    std::optional<ADFNode> description;
    bool operator==(const IssueFields&) const = default;
};

struct Issue
{
    std::string id;
    std::string key;
    IssueFields fields;
    bool operator==(const Issue&) const = default;

    // What stands for a missing summary wherever an issue is named.
    static constexpr std::string_view kNoSummary = "(no summary)";

    // First of resolutiondate, updated, created that parses; the distant past when none does.
    std::chrono::system_clock::time_point sortDate() const;
    // In the "done" status category.
    bool isDone() const;
    // The summary, or kNoSummary when there is none.
    std::string summaryText() const;
    // When the issue was finished: resolutiondate, else updated, the first that parses.
    std::optional<std::chrono::system_clock::time_point> finishedDate() const;
    // The description flattened to plain text; nothing when there is none or it is empty.
    std::optional<std::string> descriptionText() const;
};

struct TransitionTarget
{
    std::optional<std::string> name;
    std::optional<StatusCategory> statusCategory;
    bool operator==(const TransitionTarget&) const = default;
};

struct Transition
{
    std::string id;
    std::optional<std::string> name;
    std::optional<TransitionTarget> to;
    bool operator==(const Transition&) const = default;
};

struct TransitionsResponse
{
    std::vector<Transition> transitions;
};

struct CreatedIssue
{
    std::string id;
    std::string key;
};

struct EnhancedSearchResponse
{
    std::vector<Issue> issues;
    std::optional<std::string> nextPageToken;
    std::optional<bool> isLast;
};

struct ClassicSearchResponse
{
    std::vector<Issue> issues;
    std::optional<std::int64_t> startAt;
    std::optional<std::int64_t> maxResults;
    std::optional<std::int64_t> total;
};

// Decoders of the top-level shapes. Throw DecodeError.
JiraUser decodeJiraUser(const Json& json);
Issue decodeIssue(const Json& json);
TransitionsResponse decodeTransitionsResponse(const Json& json);
CreatedIssue decodeCreatedIssue(const Json& json);
EnhancedSearchResponse decodeEnhancedSearchResponse(const Json& json);
ClassicSearchResponse decodeClassicSearchResponse(const Json& json);
ADFNode decodeADFNode(const Json& json);

} // namespace taskbell
