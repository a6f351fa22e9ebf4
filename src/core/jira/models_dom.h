#pragma once

// The strict decoders over a simdjson document: the one implementation behind every decodeX, used
// directly by the search pages so that no document tree is built for them. Private to the Jira core.

#include <simdjson.h>

#include "core/jira/body.h"
#include "core/jira/models.h"

namespace taskbell::dom_decode {

// Budget left for the descriptions of one body: their nodes (node objects and their content arrays) and
// text bytes. A description that runs out keeps what fit and ends in a "…" paragraph.
struct DescriptionBudget
{
    std::size_t nodes;
    std::size_t textBytes;
};

// Nesting accepted by the parsers below: as deep as kResponseDepthLimit, not deeper.
inline constexpr std::size_t kParserDepth = kResponseDepthLimit + 1;

// Each throws DecodeError; budget nullptr decodes descriptions whole.
EnhancedSearchResponse enhancedSearchResponse(simdjson::dom::element json, DescriptionBudget* budget);
ClassicSearchResponse classicSearchResponse(simdjson::dom::element json, DescriptionBudget* budget);
JiraUser jiraUser(simdjson::dom::element json);
Issue issue(simdjson::dom::element json);
TransitionsResponse transitionsResponse(simdjson::dom::element json);
CreatedIssue createdIssue(simdjson::dom::element json);
ADFNode adfNode(simdjson::dom::element json);

} // namespace taskbell::dom_decode
