#pragma once

#include <cstddef>
#include <string_view>

#include "core/base/json_util.h"

namespace taskbell {

// What one Jira answer may cost once parsed. A description is kept up to the first limits (far beyond the
// 32,767 characters Jira itself allows) and then ends in a "…" paragraph; a body with more values than the
// last limit is refused, so no answer up to the body cap can take more than a few dozen megabytes.
struct BodyBudget
{
    std::size_t descriptionNodes = 100'000; // arrays and objects inside all descriptions of one body
    std::size_t descriptionTextBytes = std::size_t{4} << 20;
    std::size_t values = 1'000'000; // every value kept, descriptions included
};

// Parses a Jira response body within the budget. Throws JiraError::decoding when the text is not JSON,
// nests too deeply, or holds more values than the budget allows.
Json parseJiraBody(std::string_view body, const BodyBudget& budget = {});

} // namespace taskbell
