#include "core/jira/body.h"

#include <cstdint>

#include "core/jira/error.h"

namespace taskbell {
namespace {

using Event = Json::parse_event_t;

struct TooManyValues
{
};

// Longest prefix of UTF-8 text no longer than limit that does not cut a character in half.
std::size_t utf8Prefix(const std::string& text, std::size_t limit)
{
    if (limit >= text.size()) {
        return text.size();
    }
    while (limit > 0 && (static_cast<std::uint8_t>(text[limit]) & 0xC0) == 0x80) {
        --limit;
    }
    return limit;
}

Json ellipsisParagraph()
{
    return {{"type", "paragraph"}, {"content", Json::array({{{"type", "text"}, {"text", "\u2026"}}})}};
}

// Follows the parse: inside a "description" member's value, arrays and objects beyond the budget are
// dropped before their contents are stored, and text past the budget is cut.
class BudgetKeeper
{
public:
    explicit BudgetKeeper(const BodyBudget& budget) : budget_(budget) {}

    bool operator()(int depth, Event event, Json& parsed)
    {
        if (event == Event::key) {
            const std::string& name = parsed.get_ref<const std::string&>();
            if (description_ < 0 && name == "description") {
                candidate_ = depth;
            }
            textMember_ = description_ >= 0 && name == "text";
            return true;
        }
        bool start = event == Event::object_start || event == Event::array_start;
        if (start && depth == candidate_) {
            description_ = depth;
            truncated_ = false;
        }
        candidate_ = -1;
        bool inside = description_ >= 0 && depth > description_;
        if (start && inside && ++nodes_ > budget_.descriptionNodes) {
            truncated_ = true;
            return false;
        }
        if (event == Event::value && inside && textMember_ && parsed.is_string()) {
            trimText(parsed.get_ref<std::string&>());
        }
        textMember_ = false;
        if (start || event == Event::value) {
            if (++values_ > budget_.values) {
                throw TooManyValues{};
            }
        }
        bool end = event == Event::object_end || event == Event::array_end;
        if (end && depth == description_) {
            description_ = -1;
            if (truncated_ && parsed.is_object()) {
                if (!parsed.contains("content") || !parsed["content"].is_array()) {
                    parsed["content"] = Json::array();
                }
                parsed["content"].push_back(ellipsisParagraph());
            }
        }
        return true;
    }

private:
    void trimText(std::string& text)
    {
        std::size_t left = budget_.descriptionTextBytes - std::min(textBytes_, budget_.descriptionTextBytes);
        if (text.size() > left) {
            text.resize(utf8Prefix(text, left));
            text.shrink_to_fit();
            truncated_ = true;
        }
        textBytes_ += text.size();
    }

    const BodyBudget& budget_;
    int candidate_ = -1;   // depth of a "description" member whose value comes next
    int description_ = -1; // depth of the description being read
    bool truncated_ = false;
    bool textMember_ = false; // the next value is a node's "text"
    std::size_t nodes_ = 0;
    std::size_t textBytes_ = 0;
    std::size_t values_ = 0;
};

} // namespace

Json parseJiraBody(std::string_view body, const BodyBudget& budget)
{
    if (jsonNestingDepth(body) > kResponseDepthLimit) {
        throw JiraError::decoding("The response is not valid JSON.");
    }
    BudgetKeeper keeper(budget);
    Json value;
    try {
        value = Json::parse(
            body.begin(), body.end(),
            [&keeper](int depth, Event event, Json& parsed) { return keeper(depth, event, parsed); },
            /*allow_exceptions=*/false);
    } catch (const TooManyValues&) {
        throw JiraError::decoding("The response holds more than " + std::to_string(budget.values) + " values.");
    }
    if (value.is_discarded()) {
        throw JiraError::decoding("The response is not valid JSON.");
    }
    return value;
}

} // namespace taskbell
