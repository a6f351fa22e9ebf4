#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "core/base/json_util.h"

namespace simdjson::dom {
class parser;
}

namespace taskbell {

// What a Jira answer (or all pages of one search) may cost once parsed. Descriptions are kept up to the
// first two limits (far beyond the 32,767 characters Jira itself allows for one) and a description cut
// there ends in a "…" paragraph; a body with more values than the last limit is refused. So no answer up
// to the body cap, and no search however it pages, takes more than a few dozen megabytes.
struct BodyBudget
{
    // Arrays and objects inside all descriptions of one body: all of them in a document tree, the nodes and
    // their content arrays where the records are decoded straight from the text.
    std::size_t descriptionNodes = 100'000;
    std::size_t descriptionTextBytes = std::size_t{4} << 20;
    std::size_t values = 1'000'000; // every value kept (counted in the text when no tree is built)
};

// Parses a Jira response body within the budget and takes what its descriptions used from it, so one budget
// can bound all pages of a search. Throws JiraError::decoding when the text is not JSON, nests too
// deeply, or holds more values than the budget allows.
Json parseJiraBody(std::string_view body, BodyBudget& remaining);
Json parseJiraBody(std::string_view body);

struct EnhancedSearchResponse;
struct ClassicSearchResponse;

// Decodes the pages of one search straight from their text, with the parsing and decoding rules above and
// the strict decoders of the records, but without building a document tree. One parser's buffers serve
// every page and are freed with the object; all pages draw on one budget. Throws JiraError::decoding.
class SearchPages
{
public:
    explicit SearchPages(BodyBudget budget = {});
    ~SearchPages();
    SearchPages(const SearchPages&) = delete;
    SearchPages& operator=(const SearchPages&) = delete;

    EnhancedSearchResponse enhanced(std::string_view body);
    ClassicSearchResponse classic(std::string_view body);

    const BodyBudget& remaining() const { return budget_; }

private:
    template <typename Decode> auto decode(std::string_view body, Decode decode);

    BodyBudget budget_;
    std::unique_ptr<simdjson::dom::parser> parser_;
    std::unique_ptr<char[]> padded_; // the body with the parser's padding behind it
    std::size_t paddedSize_ = 0;
};

} // namespace taskbell
