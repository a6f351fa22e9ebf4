#include "core/jira/models.h"

#include <algorithm>
#include <deque>
#include <limits>

#include "core/base/text_util.h"
#include "core/jira/adf.h"
#include "core/jira/date.h"

namespace taskbell {
namespace {

// Descriptions nest far less than this; the bound keeps the recursive copy, compare and destroy of
// ADFNode within a small stack. Bodies parsed with the response depth cap never reach it.
constexpr std::size_t kMaxADFDepth = kResponseDepthLimit;

// Where in the document a value sits: a chain of member names and array indices, kept on the stack
// and turned into text ("issues[3].fields.summary") only when decoding fails.
struct Where
{
    static constexpr std::size_t kNoIndex = std::numeric_limits<std::size_t>::max();

    const Where* parent = nullptr;
    const char* member = nullptr;
    std::size_t index = kNoIndex;

    Where at(const char* name) const { return Where{this, name, kNoIndex}; }
    Where at(std::size_t i) const { return Where{this, nullptr, i}; }

    std::string text() const
    {
        std::vector<const Where*> chain;
        for (const Where* step = this; step; step = step->parent) {
            chain.push_back(step);
        }
        std::reverse(chain.begin(), chain.end());
        std::string path;
        for (const Where* step : chain) {
            if (step->member) {
                if (!path.empty()) {
                    path += '.';
                }
                path += step->member;
            }
            if (step->index != kNoIndex) {
                path += '[' + std::to_string(step->index) + ']';
            }
        }
        return path;
    }
};

[[noreturn]] void fail(const Where& where, const std::string& problem)
{
    std::string path = where.text();
    throw DecodeError(path.empty() ? problem : path + ": " + problem);
}

std::string kindOf(const Json& value)
{
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::boolean:
        return "boolean";
    case Json::value_t::string:
        return "string";
    case Json::value_t::array:
        return "array";
    case Json::value_t::object:
        return "object";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return "number";
    default:
        return "unsupported value";
    }
}

[[noreturn]] void failType(const Where& where, const char* expected, const Json& value)
{
    fail(where, std::string("expected ") + expected + ", got " + kindOf(value));
}

const Json& object(const Json& value, const Where& where)
{
    if (!value.is_object()) {
        failType(where, "an object", value);
    }
    return value;
}

// The member's value, or nothing when it is missing or null (both mean "absent").
const Json* member(const Json& object, const char* name)
{
    auto found = object.find(name);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

const Json& required(const Json& object, const char* name, const Where& where)
{
    auto found = object.find(name);
    if (found == object.end()) {
        fail(where.at(name), "required member is missing");
    }
    return *found;
}

// Every text of a record is shown to someone sooner or later: terminal escapes and bidi overrides from a
// hostile or broken server are defused here, once, where the text enters.
std::string text(const Json& value, const Where& where)
{
    if (!value.is_string()) {
        failType(where, "a string", value);
    }
    return sanitizeText(value.get_ref<const std::string&>());
}

std::int64_t integer(const Json& value, const Where& where)
{
    if (value.is_number_integer()) {
        // Non-negative numbers arrive as unsigned; past the signed range they are not our integers.
        auto number = jsonInt64(value);
        if (!number) {
            fail(where, "expected an integer, got a number out of range");
        }
        return *number;
    }
    if (value.is_number_float()) {
        fail(where, "expected an integer, got number " + dumpJson(value));
    }
    failType(where, "an integer", value);
}

bool boolean(const Json& value, const Where& where)
{
    if (!value.is_boolean()) {
        failType(where, "true or false", value);
    }
    return value.get<bool>();
}

std::string requiredText(const Json& object, const char* name, const Where& where)
{
    return text(required(object, name, where), where.at(name));
}

std::optional<std::string> optionalText(const Json& object, const char* name, const Where& where)
{
    const Json* value = member(object, name);
    return value ? std::optional(text(*value, where.at(name))) : std::nullopt;
}

std::optional<std::int64_t> optionalInteger(const Json& object, const char* name, const Where& where)
{
    const Json* value = member(object, name);
    return value ? std::optional(integer(*value, where.at(name))) : std::nullopt;
}

std::optional<bool> optionalBoolean(const Json& object, const char* name, const Where& where)
{
    const Json* value = member(object, name);
    return value ? std::optional(boolean(*value, where.at(name))) : std::nullopt;
}

template <typename Decode>
auto optionalRecord(const Json& object, const char* name, const Where& where, Decode decode)
    -> std::optional<decltype(decode(object, where))>
{
    const Json* value = member(object, name);
    if (!value) {
        return std::nullopt;
    }
    return decode(*value, where.at(name));
}

template <typename Decode>
auto requiredList(const Json& object, const char* name, const Where& where, Decode decode)
    -> std::vector<decltype(decode(object, where))>
{
    const Json& list = required(object, name, where);
    Where listWhere = where.at(name);
    if (!list.is_array()) {
        failType(listWhere, "an array", list);
    }
    std::vector<decltype(decode(object, where))> decoded;
    decoded.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        decoded.push_back(decode(list[i], Where{listWhere.parent, listWhere.member, i}));
    }
    return decoded;
}

StatusCategory statusCategory(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    return {optionalText(json, "key", where), optionalText(json, "name", where)};
}

IssueStatus issueStatus(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    return {optionalText(json, "name", where), optionalRecord(json, "statusCategory", where, statusCategory)};
}

IssueType issueType(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    return {optionalText(json, "name", where), optionalText(json, "iconUrl", where)};
}

Priority priority(const Json& value, const Where& where)
{
    return {optionalText(object(value, where), "name", where)};
}

ProjectRef projectRef(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    return {optionalText(json, "key", where), optionalText(json, "name", where)};
}

JiraUser jiraUser(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    return {optionalText(json, "accountId", where), optionalText(json, "displayName", where),
            optionalText(json, "emailAddress", where)};
}

// Type and text of one node, and its children's array (nullptr when absent), checked but not descended.
const Json* adfNodeOwnFields(const Json& value, const Where& where, ADFNode& node)
{
    const Json& json = object(value, where);
    node.type = optionalText(json, "type", where);
    node.text = optionalText(json, "text", where);
    const Json* content = member(json, "content");
    if (content && !content->is_array()) {
        failType(where.at("content"), "an array", *content);
    }
    if (content) {
        node.content.emplace(content->size());
    }
    return content;
}

// Iterative: each level of a description is a frame on the heap rather than on the thread's stack.
ADFNode adfNode(const Json& value, const Where& where)
{
    struct Frame
    {
        Where where;          // of the node this frame fills
        ADFNode* node;        // its children were sized before any pointer into them was taken
        const Json* children; // the node's "content" array
        std::size_t next = 0; // next child to decode
    };
    ADFNode root;
    std::deque<Frame> stack; // a deque keeps each frame's address, which the child frames point at
    if (const Json* children = adfNodeOwnFields(value, where, root)) {
        stack.push_back({where, &root, children});
    }
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.children->size()) {
            stack.pop_back();
            continue;
        }
        std::size_t i = top.next++;
        Where childWhere{&top.where, "content", i};
        ADFNode& child = (*top.node->content)[i];
        if (const Json* grandchildren = adfNodeOwnFields((*top.children)[i], childWhere, child)) {
            if (stack.size() + 1 >= kMaxADFDepth) {
                fail(childWhere, "document nests too deeply");
            }
            stack.push_back({childWhere, &child, grandchildren});
        }
    }
    return root;
}

