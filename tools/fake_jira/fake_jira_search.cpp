// The fake's two search endpoints and its tiny JQL evaluator.

#include <algorithm>
#include <ctime>
#include <regex>

#include <strings.h>

#include "fake_jira_detail.h"

namespace taskbell::test {

using namespace fake;

namespace {

const char* kInvalidPayload = "Invalid request payload. Refer to the REST API documentation and try again.";
const char* kClassicRemoved =
    "The requested API has been removed. Please migrate to the /rest/api/3/search/jql API. A full migration "
    "guideline is available at https://developer.atlassian.com/changelog/#CHANGE-2046";

bool sameText(const std::string& a, const std::string& b)
{
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// First moment of the month `monthsOffset` months from now, in the site's time zone.
std::int64_t startOfMonth(int monthsOffset, const std::string& utcOffset)
{
    std::int64_t offsetSeconds = std::int64_t{offsetMinutes(utcOffset)} * 60;
    std::time_t local = static_cast<std::time_t>(nowMillis() / 1000 + offsetSeconds);
    std::tm tm{};
    ::gmtime_r(&local, &tm);
    int months = tm.tm_year * 12 + tm.tm_mon + monthsOffset;
    std::tm start{};
    start.tm_year = months / 12;
    start.tm_mon = months % 12;
    start.tm_mday = 1;
    return (static_cast<std::int64_t>(::timegm(&start)) - offsetSeconds) * 1000;
}

// Opaque page tokens that remember the offset and the query they belong to.
std::string makeToken(std::size_t offset, const std::string& jql)
{
    return base64Encode("offset=" + std::to_string(offset) + ";q=" + std::to_string(std::hash<std::string>{}(jql)));
}

std::optional<std::size_t> readToken(const std::string& token, const std::string& jql)
{
    auto text = base64Decode(token);
    std::string suffix = ";q=" + std::to_string(std::hash<std::string>{}(jql));
    if (!text || !text->starts_with("offset=") || !text->ends_with(suffix)) {
        return std::nullopt;
    }
    return std::stoul(text->substr(7, text->size() - 7 - suffix.size()));
}

FakeReply modeReply(EndpointMode mode, const std::string& uri)
{
    switch (mode) {
    case EndpointMode::notFound:
        return errorReply(404, {"null for uri: " + uri});
    case EndpointMode::gone:
        return errorReply(410, {kClassicRemoved});
    case EndpointMode::badRequest:
        return errorReply(400, {kInvalidPayload});
    case EndpointMode::normal:
        break;
    }
    return {};
}

} // namespace

std::optional<std::vector<const FakeIssue*>> FakeJira::evaluateJql(const std::string& jql, const Caller& caller,
                                                                   std::string& error) const
{
    static const std::regex query(R"(assignee = currentUser\(\) AND (status|statusCategory) = ("[^"]+"|\w+))"
                                  R"(( AND updated >= startOfMonth\(("-?\d+")?\))? ORDER BY updated DESC)",
                                  std::regex::icase);
    std::smatch match;
    if (!std::regex_match(jql, match, query)) {
        error = "Error in the JQL Query: this fake answers only the Backlog, In Progress and Done section queries.";
        return std::nullopt;
    }
    bool byStatus = sameText(match[1], "status");
    std::string value = match[2];
    if (value.front() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    std::optional<std::int64_t> since;
    if (match[3].matched) {
        int months = match[4].matched ? std::stoi(match[4].str().substr(1, match[4].length() - 2)) : 0;
        since = startOfMonth(months, options_.utcOffset);
    }
    static const std::map<std::string, std::string> categoryKeys = {{"to do", "new"},
                                                                    {"in progress", "indeterminate"},
                                                                    {"done", "done"},
                                                                    {"new", "new"},
                                                                    {"indeterminate", "indeterminate"}};
    std::string lowered = value;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
    auto categoryKey = categoryKeys.find(lowered);
    if (!byStatus && categoryKey == categoryKeys.end()) {
        error = "The value '" + value + "' does not exist for the field 'statusCategory'.";
        return std::nullopt;
    }

    std::vector<const FakeIssue*> found;
    for (const auto& issue : issues_) {
        const FakeStatus& status = statuses_.at(issue.statusId);
        bool statusMatches = byStatus ? sameText(status.name, value) : status.categoryKey == categoryKey->second;
        bool mine = caller.user != nullptr && issue.assigneeAccountId == caller.user->accountId;
        bool recent = !since || parseTimestamp(issue.updated).value_or(0) >= *since;
        if (statusMatches && mine && recent) {
            found.push_back(&issue);
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const FakeIssue* a, const FakeIssue* b) {
        auto left = parseTimestamp(a->updated).value_or(0);
        auto right = parseTimestamp(b->updated).value_or(0);
        return left != right ? left > right : std::stoll(a->id) > std::stoll(b->id);
    });
    return found;
}

FakeReply FakeJira::enhancedSearch(const LoggedRequest& request, const Caller& caller) const
{
    if (enhancedMode_ != EndpointMode::normal) {
        return modeReply(enhancedMode_, baseUrl() + request.target);
    }
    static const std::set<std::string> allowed = {"jql",    "nextPageToken", "maxResults",   "fields",
                                                  "expand", "properties",    "fieldsByKeys", "reconcileIssues"};
    Json body = request.json();
    if (!body.is_object()) {
        return errorReply(400, {kInvalidPayload});
    }
    for (const auto& [name, value] : body.items()) {
        if (!allowed.contains(name)) {
            return errorReply(400, {kInvalidPayload});
        }
    }
    std::string jql = body.value("jql", Json("")).is_string() ? body.value("jql", std::string()) : std::string();
    if (jql.find_first_not_of(' ') == std::string::npos) {
        return errorReply(400, {"Unbounded JQL queries are not allowed here. Please add a search restriction to "
                                "your query."});
    }
    Json maxResults = body.value("maxResults", Json(50));
    if (!maxResults.is_number_integer() || maxResults.get<int>() < 0) {
        return errorReply(400, {kInvalidPayload});
    }
    std::size_t pageSize = static_cast<std::size_t>(std::min(maxResults.get<int>(), maxPageSize_));
    // Issue ids as integers, at most 50.
    std::set<std::string> reconciled;
    if (body.contains("reconcileIssues")) {
        const Json& ids = body["reconcileIssues"];
        if (!ids.is_array() || ids.size() > 50 ||
            !std::all_of(ids.begin(), ids.end(), [](const Json& id) { return id.is_number_integer(); })) {
            return errorReply(400, {kInvalidPayload});
        }
        for (const Json& id : ids) {
            reconciled.insert(std::to_string(id.get<long long>()));
        }
    }
    std::string error;
    auto matches = evaluateJql(jql, caller, error);
    if (!matches) {
        return errorReply(400, {error});
    }
    std::erase_if(*matches, [&](const FakeIssue* issue) { return lagging(*issue, reconciled); });
    std::size_t offset = 0;
    if (body.contains("nextPageToken") && pagingFault_ != PagingFault::repeatToken) {
        auto decoded = body["nextPageToken"].is_string() ? readToken(body["nextPageToken"], jql) : std::nullopt;
        if (!decoded) {
            return errorReply(400, {"The provided next page token is invalid or expired."});
        }
        offset = *decoded;
    }
    Json issues = Json::array();
    auto fields = requestedFields(body.value("fields", Json::array({"id"})));
    for (std::size_t i = offset; i < matches->size() && i < offset + pageSize; ++i) {
        issues.push_back(renderIssue(*(*matches)[i], fields));
    }
    std::size_t next = offset + issues.size();
    bool more = next < matches->size();
    Json page = {{"issues", issues}, {"isLast", !more}};
    if (pagingFault_ == PagingFault::repeatToken) {
        page["nextPageToken"] = makeToken(0, jql);
        page["isLast"] = false;
    } else if (more) {
        page["nextPageToken"] = makeToken(next, jql);
    } else if (pagingFault_ == PagingFault::emptyPagesWithToken) {
        page["nextPageToken"] = makeToken(issues.empty() ? next + std::max<std::size_t>(pageSize, 1) : next, jql);
    } else if (nullTokenOnLastPage_) {
        page["nextPageToken"] = nullptr;
    }
    return jsonReply(200, page);
}

FakeReply FakeJira::classicSearch(const LoggedRequest& request, const Caller& caller) const
{
    if (classicMode_ != EndpointMode::normal) {
        return modeReply(classicMode_, baseUrl() + request.target);
    }
    Json body = request.json();
    if (!body.is_object() || !body.value("jql", Json()).is_string()) {
        return errorReply(400, {"The JQL query is missing."});
    }
    std::string jql = body["jql"];
    Json startAt = body.value("startAt", Json(0));
    Json maxResults = body.value("maxResults", Json(50));
    if (!startAt.is_number_integer() || !maxResults.is_number_integer() || startAt.get<int>() < 0) {
        return errorReply(400, {kInvalidPayload});
    }
    std::string error;
    auto matches = evaluateJql(jql, caller, error);
    if (!matches) {
        return errorReply(400, {error});
    }
    auto start = static_cast<std::size_t>(startAt.get<int>());
    int applied = std::clamp(maxResults.get<int>(), 0, maxPageSize_);
    auto fields = requestedFields(body.value("fields", Json::array({"*navigable"})));
    Json issues = Json::array();
    for (std::size_t i = start; i < matches->size() && i < start + static_cast<std::size_t>(applied); ++i) {
        issues.push_back(renderIssue(*(*matches)[i], fields));
    }
    return jsonReply(200, Json{{"expand", "schema,names"},
                               {"startAt", start},
                               {"maxResults", applied},
                               {"total", matches->size()},
                               {"issues", issues}});
}

} // namespace taskbell::test
