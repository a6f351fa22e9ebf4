#pragma once

// Builds Atlassian Document Format trees for tests and the fake Jira's sample issues.

#include <initializer_list>
#include <string>
#include <vector>

#include "core/base/json_util.h"

namespace taskbell::test::adf {

inline Json text(const std::string& value)
{
    return {{"type", "text"}, {"text", value}};
}

inline Json hardBreak()
{
    return {{"type", "hardBreak"}};
}

inline Json paragraph(std::vector<Json> inlines)
{
    return {{"type", "paragraph"}, {"content", Json(std::move(inlines))}};
}

inline Json bulletList(const std::vector<std::string>& items)
{
    Json content = Json::array();
    for (const std::string& item : items) {
        content.push_back({{"type", "listItem"}, {"content", Json::array({paragraph({text(item)})})}});
    }
    return {{"type", "bulletList"}, {"content", content}};
}

inline Json doc(std::vector<Json> blocks)
{
    return {{"type", "doc"}, {"version", 1}, {"content", Json(std::move(blocks))}};
}

// A document of one paragraph per line.
inline Json paragraphs(std::initializer_list<const char*> lines)
{
    std::vector<Json> blocks;
    for (const char* line : lines) {
        blocks.push_back(paragraph({text(line)}));
    }
    return doc(std::move(blocks));
}

} // namespace taskbell::test::adf
