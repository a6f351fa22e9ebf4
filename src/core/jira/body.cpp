#include "core/jira/body.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/jira/error.h"
#include "core/jira/models_dom.h"

namespace taskbell {
namespace {

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

// Builds the document from the parser's events. Inside a "description" member's value, arrays and objects
// beyond the budget are skipped whole (nothing of them is stored) and node texts past the budget are cut.
class BudgetedBuilder
{
public:
    explicit BudgetedBuilder(const BodyBudget& budget) : budget_(budget) {}

    Json& result() { return root_; }
    // What the descriptions of this body left of the budget.
    void takeFrom(BodyBudget& remaining) const
    {
        remaining.descriptionNodes -= std::min(nodes_, remaining.descriptionNodes);
        remaining.descriptionTextBytes -= std::min(textBytes_, remaining.descriptionTextBytes);
    }

    bool null() { return scalar(nullptr); }
    bool boolean(bool value) { return scalar(value); }
    bool number_integer(Json::number_integer_t value) { return scalar(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return scalar(value); }
    bool number_float(Json::number_float_t value, const std::string& /*text*/) { return scalar(value); }
    bool binary(Json::binary_t& /*value*/) { return false; } // never produced by the JSON parser

    bool string(std::string& value)
    {
        if (skipping_ == 0 && insideDescription() && textMember_) {
            trimText(value);
        }
        return scalar(std::move(value));
    }

    bool key(std::string& name)
    {
        if (skipping_ > 0) {
            return true;
        }
        if (description_ == 0 && name == "description") {
            descriptionNext_ = true;
        }
        textMember_ = insideDescription() && name == "text";
        member_ = &(*stack_.back())[name];
        return true;
    }

    bool start_object(std::size_t /*size*/) { return open(Json::object()); }
    bool start_array(std::size_t /*size*/) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool parse_error(std::size_t /*position*/, const std::string& /*token*/, const nlohmann::detail::exception&)
    {
        return false;
    }

private:
    bool insideDescription() const { return description_ > 0 && stack_.size() >= description_; }

    template <typename Value> bool scalar(Value&& value)
    {
        if (skipping_ == 0) {
            count();
            store(Json(std::forward<Value>(value)));
            descriptionNext_ = false;
            textMember_ = false;
        }
        return true;
    }

    bool open(Json&& container)
    {
        if (skipping_ > 0 || (insideDescription() && ++nodes_ > budget_.descriptionNodes)) {
            truncated_ = truncated_ || skipping_ == 0;
            ++skipping_;
            return true;
        }
        count();
        stack_.push_back(store(std::move(container)));
        if (descriptionNext_) {
            description_ = stack_.size();
            truncated_ = false;
            descriptionNext_ = false;
        }
        textMember_ = false;
        return true;
    }

    bool close()
    {
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        if (stack_.size() == description_) {
            if (truncated_ && stack_.back()->is_object()) {
                Json& content = (*stack_.back())["content"];
                if (!content.is_array()) {
                    content = Json::array();
                }
                content.push_back(ellipsisParagraph());
            }
            description_ = 0;
        }
        stack_.pop_back();
        return true;
    }

    Json* store(Json&& value)
    {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        if (stack_.back()->is_array()) {
            stack_.back()->push_back(std::move(value));
            return &stack_.back()->back();
        }
        *member_ = std::move(value);
        return member_;
    }

    void count()
    {
        if (++values_ > budget_.values) {
            throw TooManyValues{};
        }
    }

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
    Json root_;
    std::vector<Json*> stack_;
    Json* member_ = nullptr;      // where the value after the last key goes
    std::size_t skipping_ = 0;    // nesting inside a skipped array or object
    std::size_t description_ = 0; // stack size while a description is read, 0 otherwise
    bool descriptionNext_ = false;
    bool textMember_ = false; // the next value is a node's "text"
    bool truncated_ = false;
    std::size_t nodes_ = 0;
    std::size_t textBytes_ = 0;
    std::size_t values_ = 0;
};

} // namespace

Json parseJiraBody(std::string_view body)
{
    BodyBudget fresh;
    return parseJiraBody(body, fresh);
}

Json parseJiraBody(std::string_view body, BodyBudget& budget)
{
    if (jsonNestingDepth(body) > kResponseDepthLimit) {
        throw JiraError::decoding("The response is not valid JSON.");
    }
    BudgetedBuilder builder(budget);
    bool parsed = false;
    try {
        parsed = Json::sax_parse(body.begin(), body.end(), &builder);
    } catch (const TooManyValues&) {
        throw JiraError::decoding("The response holds more than " + std::to_string(budget.values) + " values.");
    }
    if (!parsed) {
        throw JiraError::decoding("The response is not valid JSON.");
    }
    builder.takeFrom(budget);
    return std::move(builder.result());
}

namespace {

template <typename Decode> auto decodeOrThrow(Decode decode)
{
    try {
        return decode();
    } catch (const DecodeError& error) {
        throw JiraError::decoding(error.what());
    }
}

} // namespace

SearchPages::SearchPages(BodyBudget budget) : budget_(budget) {}

SearchPages::~SearchPages() = default;

template <typename Decode> auto SearchPages::decode(std::string_view body, Decode decode)
{
    // Counted before the parser writes anything: its buffers grow with the values, not only the bytes.
    if (jsonValueCount(body) > budget_.values) {
        throw JiraError::decoding("The response holds more than " + std::to_string(budget_.values) + " values.");
    }
    if (!parser_) {
        parser_ = std::make_unique<simdjson::dom::parser>();
        if (parser_->allocate(simdjson::dom::MINIMAL_DOCUMENT_CAPACITY, dom_decode::kParserDepth) !=
            simdjson::SUCCESS) {
            throw std::bad_alloc();
        }
    }
    if (paddedSize_ < body.size() + simdjson::SIMDJSON_PADDING) {
        paddedSize_ = body.size() + simdjson::SIMDJSON_PADDING;
        padded_ = std::make_unique_for_overwrite<char[]>(paddedSize_);
    }
    std::memcpy(padded_.get(), body.data(), body.size());
    std::memset(padded_.get() + body.size(), ' ', simdjson::SIMDJSON_PADDING);

    simdjson::dom::element root;
    simdjson::error_code error = parser_->parse(padded_.get(), body.size(), false).get(root);
    if (error == simdjson::NUMBER_ERROR) {
        // Valid JSON the fast parser cannot hold (an integer past 64 bits): the document-tree path reads it.
        Json json = parseJiraBody(body, budget_);
        return decodeOrThrow([&] { return decode(json, nullptr); });
    }
    if (error == simdjson::MEMALLOC) {
        throw std::bad_alloc();
    }
    if (error != simdjson::SUCCESS) {
        throw JiraError::decoding("The response is not valid JSON.");
    }
    dom_decode::DescriptionBudget descriptions{budget_.descriptionNodes, budget_.descriptionTextBytes};
    auto decoded = decodeOrThrow([&] { return decode(root, &descriptions); });
    budget_.descriptionNodes = descriptions.nodes;
    budget_.descriptionTextBytes = descriptions.textBytes;
    return decoded;
}

EnhancedSearchResponse SearchPages::enhanced(std::string_view body)
{
    return decode(body, [](const auto& json, dom_decode::DescriptionBudget* budget) {
        if constexpr (std::is_same_v<std::decay_t<decltype(json)>, Json>) {
            return decodeEnhancedSearchResponse(json);
        } else {
            return dom_decode::enhancedSearchResponse(json, budget);
        }
    });
}

ClassicSearchResponse SearchPages::classic(std::string_view body)
{
    return decode(body, [](const auto& json, dom_decode::DescriptionBudget* budget) {
        if constexpr (std::is_same_v<std::decay_t<decltype(json)>, Json>) {
            return decodeClassicSearchResponse(json);
        } else {
            return dom_decode::classicSearchResponse(json, budget);
        }
    });
}

} // namespace taskbell
