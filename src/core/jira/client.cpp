#include "core/jira/client.h"

#include <algorithm>
#include <set>

#include "core/base/encoding.h"
#include "core/base/http.h"
#include "core/base/text_util.h"
#include "core/jira/adf.h"
#include "core/jira/body.h"

namespace taskbell {
namespace {

// How much of an error body is kept: the message quotes 300 characters of it.
constexpr std::size_t kMaxErrorBodyBytes = std::size_t{64} * 1024;

// An issue key or id as one path segment: everything but letters, digits, '-', '_' and '~' is
// percent-encoded, so a key sent by the server ("../../x?y=#") can never leave the issue's path.
std::string pathSegment(std::string_view value)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : value) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '~';
        if (plain) {
            encoded += c;
        } else {
            auto byte = static_cast<unsigned char>(c);
            encoded += {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
        }
    }
    return encoded;
}

// Appends a page of a search to its result. The room grows by doubling, but never past the search's cap
// when the pages fit in it: a list of 300 issues keeps room for 300, not 400.
void appendPage(std::vector<Issue>& result, std::vector<Issue>& page, int cap)
{
    std::size_t needed = result.size() + page.size();
    if (needed > result.capacity()) {
        std::size_t limit = std::max(static_cast<std::size_t>(std::max(cap, 0)), needed);
        result.reserve(std::min(std::max(result.size() * 2, needed), limit));
    }
    result.insert(result.end(), std::make_move_iterator(page.begin()), std::make_move_iterator(page.end()));
}

// Jira Cloud handles rejected credentials on most endpoints as the anonymous user (an empty search, a
// 404 issue) and says so only in this header; without it a wrong token would look like "no issues".
bool credentialsRejected(const http::Response& response)
{
    auto reason = response.header("X-Seraph-LoginReason");
    return reason && (reason->find("AUTHENTICATED_FAILED") != std::string::npos ||
                      reason->find("AUTHENTICATION_DENIED") != std::string::npos);
}

Json parseBody(const std::string& body)
{
    return parseJiraBody(body);
}

template <typename Decoder> auto decodeBody(const std::string& body, Decoder decode)
{
    Json json = parseJiraBody(body);
    try {
        return decode(json);
    } catch (const DecodeError& error) {
        throw JiraError::decoding(error.what());
    } catch (const Json::exception& error) {
        throw JiraError::decoding(error.what());
    }
}

Json fieldsArray()
{
    Json fields = Json::array();
    for (auto field : JiraClient::searchFields) {
        fields.push_back(std::string(field));
    }
    return fields;
}

std::string joinedFields()
{
    std::string joined;
    for (auto field : JiraClient::searchFields) {
        joined += (joined.empty() ? "" : ",") + std::string(field);
    }
    return joined;
}

const std::string* targetCategoryKey(const Transition& transition)
{
    if (!transition.to || !transition.to->statusCategory || !transition.to->statusCategory->key) {
        return nullptr;
    }
    return &*transition.to->statusCategory->key;
}

const Transition* firstLeadingTo(const std::vector<Transition>& transitions, std::string_view category)
{
    for (const auto& transition : transitions) {
        const std::string* key = targetCategoryKey(transition);
        if (key != nullptr && *key == category) {
            return &transition;
        }
    }
    return nullptr;
}

const Transition* firstNamedDone(const std::vector<Transition>& transitions)
{
    for (const auto& transition : transitions) {
        if (transition.name && equalsIgnoringAsciiCase(*transition.name, "Done")) {
            return &transition;
        }
    }
    return nullptr;
}

} // namespace

std::string categoryLabel(std::string_view categoryKey)
{
    if (categoryKey == "done") {
        return "Done";
    }
    if (categoryKey == "indeterminate") {
        return "In Progress";
    }
    if (categoryKey == "new") {
        return "To Do";
    }
    return std::string(categoryKey);
}

