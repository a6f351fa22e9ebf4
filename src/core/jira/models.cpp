#include "core/jira/models.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <optional>

#include "core/base/text_util.h"
#include "core/jira/adf.h"
#include "core/jira/date.h"
#include "core/jira/models_dom.h"

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

using Element = simdjson::dom::element;
using Type = simdjson::dom::element_type;

const char* kindOf(Element value)
{
    switch (value.type()) {
    case Type::NULL_VALUE:
        return "null";
    case Type::BOOL:
        return "boolean";
    case Type::STRING:
        return "string";
    case Type::ARRAY:
        return "array";
    case Type::OBJECT:
        return "object";
    default:
        return "number";
    }
}

[[noreturn]] void failType(const Where& where, const char* expected, Element value)
{
    fail(where, std::string("expected ") + expected + ", got " + kindOf(value));
}

simdjson::dom::object object(Element value, const Where& where)
{
    if (!value.is_object()) {
        failType(where, "an object", value);
    }
    return value.get_object().value_unsafe();
}

simdjson::dom::array array(Element value, const Where& where)
{
    if (!value.is_array()) {
        failType(where, "an array", value);
    }
    return value.get_array().value_unsafe();
}

// The member's value, or nothing when it is missing or null (both mean "absent").
std::optional<Element> member(simdjson::dom::object object, std::string_view name)
{
    Element found;
    if (object.at_key(name).get(found) != simdjson::SUCCESS || found.is_null()) {
        return std::nullopt;
    }
    return found;
}

Element required(simdjson::dom::object object, const char* name, const Where& where)
{
    Element found;
    if (object.at_key(name).get(found) != simdjson::SUCCESS) {
        fail(where.at(name), "required member is missing");
    }
    return found;
}

std::string_view rawText(Element value, const Where& where)
{
    if (!value.is_string()) {
        failType(where, "a string", value);
    }
    return value.get_string().value_unsafe();
}

// Every text of a record is shown to someone sooner or later: terminal escapes and bidi overrides from a
// hostile or broken server are defused here, once, where the text enters.
std::string text(Element value, const Where& where)
{
    return sanitizeText(rawText(value, where));
}

std::int64_t integer(Element value, const Where& where)
{
    switch (value.type()) {
    case Type::INT64:
        return value.get_int64().value_unsafe();
    case Type::UINT64: {
        // Only numbers past the signed range arrive as unsigned; they are not our integers.
        std::uint64_t number = value.get_uint64().value_unsafe();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            fail(where, "expected an integer, got a number out of range");
        }
        return static_cast<std::int64_t>(number);
    }
    case Type::DOUBLE:
        fail(where, "expected an integer, got number " + dumpJson(Json(value.get_double().value_unsafe())));
    default:
        failType(where, "an integer", value);
    }
}

bool boolean(Element value, const Where& where)
{
    if (!value.is_bool()) {
        failType(where, "true or false", value);
    }
    return value.get_bool().value_unsafe();
}

std::string requiredText(simdjson::dom::object object, const char* name, const Where& where)
{
    return text(required(object, name, where), where.at(name));
}

std::optional<std::string> optionalText(simdjson::dom::object object, const char* name, const Where& where)
{
    auto value = member(object, name);
    return value ? std::optional(text(*value, where.at(name))) : std::nullopt;
}

std::optional<std::int64_t> optionalInteger(simdjson::dom::object object, const char* name, const Where& where)
{
    auto value = member(object, name);
    return value ? std::optional(integer(*value, where.at(name))) : std::nullopt;
}

std::optional<bool> optionalBoolean(simdjson::dom::object object, const char* name, const Where& where)
{
    auto value = member(object, name);
    return value ? std::optional(boolean(*value, where.at(name))) : std::nullopt;
}

template <typename Decode>
auto optionalRecord(simdjson::dom::object object, const char* name, const Where& where, Decode decode)
    -> std::optional<decltype(decode(Element{}, where))>
{
    auto value = member(object, name);
    if (!value) {
        return std::nullopt;
    }
    return decode(*value, where.at(name));
}

template <typename Decode>
auto requiredList(simdjson::dom::object object, const char* name, const Where& where, Decode decode)
    -> std::vector<decltype(decode(Element{}, where))>
{
    Where listWhere = where.at(name);
    simdjson::dom::array list = array(required(object, name, where), listWhere);
    std::vector<decltype(decode(Element{}, where))> decoded;
    decoded.reserve(list.size());
    std::size_t i = 0;
    for (Element item : list) {
        decoded.push_back(decode(item, Where{listWhere.parent, listWhere.member, i++}));
    }
    return decoded;
}

