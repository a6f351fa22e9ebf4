#pragma once

#include <cstddef>
#include <string_view>

#include "core/base/json_util.h"

namespace taskbell {

// What a Jira answer (or all pages of one search) may cost once parsed. Descriptions are kept up to the
// first two limits (far beyond the 32,767 characters Jira itself allows for one) and a description cut
// there ends in a "…" paragraph; a body with more values than the last limit is refused. So no answer up
// to the body cap, and no search however it pages, takes more than a few dozen megabytes.
struct BodyBudget
{
    std::size_t descriptionNodes = 100'000; // arrays and objects inside all descriptions of one body
    std::size_t descriptionTextBytes = std::size_t{4} << 20;
    std::size_t values = 1'000'000; // every value kept, descriptions included
};

// Parses a Jira response body within the budget and takes what its descriptions used from it, so one budget
// can bound all pages of a search. Throws JiraError::decoding when the text is not JSON, nests too
// deeply, or holds more values than the budget allows.
Json parseJiraBody(std::string_view body, BodyBudget& remaining);
Json parseJiraBody(std::string_view body);

} // namespace taskbell