IssueFields issueFields(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    IssueFields fields;
    fields.summary = optionalText(json, "summary", where);
    fields.status = optionalRecord(json, "status", where, issueStatus);
    fields.priority = optionalRecord(json, "priority", where, priority);
    fields.updated = optionalText(json, "updated", where);
    fields.created = optionalText(json, "created", where);
    fields.duedate = optionalText(json, "duedate", where);
    fields.resolutiondate = optionalText(json, "resolutiondate", where);
    fields.issuetype = optionalRecord(json, "issuetype", where, issueType);
    fields.project = optionalRecord(json, "project", where, projectRef);
    fields.assignee = optionalRecord(json, "assignee", where, jiraUser);
    fields.description = optionalRecord(json, "description", where, adfNode);
    return fields;
}

Issue issue(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    Issue decoded;
    decoded.id = requiredText(json, "id", where);
    decoded.key = requiredText(json, "key", where);
    decoded.fields = issueFields(required(json, "fields", where), where.at("fields"));
    return decoded;
}

TransitionTarget transitionTarget(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    return {optionalText(json, "name", where), optionalRecord(json, "statusCategory", where, statusCategory)};
}

Transition transition(const Json& value, const Where& where)
{
    const Json& json = object(value, where);
    return {requiredText(json, "id", where), optionalText(json, "name", where),
            optionalRecord(json, "to", where, transitionTarget)};
}

} // namespace

JiraUser decodeJiraUser(const Json& json)
{
    return jiraUser(json, Where{});
}

Issue decodeIssue(const Json& json)
{
    return issue(json, Where{});
}

TransitionsResponse decodeTransitionsResponse(const Json& json)
{
    Where root;
    return {requiredList(object(json, root), "transitions", root, transition)};
}

CreatedIssue decodeCreatedIssue(const Json& json)
{
    Where root;
    const Json& created = object(json, root);
    return {requiredText(created, "id", root), requiredText(created, "key", root)};
}

EnhancedSearchResponse decodeEnhancedSearchResponse(const Json& json)
{
    Where root;
    const Json& page = object(json, root);
    EnhancedSearchResponse response;
    response.issues = requiredList(page, "issues", root, issue);
    response.nextPageToken = optionalText(page, "nextPageToken", root);
    response.isLast = optionalBoolean(page, "isLast", root);
    return response;
}

ClassicSearchResponse decodeClassicSearchResponse(const Json& json)
{
    Where root;
    const Json& page = object(json, root);
    ClassicSearchResponse response;
    response.issues = requiredList(page, "issues", root, issue);
    response.startAt = optionalInteger(page, "startAt", root);
    response.maxResults = optionalInteger(page, "maxResults", root);
    response.total = optionalInteger(page, "total", root);
    return response;
}

ADFNode decodeADFNode(const Json& json)
{
    return adfNode(json, Where{});
}

std::chrono::system_clock::time_point Issue::sortDate() const
{
    for (const auto* candidate : {&fields.resolutiondate, &fields.updated, &fields.created}) {
        if (auto date = JiraDate::parse(*candidate)) {
            return *date;
        }
    }
    return JiraDate::distantPast;
}

bool Issue::isDone() const
{
    const auto& status = fields.status;
    return status && status->statusCategory && status->statusCategory->key == "done";
}

std::string Issue::summaryText() const
{
    return fields.summary.value_or(std::string(kNoSummary));
}

std::optional<std::chrono::system_clock::time_point> Issue::finishedDate() const
{
    if (auto resolved = JiraDate::parse(fields.resolutiondate)) {
        return resolved;
    }
    return JiraDate::parse(fields.updated);
}

std::optional<std::string> Issue::descriptionText() const
{
    if (!fields.description) {
        return std::nullopt;
    }
    return ADF::plainText(*fields.description);
}

} // namespace taskbell