StatusCategory statusCategory(Element value, const Where& where)
{
    auto json = object(value, where);
    return {optionalText(json, "key", where), optionalText(json, "name", where)};
}

IssueStatus issueStatus(Element value, const Where& where)
{
    auto json = object(value, where);
    return {optionalText(json, "name", where), optionalRecord(json, "statusCategory", where, statusCategory)};
}

IssueType issueType(Element value, const Where& where)
{
    auto json = object(value, where);
    return {optionalText(json, "name", where), optionalText(json, "iconUrl", where)};
}

Priority priority(Element value, const Where& where)
{
    return {optionalText(object(value, where), "name", where)};
}

ProjectRef projectRef(Element value, const Where& where)
{
    auto json = object(value, where);
    return {optionalText(json, "key", where), optionalText(json, "name", where)};
}

JiraUser jiraUser(Element value, const Where& where)
{
    auto json = object(value, where);
    return {optionalText(json, "accountId", where), optionalText(json, "displayName", where),
            optionalText(json, "emailAddress", where)};
}

// Longest prefix of UTF-8 text no longer than limit that does not cut a character in half.
std::string_view utf8Prefix(std::string_view text, std::size_t limit)
{
    if (limit >= text.size()) {
        return text;
    }
    while (limit > 0 && (static_cast<std::uint8_t>(text[limit]) & 0xC0) == 0x80) {
        --limit;
    }
    return text.substr(0, limit);
}

// Decodes the descriptions of one body within what is left of its budget (or whole without one).
class DescriptionReader
{
public:
    explicit DescriptionReader(dom_decode::DescriptionBudget* budget) : budget_(budget) {}

    // Iterative: each level of a description is a frame on the heap rather than on the thread's stack.
    ADFNode read(Element value, const Where& where)
    {
        struct Frame
        {
            Where where;   // of the node this frame fills
            ADFNode* node; // its children's vector was reserved whole, so never moves
            simdjson::dom::array::iterator next;
            simdjson::dom::array::iterator end;
            std::size_t index = 0; // of `next` in the JSON array, for the path
        };
        truncated_ = false;
        ADFNode root;
        std::deque<Frame> stack; // a deque keeps each frame's address, which the child frames point at
        if (auto children = ownFields(value, where, root)) {
            stack.push_back({where, &root, children->begin(), children->end()});
        }
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next == top.end) {
                stack.pop_back();
                continue;
            }
            Element childValue = *top.next;
            ++top.next;
            Where childWhere{&top.where, "content", top.index++};
            if (!spend(childValue)) {
                continue;
            }
            ADFNode& child = top.node->content->emplace_back();
            if (auto grandchildren = ownFields(childValue, childWhere, child)) {
                if (stack.size() + 1 >= kMaxADFDepth) {
                    fail(childWhere, "document nests too deeply");
                }
                stack.push_back({childWhere, &child, grandchildren->begin(), grandchildren->end()});
            }
        }
        if (truncated_) {
            ADFNode ellipsis{"paragraph", std::nullopt, std::vector<ADFNode>{{"text", "\u2026", std::nullopt}}};
            if (!root.content) {
                root.content.emplace();
            }
            root.content->push_back(std::move(ellipsis));
        }
        return root;
    }

private:
    // Takes one node from the budget for an array or object about to be kept; false (and the description
    // is marked cut) when none is left, and the value is skipped whole.
    bool spend(Element value)
    {
        if (budget_ == nullptr || !(value.is_object() || value.is_array())) {
            return true;
        }
        if (budget_->nodes == 0) {
            truncated_ = true;
            return false;
        }
        --budget_->nodes;
        return true;
    }

    std::string nodeText(Element value, const Where& where)
    {
        std::string_view raw = rawText(value, where);
        if (budget_ != nullptr) {
            std::string_view kept = utf8Prefix(raw, budget_->textBytes);
            truncated_ = truncated_ || kept.size() < raw.size();
            budget_->textBytes -= kept.size();
            raw = kept;
        }
        return sanitizeText(raw);
    }

    // Type and text of one node, and its children's array when it has one (reserved, still empty), checked
    // but not descended.
    std::optional<simdjson::dom::array> ownFields(Element value, const Where& where, ADFNode& node)
    {
        auto json = object(value, where);
        node.type = optionalText(json, "type", where);
        if (auto nodeTextValue = member(json, "text")) {
            node.text = nodeText(*nodeTextValue, where.at("text"));
        }
        auto content = member(json, "content");
        if (!content || !spend(*content)) {
            return std::nullopt;
        }
        auto children = array(*content, where.at("content"));
        node.content.emplace().reserve(children.size());
        return children;
    }

    dom_decode::DescriptionBudget* budget_;
    bool truncated_ = false;
};

