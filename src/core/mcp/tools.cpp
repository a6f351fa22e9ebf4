#include "core/mcp/tools.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "core/activity/issue_state.h"
#include "core/activity/journal.h"
#include "core/base/text_util.h"
#include "core/jira/adf.h"
#include "core/jira/client.h"
#include "core/jira/date.h"
#include "core/jira/error.h"
#include "core/jira/jql.h"
#include "core/jira/models.h"
#include "core/mcp/server_internal.h"
#include "core/mcp/settings.h"

namespace taskbell::MCPServer {
namespace {

using Activity::Entry;

// The ids this server wrote lately, for the searches of later calls (each call builds its own client).
const std::shared_ptr<RecentWrites>& recentWrites()
{
    static const auto writes = std::make_shared<RecentWrites>();
    return writes;
}

// A failing journal never fails the tool call: the write is done, the journal only reports it.
void record(const Entry& entry)
{
    Activity::Journal().tryAppend(entry, [](std::string_view line) { log(line); });
}

// The issue as it stands, for the journal; nothing when it cannot be read (the tool goes on regardless).
std::optional<Activity::IssueState> stateOf(const JiraClient& client, const std::string& key)
{
    try {
        return Activity::readIssueState(client, key);
    } catch (...) {
        return std::nullopt;
    }
}

// Arguments count only when they have the right JSON type; anything else is absent.
std::optional<std::string> textArgument(const Json& arguments, const char* name)
{
    auto found = arguments.find(name);
    if (found == arguments.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

std::optional<std::int64_t> integerArgument(const Json& arguments, const char* name)
{
    auto found = arguments.find(name);
    if (found == arguments.end()) {
        return std::nullopt;
    }
    if (found->is_number_unsigned() && !jsonInt64(*found)) {
        return std::numeric_limits<std::int64_t>::max(); // a huge limit is as good as no limit
    }
    return jsonInt64(*found); // 5.0 counts as 5
}

std::optional<bool> booleanArgument(const Json& arguments, const char* name)
{
    auto found = arguments.find(name);
    if (found == arguments.end() || !found->is_boolean()) {
        return std::nullopt;
    }
    return found->get<bool>();
}

std::string trimmed(std::string_view text)
{
    return std::string(trimWhitespaceAndNewlines(text));
}

// A trimmed text argument, absent when missing, not text or blank.
std::optional<std::string> nonBlankArgument(const Json& arguments, const char* name)
{
    auto text = textArgument(arguments, name);
    if (!text) {
        return std::nullopt;
    }
    std::string value = trimmed(*text);
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

std::string caseMapped(const std::string& text, bool upper)
{
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    if (upper) {
        unicode.toUpper(icu::Locale::getRoot());
    } else {
        unicode.toLower(icu::Locale::getRoot());
    }
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

std::string browseLink(const Settings& settings, const std::string& key)
{
    return settings.config.normalizedBaseURL() + "/browse/" + key;
}

bool looksLikeIssueKey(std::string_view key)
{
    auto isUpper = [](char c) { return c >= 'A' && c <= 'Z'; };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto dash = key.rfind('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == key.size() || !isUpper(key.front())) {
        return false;
    }
    std::string_view project = key.substr(0, dash);
    std::string_view number = key.substr(dash + 1);
    return std::all_of(project.begin(), project.end(), [&](char c) { return isUpper(c) || isDigit(c) || c == '_'; }) &&
           std::all_of(number.begin(), number.end(), isDigit);
}

std::string joined(const std::vector<std::string>& items, std::string_view separator)
{
    std::string result;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            result.append(separator);
        }
        result.append(items[i]);
    }
    return result;
}

std::string orUnknown(const std::optional<IssueStatus>& status)
{
    return status && status->name ? *status->name : "Unknown";
}

std::string category(const std::optional<std::string>& from, const std::optional<std::string>& fallback)
{
    std::string text = from ? trimmed(*from) : std::string();
    if (text.empty()) {
        return fallback.value_or("new");
    }
    std::string lowered = caseMapped(text, false);
    if (lowered == "todo" || lowered == "to do" || lowered == "to_do" || lowered == "new") {
        return "new";
    }
    if (lowered == "in_progress" || lowered == "in progress" || lowered == "inprogress" || lowered == "indeterminate") {
        return "indeterminate";
    }
    if (lowered == "done") {
        return "done";
    }
    throw ToolError("`status` must be one of todo, in_progress, done \u2014 got '" + lowered + "'.");
}

std::string issueKey(const Json& arguments)
{
    auto text = nonBlankArgument(arguments, "issueKey");
    if (!text) {
        throw ToolError("`issueKey` is required.");
    }
    std::string key = caseMapped(*text, true);
    if (!looksLikeIssueKey(key)) {
        throw ToolError("`issueKey` must look like PROJ-123 \u2014 got '" + key + "'.");
    }
    return key;
}

std::string transitionHint(const JiraClient& client, const std::string& key)
{
    std::vector<Transition> transitions;
    try {
        transitions = client.transitions(key);
    } catch (...) {
        return "";
    }
    if (transitions.empty()) {
        return "";
    }
    std::vector<std::string> items;
    for (const auto& transition : transitions) {
        std::string target = transition.to && transition.to->name ? *transition.to->name : "?";
        items.push_back(transition.name.value_or("?") + " \u2192 " + target);
    }
    return "\nAvailable transitions for " + key + ": " + joined(items, ", ");
}

std::string render(const std::vector<Issue>& issues, const std::string& title, std::int64_t limit,
                   std::chrono::system_clock::time_point now = std::chrono::system_clock::now())
{
    if (issues.empty()) {
        return title + ": none";
    }
    std::size_t shown =
        std::min<std::size_t>(issues.size(), static_cast<std::size_t>(std::max<std::int64_t>(limit, 1)));
    std::string text = title + " \u2014 " + std::to_string(issues.size());
    if (shown < issues.size()) {
        text += " (showing " + std::to_string(shown) + ")";
    }
    text += ":";
    for (std::size_t i = 0; i < shown; ++i) {
        const Issue& issue = issues[i];
        const IssueFields& fields = issue.fields;
        text += "\n  " + issue.key + "  [" + orUnknown(fields.status) + "]  " + issue.summaryText() + "  (" +
                (fields.issuetype && fields.issuetype->name ? *fields.issuetype->name : "Issue") + ", " +
                JiraDate::relativeDays(issue.sortDate(), now) + ")";
    }
    return text;
}

std::string createTask(const JiraClient& client, const Settings& settings, const Json& arguments)
{
    auto summary = nonBlankArgument(arguments, "summary");
    if (!summary) {
        throw ToolError("`summary` is required.");
    }
    std::string projectKey = nonBlankArgument(arguments, "projectKey").value_or(trimmed(settings.projectKey));
    if (projectKey.empty()) {
        throw ToolError("No `projectKey` given and none set in Taskbell Settings.");
    }
    std::string issueType = nonBlankArgument(arguments, "issueType").value_or(trimmed(settings.defaultIssueType));
    if (issueType.empty()) {
        issueType = "Task";
    }
    std::string target = category(textArgument(arguments, "status"), "new");

    std::optional<std::string> assignee;
    if (booleanArgument(arguments, "assignToMe") != false) {
        assignee = client.myself().accountId;
    }
    auto description = nonBlankArgument(arguments, "description");
    CreatedIssue created = client.createIssue(projectKey, *summary, issueType, assignee, description);

    Entry entry = Entry::make(Entry::Tool::createTask, created.key, created.id);
    entry.summary = *summary;

    std::string text = "Created " + created.key + " \u2014 " + *summary + "\n" + browseLink(settings, created.key);
    if (target == "new") {
        record(entry);
        return text; // Jira creates every issue in its workflow's initial status
    }
    try {
        client.move(created.key, target);
    } catch (...) {
        record(entry);
        std::string reason = describe(std::current_exception());
        return text + "\n\nThe task was created but could NOT be moved to " + categoryLabel(target) + ": " + reason +
               transitionHint(client, created.key);
    }
    auto moved = stateOf(client, created.key);
    entry.statusAfter =
        moved && moved->status ? *moved->status : Activity::StatusRef{"", categoryLabel(target), target, ""};
    record(entry);
    return text + "\nStatus: " + categoryLabel(target);
}

std::string listTasks(const JiraClient& client, const Settings& settings, const Json& arguments)
{
    std::string filter = caseMapped(nonBlankArgument(arguments, "filter").value_or("in_progress"), false);
    if (filter != "backlog" && filter != "in_progress" && filter != "done" && filter != "all") {
        throw ToolError("`filter` must be one of backlog, in_progress, done, all.");
    }
    std::int64_t months = integerArgument(arguments, "monthsBack").value_or(settings.monthsBack);
    std::int64_t limit = std::max<std::int64_t>(integerArgument(arguments, "limit").value_or(100), 1);
    int cap = static_cast<int>(std::min<std::int64_t>(limit, std::numeric_limits<int>::max()));
    auto wanted = [&](const char* section) { return filter == "all" || filter == section; };
    // Writes by other servers (and undos in the app) are reconciled too.
    Activity::feed(*recentWrites(), Activity::Journal().read());

    std::vector<std::string> sections;
    if (wanted("backlog")) {
        sections.push_back(render(client.search(JQL::backlog, cap), "Backlog", limit));
    }
    if (wanted("in_progress")) {
        sections.push_back(render(client.search(JQL::inProgress, cap), "In Progress", limit));
    }
    if (wanted("done")) {
        int monthsArgument = static_cast<int>(
            std::clamp<std::int64_t>(months, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
        std::string title = "Done (last " + std::to_string(months) + (months == 1 ? " month" : " months") + ")";
        sections.push_back(render(client.search(JQL::assignedDone(monthsArgument), cap), title, limit));
    }
    return joined(sections, "\n\n");
}

Entry moveEntry(const std::string& key, const std::optional<Activity::IssueState>& before,
                const std::optional<Activity::IssueState>& after, const std::string& target)
{
    const auto& known = after ? after : before;
    Entry entry = Entry::make(Entry::Tool::setStatus, key, known ? known->id : "");
    entry.summary = known ? known->summary : "";
    entry.statusBefore = before ? before->status : std::nullopt;
    entry.statusAfter =
        after && after->status ? *after->status : Activity::StatusRef{"", categoryLabel(target), target, ""};
    return entry;
}

std::string setStatus(const JiraClient& client, const Settings& settings, const Json& arguments)
{
    std::string key = issueKey(arguments);
    auto status = nonBlankArgument(arguments, "status");
    if (!status) {
        throw ToolError("`status` is required.");
    }
    std::string target = category(status, std::nullopt);
    auto before = stateOf(client, key);
    try {
        client.move(key, target);
    } catch (...) {
        // A route through stepping stones can fail half-way: where the issue did move is still journalled.
        auto landed = stateOf(client, key);
        if (before && before->status && landed && landed->status && landed->status->id != before->status->id) {
            record(moveEntry(key, before, landed, target));
        }
        throw ToolError(describe(std::current_exception()) + transitionHint(client, key));
    }
    record(moveEntry(key, before, stateOf(client, key), target));
    return key + " moved to " + categoryLabel(target) + ".\n" + browseLink(settings, key);
}

std::string getTask(const JiraClient& client, const Settings& settings, const Json& arguments)
{
    std::string key = issueKey(arguments);
    Issue issue = client.issue(key);
    const IssueFields& fields = issue.fields;

    std::vector<std::string> facts{"Status: " + orUnknown(fields.status)};
    if (fields.issuetype && fields.issuetype->name) {
        facts.push_back("Type: " + *fields.issuetype->name);
    }
    if (fields.project && fields.project->key) {
        facts.push_back("Project: " + *fields.project->key);
    }
    std::vector<std::string> dates;
    if (auto created = JiraDate::parse(fields.created)) {
        dates.push_back("Created: " + JiraDate::dayLabel(*created));
    }
    if (auto updated = JiraDate::parse(fields.updated)) {
        dates.push_back("Updated: " + JiraDate::relativeDays(*updated, std::chrono::system_clock::now()));
    }
    std::string assignee =
        fields.assignee && fields.assignee->displayName ? *fields.assignee->displayName : "unassigned";
    return key + " \u2014 " + issue.summaryText() + "\n" + joined(facts, " \u00b7 ") + "\nAssignee: " + assignee +
           "\n" + joined(dates, " \u00b7 ") + "\n" + browseLink(settings, key) + "\n\nDescription:\n" +
           issue.descriptionText().value_or("(none)");
}

std::string updateTask(const JiraClient& client, const Settings& settings, const Json& arguments)
{
    std::string key = issueKey(arguments);
    std::optional<std::string> description = textArgument(arguments, "description");
    std::optional<std::string> summary = textArgument(arguments, "summary");
    if (summary) {
        summary = trimmed(*summary);
        if (summary->empty()) {
            throw ToolError("`summary` cannot be empty.");
        }
    }
    if (!summary && !description) {
        throw ToolError("Nothing to change \u2014 pass `summary` and/or `description`.");
    }
    FetchedIssue current = client.fetchIssue(key);
    // Replacing a description drops the attachments embedded in it, and Jira then deletes those files.
    if (description) {
        if (std::size_t attachments = ADF::attachmentNodeCount(current.rawDescription); attachments > 0) {
            throw ToolError("The description of " + key + " embeds " + std::to_string(attachments) +
                            " attachment(s) that Jira would delete if it were replaced \u2014 edit it in Jira "
                            "instead.");
        }
    }
    client.updateIssue(key, summary, description);

    Entry entry = Entry::make(Entry::Tool::updateTask, key, current.issue.id);
    entry.summary = summary.value_or(current.issue.fields.summary.value_or(""));
    if (summary) {
        entry.summaryBefore = current.issue.fields.summary.value_or("");
        entry.summaryAfter = *summary;
    }
    if (description) {
        entry.setDescriptions(current.issue.descriptionText().value_or(""), Activity::storedDescription(*description));
    }
    record(entry);

    std::vector<std::string> lines{"Updated " + key + "."};
    if (summary) {
        lines.push_back("Summary: \"" + current.issue.summaryText() + "\" \u2192 \"" + *summary + "\"");
    }
    if (description) {
        lines.push_back(trimmed(*description).empty() ? "Description cleared." : "Description replaced.");
        lines.push_back("Previous description:\n" + current.issue.descriptionText().value_or("(none)"));
    }
    lines.push_back(browseLink(settings, key));
    return joined(lines, "\n");
}

} // namespace

std::string perform(const std::string& tool, const Json& arguments)
{
    Settings settings = Settings::load([](std::string_view line) { log(line); });
    if (!settings.config.isComplete()) {
        throw JiraError::notConfigured();
    }
    JiraClient client{settings.config};
    client.recentWrites = recentWrites();
    if (tool == "create_task") {
        return createTask(client, settings, arguments);
    }
    if (tool == "list_tasks") {
        return listTasks(client, settings, arguments);
    }
    if (tool == "set_status") {
        return setStatus(client, settings, arguments);
    }
    if (tool == "get_task") {
        return getTask(client, settings, arguments);
    }
    if (tool == "update_task") {
        return updateTask(client, settings, arguments);
    }
    throw ToolError("Unknown tool: " + tool);
}

void callTool(const Id& id, const Json& params)
{
    std::string name;
    if (auto found = params.find("name"); found != params.end() && found->is_string()) {
        name = found->get<std::string>();
    }
    Json arguments = Json::object();
    if (auto found = params.find("arguments"); found != params.end() && found->is_object()) {
        arguments = *found;
    }
    Json content;
    bool failed = false;
    try {
        content = MCPServer::runBlocking([&] { return perform(name, arguments); });
    } catch (...) {
        content = describe(std::current_exception());
        failed = true;
    }
    Json result{{"content", Json::array({{{"type", "text"}, {"text", std::move(content)}}})}};
    if (failed) {
        result["isError"] = true;
    }
    respond(id, result);
}

} // namespace taskbell::MCPServer