std::string JiraClient::request(const std::string& method, const std::string& path,
                                const std::optional<std::string>& body, const std::atomic<bool>* cancel) const
{
    if (!config.isComplete()) {
        throw JiraError::notConfigured();
    }
    std::string url = config.normalizedBaseURL() + path;
    bool wellFormed = false;
    bool plainRemote = false;
    try {
        wellFormed = http::isWellFormedUrl(url);
        plainRemote = wellFormed && url.starts_with("http://") && !http::isLoopbackUrl(url);
    } catch (const http::TransferError& error) { // the network library is missing
        throw JiraError::network(error.what());
    }
    if (!wellFormed) {
        throw JiraError::badURL();
    }
    // The token must never cross the network unencrypted; plain http stays allowed to this computer only.
    if (plainRemote) {
        throw JiraError::network("The site address uses http://, which would send your API token unencrypted "
                                 "— use https:// instead.");
    }

    http::Request req;
    req.method = method;
    req.url = std::move(url);
    req.headers.emplace_back("Accept", "application/json");
    // Atlassian tokens never contain white space; a token pasted from a web page or stored with a line
    // feed would otherwise be rejected although it is right.
    std::string token(trimWhitespaceAndNewlines(config.apiToken));
    req.headers.emplace_back("Authorization", "Basic " + base64Encode(config.email + ":" + token));
    if (body) {
        req.headers.emplace_back("Content-Type", "application/json");
        req.body = *body;
    }
    req.idleTimeout = idleTimeout;
    req.maxBodyBytes = kMaxResponseBytes;
    req.cancel = cancel;

    http::Response response;
    try {
        response = http::perform(req);
    } catch (const http::TransferError& error) {
        throw JiraError::network(error.what());
    }
    if (response.status == 0) {
        throw JiraError::network("No HTTP response");
    }
    // Only the start of an error body is ever shown; its readable part survives bytes that are not UTF-8.
    std::string text = sanitizeText(std::string_view(response.body).substr(0, kMaxErrorBodyBytes));
    if (credentialsRejected(response)) {
        throw JiraError::http(401, std::move(text));
    }
    if (response.status < 200 || response.status > 299) {
        throw JiraError::http(static_cast<int>(response.status), std::move(text));
    }
    return std::move(response.body);
}

std::string JiraClient::issuePath(std::string_view issueKeyOrId)
{
    return "/rest/api/3/issue/" + pathSegment(issueKeyOrId);
}

void JiraClient::noteIssues(std::span<const Issue> issues) const
{
    if (recentWrites) {
        for (const auto& issue : issues) {
            recentWrites->noteIssue(issue.key, issue.id);
        }
    }
}

void JiraClient::noteWrite(const std::string& issueKeyOrId) const
{
    if (recentWrites) {
        recentWrites->wrote(issueKeyOrId);
    }
}

JiraUser JiraClient::myself(const std::atomic<bool>* cancel) const
{
    return decodeBody(request("GET", "/rest/api/3/myself", std::nullopt, cancel), decodeJiraUser);
}

std::vector<Issue> JiraClient::search(const std::string& jql, int cap, const std::atomic<bool>* cancel) const
{
    try {
        return searchEnhanced(jql, cap, cancel);
    } catch (const JiraError& error) {
        if (error.kind() != JiraError::Kind::http || (error.status() != 404 && error.status() != 410)) {
            throw;
        }
    }
    return searchClassic(jql, cap, cancel);
}

std::vector<Issue> JiraClient::searchEnhanced(const std::string& jql, int cap, const std::atomic<bool>* cancel) const
{
    std::vector<Issue> result;
    SearchPages pages; // one budget for all pages: a server paging one huge issue at a time gains nothing
    std::optional<std::string> token;
    // A token already sent would start the same pages over: a server answering that way would page forever.
    std::set<std::string> sentTokens;
    // The same ids go with every page, so that the pages of one search agree.
    std::vector<std::int64_t> reconcile = recentWrites ? recentWrites->reconcileIds() : std::vector<std::int64_t>();
    for (;;) {
        Json body = {{"jql", jql}, {"maxResults", kPageSize}, {"fields", fieldsArray()}};
        if (!reconcile.empty()) {
            body["reconcileIssues"] = reconcile;
        }
        if (token) {
            body["nextPageToken"] = *token;
            sentTokens.insert(*token);
        }
        auto page = pages.enhanced(request("POST", "/rest/api/3/search/jql", dumpJson(body), cancel));
        bool empty = page.issues.empty();
        noteIssues(page.issues);
        appendPage(result, page.issues, cap);
        if (static_cast<long long>(result.size()) >= cap || empty || !page.nextPageToken ||
            sentTokens.contains(*page.nextPageToken)) {
            return result;
        }
        token = std::move(page.nextPageToken);
    }
}