IssueFields issueFields(Element value, const Where& where, dom_decode::DescriptionBudget* budget)
{
    auto json = object(value, where);
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
    if (auto description = member(json, "description")) {
        fields.description = DescriptionReader(budget).read(*description, where.at("description"));
    }
    return fields;
}

auto issueWithin(dom_decode::DescriptionBudget* budget)
{
    return [budget](Element value, const Where& where) {
        auto json = object(value, where);
        Issue decoded;
        decoded.id = requiredText(json, "id", where);
        decoded.key = requiredText(json, "key", where);
        decoded.fields = issueFields(required(json, "fields", where), where.at("fields"), budget);
        return decoded;
    };
}

TransitionTarget transitionTarget(Element value, const Where& where)
{
    auto json = object(value, where);
    return {optionalText(json, "name", where), optionalRecord(json, "statusCategory", where, statusCategory)};
}

Transition transition(Element value, const Where& where)
{
    auto json = object(value, where);
    return {requiredText(json, "id", where), optionalText(json, "name", where),
            optionalRecord(json, "to", where, transitionTarget)};
}

// A document already in memory goes through the same decoders as text from the wire.
template <typename Decode> auto fromTree(const Json& json, Decode decode)
{
    std::string text = dumpJson(json);
    simdjson::dom::parser parser;
    Element root;
    simdjson::error_code error = parser.allocate(text.size(), dom_decode::kParserDepth);
    if (error == simdjson::SUCCESS) {
        error = parser.parse(text).get(root);
    }
    if (error == simdjson::DEPTH_ERROR) {
        fail(Where{}, "document nests too deeply");
    }
    if (error != simdjson::SUCCESS) {
        fail(Where{}, simdjson::error_message(error));
    }
    return decode(root);
}

} // namespace

namespace dom_decode {

EnhancedSearchResponse enhancedSearchResponse(Element json, DescriptionBudget* budget)
{
    Where root;
    auto page = object(json, root);
    EnhancedSearchResponse response;
    response.issues = requiredList(page, "issues", root, issueWithin(budget));
    response.nextPageToken = optionalText(page, "nextPageToken", root);
    response.isLast = optionalBoolean(page, "isLast", root);
    return response;
}

ClassicSearchResponse classicSearchResponse(Element json, DescriptionBudget* budget)
{
    Where root;
    auto page = object(json, root);
    ClassicSearchResponse response;
    response.issues = requiredList(page, "issues", root, issueWithin(budget));
    response.startAt = optionalInteger(page, "startAt", root);
    response.maxResults = optionalInteger(page, "maxResults", root);
    response.total = optionalInteger(page, "total", root);
    return response;
}

JiraUser jiraUser(Element json)
{
    return taskbell::jiraUser(json, Where{});
}

Issue issue(Element json)
{
    return issueWithin(nullptr)(json, Where{});
}

TransitionsResponse transitionsResponse(Element json)
{
    Where root;
    return {requiredList(object(json, root), "transitions", root, transition)};
}

CreatedIssue createdIssue(Element json)
{
    Where root;
    auto created = object(json, root);
    return {requiredText(created, "id", root), requiredText(created, "key", root)};
}

ADFNode adfNode(Element json)
{
    return DescriptionReader(nullptr).read(json, Where{});
}

} // namespace dom_decode

JiraUser decodeJiraUser(const Json& json)
{
    return fromTree(json, [](Element root) { return dom_decode::jiraUser(root); });
}

Issue decodeIssue(const Json& json)
{
    return fromTree(json, [](Element root) { return dom_decode::issue(root); });
}

TransitionsResponse decodeTransitionsResponse(const Json& json)
{
    return fromTree(json, [](Element root) { return dom_decode::transitionsResponse(root); });
}

CreatedIssue decodeCreatedIssue(const Json& json)
{
    return fromTree(json, [](Element root) { return dom_decode::createdIssue(root); });
}

EnhancedSearchResponse decodeEnhancedSearchResponse(const Json& json)
{
    return fromTree(json, [](Element root) { return dom_decode::enhancedSearchResponse(root, nullptr); });
}

ClassicSearchResponse decodeClassicSearchResponse(const Json& json)
{
    return fromTree(json, [](Element root) { return dom_decode::classicSearchResponse(root, nullptr); });
}

ADFNode decodeADFNode(const Json& json)
{
    return fromTree(json, [](Element root) { return dom_decode::adfNode(root); });
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
