#include <chrono>
#include <ctime>
#include <map>
#include <set>

#include "fake_jira_detail.h"

namespace taskbell::test::fake {

FakeReply jsonReply(int status, const Json& body)
{
    FakeReply reply;
    reply.status = status;
    reply.body = body.dump();
    return reply;
}

FakeReply errorReply(int status, std::vector<std::string> messages, Json errors)
{
    return jsonReply(status, Json{{"errorMessages", std::move(messages)}, {"errors", std::move(errors)}});
}

FakeReply issueNotFound()
{
    return errorReply(404, {"Issue does not exist or you do not have permission to see it."});
}

int offsetMinutes(const std::string& utcOffset)
{
    if (utcOffset.size() != 5) {
        return 0;
    }
    int hours = std::stoi(utcOffset.substr(1, 2));
    int minutes = std::stoi(utcOffset.substr(3, 2));
    return (utcOffset[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
}

std::optional<std::int64_t> parseTimestamp(const std::string& text)
{
    std::tm tm{};
    int millis = 0;
    char sign = 0;
    int offsetHours = 0;
    int offsetMins = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &millis, &sign, &offsetHours, &offsetMins) != 10 ||
        (sign != '+' && sign != '-')) {
        return std::nullopt;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    std::int64_t seconds = ::timegm(&tm) - (sign == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMins * 60);
    return seconds * 1000 + millis;
}

std::string formatTimestamp(std::int64_t epochMillis, const std::string& utcOffset)
{
    std::time_t local = static_cast<std::time_t>(epochMillis / 1000) + offsetMinutes(utcOffset) * 60;
    std::tm tm{};
    ::gmtime_r(&local, &tm);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(epochMillis % 1000),
                  utcOffset.c_str());
    return buffer;
}

std::int64_t nowMillis()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::size_t codePointCount(std::string_view text)
{
    std::size_t count = 0;
    for (unsigned char c : text) {
        count += (c & 0xc0) != 0x80 ? 1 : 0;
    }
    return count;
}

namespace {

const std::set<std::string> kInline = {"text",       "hardBreak", "mention", "emoji",
                                       "inlineCard", "date",      "status",  "mediaInline"};
const std::set<std::string> kBlock = {"paragraph",  "heading", "bulletList",  "orderedList", "codeBlock",
                                      "blockquote", "rule",    "mediaSingle", "mediaGroup",  "table",
                                      "panel",      "expand",  "taskList"};
const std::set<std::string> kListItemChildren = {"paragraph", "bulletList", "orderedList", "codeBlock", "mediaSingle"};

// Which children a node type takes and whether it needs at least one.
struct ContentRule
{
    std::set<std::string> children;
    bool required = false;
};

const std::map<std::string, ContentRule>& contentRules()
{
    static const std::map<std::string, ContentRule> rules = {
        {"paragraph", {kInline, false}},
        {"heading", {kInline, false}},
        {"bulletList", {{"listItem"}, true}},
        {"orderedList", {{"listItem"}, true}},
        {"listItem", {kListItemChildren, true}},
        {"codeBlock", {{"text"}, false}},
        {"blockquote", {{"paragraph", "bulletList", "orderedList", "codeBlock", "mediaSingle", "mediaGroup"}, true}},
        {"mediaSingle", {{"media", "caption"}, true}},
        {"mediaGroup", {{"media"}, true}},
        {"caption", {kInline, false}},
        {"table", {{"tableRow"}, true}},
        {"tableRow", {{"tableHeader", "tableCell"}, true}},
        {"tableHeader", {kBlock, true}},
        {"tableCell", {kBlock, true}},
        {"panel", {kBlock, true}},
        {"expand", {kBlock, true}},
        {"taskList", {{"taskItem"}, true}},
        {"taskItem", {kInline, false}},
    };
    return rules;
}

bool hasStringAttr(const Json& node, const char* name)
{
    auto attrs = node.find("attrs");
    if (attrs == node.end() || !attrs->is_object()) {
        return false;
    }
    auto value = attrs->find(name);
    return value != attrs->end() && value->is_string() && !value->get<std::string>().empty();
}

bool attributesValid(const std::string& type, const Json& node)
{
    if (type == "heading") {
        auto attrs = node.find("attrs");
        if (attrs == node.end() || !attrs->is_object() || !attrs->contains("level") ||
            !(*attrs)["level"].is_number_integer()) {
            return false;
        }
        int level = (*attrs)["level"];
        return level >= 1 && level <= 6;
    }
    if (type == "mention" || type == "mediaInline") {
        return hasStringAttr(node, "id");
    }
    if (type == "emoji") {
        return hasStringAttr(node, "shortName");
    }
    if (type == "date") {
        return hasStringAttr(node, "timestamp");
    }
    if (type == "inlineCard") {
        return hasStringAttr(node, "url") != (node.contains("attrs") && node["attrs"].contains("data"));
    }
    if (type == "media") {
        if (!hasStringAttr(node, "type")) {
            return false;
        }
        std::string mediaType = node["attrs"]["type"];
        return mediaType == "external" ? hasStringAttr(node, "url")
                                       : (mediaType == "file" || mediaType == "link") && hasStringAttr(node, "id") &&
                                             node["attrs"].contains("collection");
    }
    return true;
}

bool nodeValid(const Json& node, const std::set<std::string>& allowed, bool inCodeBlock)
{
    if (!node.is_object() || !node.contains("type") || !node["type"].is_string()) {
        return false;
    }
    std::string type = node["type"];
    if (!allowed.contains(type)) {
        return false;
    }
    for (const auto& [member, value] : node.items()) {
        if (member != "type" && member != "attrs" && member != "content" && member != "marks" && member != "text") {
            return false;
        }
        if (member == "attrs" && !value.is_object()) {
            return false;
        }
        if (member == "marks" && (!value.is_array() || inCodeBlock)) {
            return false;
        }
    }
    if (type == "text") {
        return !node.contains("content") && node.contains("text") && node["text"].is_string() &&
               !node["text"].get<std::string>().empty();
    }
    if (node.contains("text") || !attributesValid(type, node)) {
        return false;
    }
    auto rule = contentRules().find(type);
    if (rule == contentRules().end()) {
        return !node.contains("content"); // leaf nodes
    }
    auto content = node.find("content");
    if (content == node.end()) {
        return !rule->second.required;
    }
    if (!content->is_array() || (rule->second.required && content->empty())) {
        return false;
    }
    for (const auto& child : *content) {
        if (!nodeValid(child, rule->second.children, type == "codeBlock")) {
            return false;
        }
    }
    return true;
}

} // namespace

bool isValidAdfDocument(const Json& document)
{
    if (!document.is_object() || document.size() != 3 || document.value("type", Json()) != "doc" ||
        document.value("version", Json()) != 1 || !document.contains("content") || !document["content"].is_array()) {
        return false;
    }
    for (const auto& child : document["content"]) {
        if (!nodeValid(child, kBlock, false)) {
            return false;
        }
    }
    return true;
}

} // namespace taskbell::test::fake