std::vector<Issue> JiraClient::searchClassic(const std::string& jql, int cap, const std::atomic<bool>* cancel) const
{
    std::vector<Issue> result;
    SearchPages pages;
    std::int64_t start = 0;
    for (;;) {
        Json body = {{"jql", jql}, {"startAt", start}, {"maxResults", kPageSize}, {"fields", fieldsArray()}};
        auto page = pages.classic(request("POST", "/rest/api/3/search", dumpJson(body), cancel));
        auto count = static_cast<std::int64_t>(page.issues.size());
        noteIssues(page.issues);
        appendPage(result, page.issues, cap);
        std::int64_t total = page.total.value_or(static_cast<std::int64_t>(result.size()));
        start += count;
        if (count == 0 || start >= total || static_cast<long long>(result.size()) >= cap) {
            return result;
        }
    }
}

FetchedIssue JiraClient::fetchIssue(const std::string& key, const std::atomic<bool>* cancel) const
{
    Json json = parseBody(request("GET", issuePath(key) + "?fields=" + joinedFields(), std::nullopt, cancel));
    FetchedIssue fetched;
    try {
        fetched.issue = decodeIssue(json);
    } catch (const DecodeError& error) {
        throw JiraError::decoding(error.what());
    }
    noteIssues({&fetched.issue, 1});
    const Json& fields = json.at("fields");
    if (auto it = fields.find("description"); it != fields.end()) {
        fetched.rawDescription = *it;
    }
    return fetched;
}

Issue JiraClient::issue(const std::string& key, const std::atomic<bool>* cancel) const
{
    return fetchIssue(key, cancel).issue;
}

std::vector<Transition> JiraClient::transitions(const std::string& issueKey, const std::atomic<bool>* cancel) const
{
    return decodeBody(request("GET", issuePath(issueKey) + "/transitions", std::nullopt, cancel),
                      decodeTransitionsResponse)
        .transitions;
}

void JiraClient::applyTransition(const std::string& issueKey, const std::string& transitionId,
                                 const std::atomic<bool>* cancel) const
{
    Json body = {{"transition", {{"id", transitionId}}}};
    request("POST", issuePath(issueKey) + "/transitions", dumpJson(body), cancel);
    noteWrite(issueKey);
}

CreatedIssue JiraClient::createIssue(const std::string& projectKey, const std::string& summary,
                                     const std::string& issueTypeName,
                                     const std::optional<std::string>& assigneeAccountId,
                                     const std::optional<std::string>& description,
                                     const std::atomic<bool>* cancel) const
{
    Json fields = {{"project", {{"key", projectKey}}}, {"summary", summary}, {"issuetype", {{"name", issueTypeName}}}};
    if (assigneeAccountId && !assigneeAccountId->empty()) {
        fields["assignee"] = {{"accountId", *assigneeAccountId}};
    }
    if (description) {
        if (auto document = ADF::documentFromPlainText(*description)) {
            fields["description"] = std::move(*document);
        }
    }
    Json body = {{"fields", std::move(fields)}};
    CreatedIssue created = decodeBody(request("POST", "/rest/api/3/issue", dumpJson(body), cancel), decodeCreatedIssue);
    if (recentWrites) {
        recentWrites->noteIssue(created.key, created.id);
    }
    noteWrite(created.id);
    return created;
}

void JiraClient::updateIssue(const std::string& key, const std::optional<std::string>& summary,
                             const std::optional<std::string>& description, const std::atomic<bool>* cancel) const
{
    Json fields = Json::object();
    if (summary) {
        fields["summary"] = *summary;
    }
    if (description) {
        auto document = ADF::documentFromPlainText(*description);
        fields["description"] = document ? std::move(*document) : Json(nullptr);
    }
    if (fields.empty()) {
        return;
    }
    Json body = {{"fields", std::move(fields)}};
    request("PUT", issuePath(key), dumpJson(body), cancel);
    noteWrite(key);
}

void JiraClient::move(const std::string& issueKey, const std::string& toCategory, const std::atomic<bool>* cancel) const
{
    constexpr int maxSteppingStones = 3;
    int steppingStones = 0;
    for (;;) {
        std::vector<Transition> offered = transitions(issueKey, cancel);
        if (const Transition* direct = firstLeadingTo(offered, toCategory)) {
            applyTransition(issueKey, direct->id, cancel);
            return;
        }
        if (toCategory != "done") {
            break;
        }
        if (const Transition* named = firstNamedDone(offered)) {
            applyTransition(issueKey, named->id, cancel);
            return;
        }
        const Transition* stone = firstLeadingTo(offered, "indeterminate");
        if (stone == nullptr) {
            break;
        }
        applyTransition(issueKey, stone->id, cancel);
        if (++steppingStones == maxSteppingStones) {
            break;
        }
    }
    throw JiraError::noTransition(categoryLabel(toCategory));
}

} // namespace taskbell
