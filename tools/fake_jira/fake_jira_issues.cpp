// The fake's fixtures and its issue, create/edit and transition endpoints.

#include <algorithm>
#include <cctype>
#include <functional>

#include "adf_builder.h"
#include "fake_jira_detail.h"

namespace taskbell::test {

using namespace fake;

namespace {

struct CategoryInfo
{
    int id;
    const char* name;
    const char* color;
};

CategoryInfo categoryInfo(const std::string& key)
{
    if (key == "new") {
        return {2, "To Do", "blue-gray"};
    }
    if (key == "indeterminate") {
        return {4, "In Progress", "yellow"};
    }
    if (key == "done") {
        return {3, "Done", "green"};
    }
    return {1, "No Category", "medium-gray"};
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

const char* kCannotSet = "Field '%s' cannot be set. It is not on the appropriate screen, or unknown.";

std::string cannotSet(const std::string& field)
{
    std::string text = kCannotSet;
    return text.replace(text.find("%s"), 2, field);
}

// Summary rules shared by create and edit; empty text when the summary is fine.
std::string summaryProblem(const Json& summary)
{
    if (!summary.is_string() || summary.get<std::string>().find_first_not_of(" \t") == std::string::npos) {
        return "You must specify a summary of the issue.";
    }
    const std::string text = summary;
    if (text.find_first_of("\r\n") != std::string::npos) {
        return "The summary is invalid because it contains newline characters.";
    }
    if (codePointCount(text) > 255) {
        return "Summary can't exceed 255 characters.";
    }
    return {};
}

} // namespace

void FakeJira::loadFixtures()
{
    users_ = {{"712020:ana-0001", "Ana Pereira", "ana@example.com", "fake-token-ana-7d1c9e"},
              {"712020:ben-0002", "Ben Okafor", "ben@example.com", "fake-token-ben-44a0b2"}};
    for (FakeStatus status : std::initializer_list<FakeStatus>{{"10000", "Backlog", "new"},
                                                               {"10001", "To Do", "new"},
                                                               {"3", "In Progress", "indeterminate"},
                                                               {"10002", "Done", "done"},
                                                               {"10003", "In Review", "indeterminate"},
                                                               {"10004", "Testing", "indeterminate"},
                                                               {"10005", "Deploying", "indeterminate"},
                                                               {"10006", "Verified", "indeterminate"},
                                                               {"10007", "Frozen", "new"}}) {
        statuses_[status.id] = status;
    }
    // The default simplified workflow: every transition is global.
    workflows_["simple"] = {"simple",
                            "10000",
                            {{"11", "To Do", "10001", {}},
                             {"21", "In Progress", "3", {}},
                             {"31", "Done", "10002", {}},
                             {"41", "Back to backlog", "10000", {}}}};
    // Done only through In Progress.
    workflows_["gated"] = {"gated",
                           "10000",
                           {{"51", "Start work", "3", {"10000", "10001"}},
                            {"61", "Finish", "10002", {"3"}},
                            {"71", "Reopen", "10000", {"10002"}}}};
    // Circles through In Progress statuses forever, never reaching Done.
    workflows_["loop"] = {"loop",
                          "10003",
                          {{"81", "Test", "10004", {"10003"}},
                           {"82", "Deploy", "10005", {"10004"}},
                           {"83", "Review again", "10003", {"10005"}}}};
    // A transition named DONE that leads to an In Progress status, offered after a plain stepping stone.
    workflows_["named-done"] = {"named-done", "10001", {{"91", "Start", "3", {}}, {"92", "DONE", "10006", {}}}};
    workflows_["frozen"] = {"frozen", "10007", {}};
    for (FakeProject project : std::initializer_list<FakeProject>{{"TB", "Taskbell", "simple"},
                                                                  {"GATE", "Gated", "gated"},
                                                                  {"LOOP", "Loop", "loop"},
                                                                  {"NAMED", "Named Done", "named-done"},
                                                                  {"FROZEN", "Frozen", "frozen"}}) {
        projects_[project.key] = project;
    }
}

void FakeJira::loadSampleIssues()
{
    std::string ana = users_[0].accountId;
    auto day = [](int daysAgo) { return nowMillis() - std::int64_t{daysAgo} * 86'400'000; };
    auto add = [&](const char* project, const char* summary, const char* statusId, int daysAgo,
                   const std::function<void(FakeIssue&)>& adjust = {}) {
        FakeIssue issue;
        issue.projectKey = project;
        issue.summary = summary;
        issue.statusId = statusId;
        issue.assigneeAccountId = ana;
        issue.created = formatTimestamp(day(daysAgo + 3), options_.utcOffset);
        issue.updated = formatTimestamp(day(daysAgo), options_.utcOffset);
        if (adjust) {
            adjust(issue);
        }
        addIssue(std::move(issue));
    };
    add("TB", "Rotate the signing keys", "10000", 1, [](FakeIssue& issue) {
        issue.description = adf::paragraphs({"Old keys expire at the end of the month.", "See the runbook."});
        issue.duedate = "2026-07-15";
    });
    add("TB", "Write release notes", "10000", 4);
    add("TB", "Fix the tray badge on Wayland", "3", 0, [](FakeIssue& issue) {
        issue.issueType = "Bug";
        issue.priority = "High";
        issue.description = adf::paragraphs({"The count is cut off above 99."});
    });
    add("TB", "Ship 1.10", "10002", 2, [&](FakeIssue& issue) { issue.resolutiondate = issue.updated; });
    add("TB", "Triaged but not started", "10001", 3);
    add("TB", "Somebody else's task", "3", 1, [&](FakeIssue& issue) { issue.assigneeAccountId = users_[1].accountId; });
    add("GATE", "Gated task", "", 5);
    add("LOOP", "Endless review", "", 6);
    add("NAMED", "Named done", "", 7);
    add("FROZEN", "Nothing to do here", "", 8);
}

FakeIssue* FakeJira::findIssue(const std::string& key)
{
    for (auto& issue : issues_) {
        if (lowercase(issue.key) == lowercase(key) || issue.id == key) {
            return &issue;
        }
    }
    return nullptr;
}

const FakeIssue* FakeJira::findIssue(const std::string& key) const
{
    return const_cast<FakeJira*>(this)->findIssue(key);
}

const FakeWorkflow* FakeJira::workflowOf(const FakeIssue& issue) const
{
    auto found = workflows_.find(issue.workflow);
    return found == workflows_.end() ? nullptr : &found->second;
}

const FakeUser* FakeJira::userById(const std::string& accountId) const
{
    for (const auto& user : users_) {
        if (user.accountId == accountId) {
            return &user;
        }
    }
    return nullptr;
}

Json FakeJira::renderStatus(const FakeStatus& status) const
{
    CategoryInfo category = categoryInfo(status.categoryKey);
    return {{"self", baseUrl() + "/rest/api/3/status/" + status.id},
            {"description", ""},
            {"iconUrl", baseUrl() + "/images/icons/statuses/generic.png"},
            {"name", status.name},
            {"id", status.id},
            {"statusCategory",
             {{"self", baseUrl() + "/rest/api/3/statuscategory/" + std::to_string(category.id)},
              {"id", category.id},
              {"key", status.categoryKey},
              {"colorName", category.color},
              {"name", category.name}}}};
}

Json FakeJira::renderUser(const FakeUser& user) const
{
    return {{"self", baseUrl() + "/rest/api/3/user?accountId=" + user.accountId},
            {"accountId", user.accountId},
            {"accountType", "atlassian"},
            {"displayName", user.displayName},
            {"active", true},
            {"timeZone", "Europe/Lisbon"},
            {"avatarUrls", {{"48x48", baseUrl() + "/avatar/48"}, {"24x24", baseUrl() + "/avatar/24"}}}};
}

Json FakeJira::renderIssue(const FakeIssue& issue, const std::optional<std::set<std::string>>& fields) const
{
    const FakeProject& project = projects_.at(issue.projectKey);
    Json all = {
        {"summary", issue.summary},
        {"status", renderStatus(statuses_.at(issue.statusId))},
        {"priority",
         {{"self", baseUrl() + "/rest/api/3/priority/3"},
          {"iconUrl", baseUrl() + "/p.svg"},
          {"name", issue.priority},
          {"id", "3"}}},
        {"issuetype",
         {{"self", baseUrl() + "/rest/api/3/issuetype/10001"},
          {"id", "10001"},
          {"description", ""},
          {"iconUrl", baseUrl() + "/images/" + lowercase(issue.issueType) + ".svg"},
          {"name", issue.issueType},
          {"subtask", false},
          {"avatarId", 10318},
          {"hierarchyLevel", 0}}},
        {"project",
         {{"self", baseUrl() + "/rest/api/3/project/" + project.key},
          {"id", "1" + project.key},
          {"key", project.key},
          {"name", project.name},
          {"projectTypeKey", "software"},
          {"simplified", project.workflow == "simple"}}},
        {"assignee", nullptr},
        {"created", issue.created},
        {"updated", issue.updated},
        {"resolutiondate", issue.resolutiondate ? Json(*issue.resolutiondate) : Json()},
        {"duedate", issue.duedate ? Json(*issue.duedate) : Json()},
        {"description", issue.description},
    };
    if (issue.assigneeAccountId) {
        if (const FakeUser* user = userById(*issue.assigneeAccountId)) {
            all["assignee"] = renderUser(*user);
        }
    }
    Json selected = Json::object();
    for (const auto& [name, value] : all.items()) {
        if (!fields || fields->contains(name)) {
            selected[name] = value;
        }
    }
    return {{"expand", "renderedFields,names,schema,operations,editmeta,changelog,versionedRepresentations"},
            {"id", issue.id},
            {"self", baseUrl() + "/rest/api/3/issue/" + issue.id},
            {"key", issue.key},
            {"fields", selected}};
}

// nullopt: every field. Accepts "*all" and "*navigable"; "-name" drops a field.
std::optional<std::set<std::string>> FakeJira::requestedFields(const Json& list) const
{
    std::set<std::string> fields;
    bool everything = false;
    std::set<std::string> dropped;
    for (const auto& entry : list) {
        std::string name = entry.is_string() ? entry.get<std::string>() : std::string();
        if (name == "*all" || name == "*navigable") {
            everything = true;
        } else if (name.starts_with("-")) {
            dropped.insert(name.substr(1));
        } else if (!name.empty()) {
            fields.insert(name);
        }
    }
    if (everything) {
        if (dropped.empty()) {
            return std::nullopt;
        }
        fields = {"summary", "status",  "priority",       "issuetype", "project",    "assignee",
                  "created", "updated", "resolutiondate", "duedate",   "description"};
    }
    for (const auto& name : dropped) {
        fields.erase(name);
    }
    return fields;
}

FakeReply FakeJira::getIssue(const LoggedRequest& request, const std::string& key, const Caller& caller) const
{
    const FakeIssue* issue = caller.user ? findIssue(key) : nullptr;
    if (issue == nullptr) {
        return issueNotFound();
    }
    Json list = Json::array();
    auto query = request.target.find('?');
    if (query != std::string::npos) {
        std::string rest = request.target.substr(query + 1);
        for (std::size_t start = 0; start <= rest.size();) {
            std::size_t end = std::min(rest.find('&', start), rest.size());
            std::string pair = rest.substr(start, end - start);
            if (pair.starts_with("fields=")) {
                std::string value = pair.substr(7);
                for (std::size_t from = 0; from <= value.size();) {
                    std::size_t comma = std::min(value.find(',', from), value.size());
                    list.push_back(value.substr(from, comma - from));
                    from = comma + 1;
                }
            }
            start = end + 1;
        }
    }
    return jsonReply(200, renderIssue(*issue, list.empty() ? std::nullopt : requestedFields(list)));
}

FakeReply FakeJira::createIssue(const LoggedRequest& request, const Caller& caller)
{
    if (caller.user == nullptr) {
        return {401, "Client must be authenticated to access this resource.", "text/plain;charset=UTF-8", {}};
    }
    Json body = request.json();
    if (!body.is_object() || !body.contains("fields") || !body["fields"].is_object()) {
        return errorReply(400, {"Issue create failed: no fields were given."});
    }
    const Json& fields = body["fields"];
    Json errors = Json::object();
    std::vector<std::string> messages;
    const FakeProject* project = nullptr;
    if (fields.contains("project") && fields["project"].is_object() && fields["project"].contains("key") &&
        projects_.contains(fields["project"].value("key", ""))) {
        project = &projects_.at(fields["project"]["key"]);
    } else {
        errors["project"] = "Specify a valid project ID or key";
    }
    std::string typeName = fields.contains("issuetype") && fields["issuetype"].is_object()
                               ? fields["issuetype"].value("name", "")
                               : std::string();
    if (project != nullptr &&
        std::find(project->issueTypes.begin(), project->issueTypes.end(), typeName) == project->issueTypes.end()) {
        errors["issuetype"] = "The issue type selected is invalid.";
    }
    std::string problem = summaryProblem(fields.value("summary", Json()));
    if (!problem.empty()) {
        errors["summary"] = problem;
    }
    std::optional<std::string> assignee;
    if (fields.contains("assignee") && !fields["assignee"].is_null()) {
        const Json& value = fields["assignee"];
        if (value.is_object() && value.contains("accountId") && value["accountId"].is_string() &&
            userById(value["accountId"]) != nullptr) {
            assignee = value["accountId"].get<std::string>();
        } else {
            errors["assignee"] = "Specify a valid value for assignee";
        }
    }
    Json description = fields.value("description", Json());
    if (!description.is_null() && !description.is_object()) {
        errors["description"] = "Operation value must be an Atlassian Document (see the Atlassian Document Format)";
    } else if (description.is_object() && !isValidAdfDocument(description)) {
        messages.push_back("INVALID_INPUT");
    }
    for (const auto& [name, value] : fields.items()) {
        if (name != "project" && name != "issuetype" && name != "summary" && name != "assignee" &&
            name != "description" && name != "duedate" && name != "priority") {
            errors[name] = cannotSet(name);
        }
    }
    if (!errors.empty() || !messages.empty()) {
        return errorReply(400, messages, errors);
    }
    FakeIssue issue;
    issue.projectKey = project->key;
    issue.summary = fields["summary"];
    issue.issueType = typeName;
    issue.assigneeAccountId = assignee;
    issue.description = description;
    issue.workflow = project->workflow;
    issue.statusId = workflows_.at(project->workflow).initialStatusId;
    issue.id = std::to_string(nextIssueId_++);
    issue.key = project->key + "-" + std::to_string(++nextIssueNumber_[project->key]);
    issue.created = issue.updated = formatTimestamp(nowMillis(), options_.utcOffset);
    issues_.push_back(issue);
    wrote(issue);
    return jsonReply(201,
                     Json{{"id", issue.id}, {"key", issue.key}, {"self", baseUrl() + "/rest/api/3/issue/" + issue.id}});
}

FakeReply FakeJira::editIssue(const LoggedRequest& request, const std::string& key, const Caller& caller)
{
    FakeIssue* issue = caller.user ? findIssue(key) : nullptr;
    if (issue == nullptr) {
        return issueNotFound();
    }
    Json body = request.json();
    if (!body.is_object() || (!body.contains("fields") && !body.contains("update"))) {
        return errorReply(400, {"Can not deserialize the request body."});
    }
    Json fields = body.value("fields", Json::object());
    if (!fields.is_object()) {
        return errorReply(400, {"Can not deserialize the request body."});
    }
    Json errors = Json::object();
    std::vector<std::string> messages;
    for (const auto& [name, value] : fields.items()) {
        if (name == "summary") {
            if (std::string problem = summaryProblem(value); !problem.empty()) {
                errors["summary"] = problem;
            }
        } else if (name == "description") {
            if (!value.is_null() && !value.is_object()) {
                errors["description"] =
                    "Operation value must be an Atlassian Document (see the Atlassian Document Format)";
            } else if (value.is_object() && !isValidAdfDocument(value)) {
                messages.push_back("INVALID_INPUT");
            }
        } else if (name == "duedate") {
            if (!value.is_null() && !value.is_string()) {
                errors["duedate"] = "Error parsing date string: " + value.dump();
            }
        } else {
            errors[name] = cannotSet(name);
        }
    }
    if (!errors.empty() || !messages.empty()) {
        return errorReply(400, messages, errors);
    }
    if (fields.contains("summary")) {
        issue->summary = fields["summary"];
    }
    if (fields.contains("description")) {
        issue->description = fields["description"];
    }
    if (fields.contains("duedate")) {
        issue->duedate = fields["duedate"].is_null() ? std::nullopt : std::optional<std::string>(fields["duedate"]);
    }
    issue->updated = formatTimestamp(nowMillis(), options_.utcOffset);
    wrote(*issue);
    return {204, "", "application/json;charset=UTF-8", {}};
}

std::vector<const FakeTransition*> FakeJira::offeredTransitions(const FakeIssue& issue) const
{
    std::vector<const FakeTransition*> offered;
    const FakeWorkflow* workflow = workflowOf(issue);
    if (workflow == nullptr) {
        return offered;
    }
    for (const auto& transition : workflow->transitions) {
        const auto& from = transition.fromStatusIds;
        if (from.empty() || std::find(from.begin(), from.end(), issue.statusId) != from.end()) {
            offered.push_back(&transition);
        }
    }
    return offered;
}

FakeReply FakeJira::listTransitions(const std::string& key, const Caller& caller) const
{
    const FakeIssue* issue = caller.user ? findIssue(key) : nullptr;
    if (issue == nullptr) {
        return issueNotFound();
    }
    Json list = Json::array();
    for (const FakeTransition* transition : offeredTransitions(*issue)) {
        bool global = transition->fromStatusIds.empty();
        list.push_back({{"id", transition->id},
                        {"name", transition->name},
                        {"to", renderStatus(statuses_.at(transition->toStatusId))},
                        {"hasScreen", false},
                        {"isGlobal", global},
                        {"isInitial", false},
                        {"isAvailable", true},
                        {"isConditional", false},
                        {"isLooped", global && transition->toStatusId == issue->statusId}});
    }
    return jsonReply(200, Json{{"expand", "transitions"}, {"transitions", list}});
}

FakeReply FakeJira::doTransition(const LoggedRequest& request, const std::string& key, const Caller& caller)
{
    FakeIssue* issue = caller.user ? findIssue(key) : nullptr;
    if (issue == nullptr) {
        return issueNotFound();
    }
    Json body = request.json();
    if (!body.is_object() || !body.contains("transition") || !body["transition"].is_object()) {
        return errorReply(400, {"Missing 'transition' identifier"});
    }
    const Json& idValue = body["transition"].value("id", Json());
    std::string id = idValue.is_string()           ? idValue.get<std::string>()
                     : idValue.is_number_integer() ? std::to_string(idValue.get<long long>())
                                                   : std::string();
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        return errorReply(400, {"'transition' identifier must be an integer"});
    }
    for (const FakeTransition* transition : offeredTransitions(*issue)) {
        if (transition->id == id) {
            issue->statusId = transition->toStatusId;
            std::string stamp = formatTimestamp(nowMillis(), options_.utcOffset);
            issue->updated = stamp;
            bool done = statuses_.at(issue->statusId).categoryKey == "done";
            issue->resolutiondate = done ? std::optional<std::string>(stamp) : std::nullopt;
            wrote(*issue);
            return {204, "", "application/json;charset=UTF-8", {}};
        }
    }
    return errorReply(400, {"Transition id '" + id + "' is not valid for this issue."});
}

} // namespace taskbell::test
