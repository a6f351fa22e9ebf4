#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/base/json_util.h"

namespace taskbell {

struct ADFNode;

// Plain text <-> Atlassian Document Format (the JSON tree Jira keeps descriptions in).
namespace ADF {

// Jira keeps at most 32,767 characters of a description, so no text it accepts has this many lines with
// text; a longer one is refused before a document (a JSON tree per line) is built for it.
inline constexpr std::size_t maxLines = 20'000;

// What() is the user-facing text.
class TooManyLines : public std::runtime_error
{
public:
    TooManyLines();
};

// A document of paragraphs (lines joined by hard breaks; a blank line starts a new paragraph) and bullet
// lists (runs of bullet lines). Nothing when the text holds only blanks and line breaks. Throws
// TooManyLines past maxLines lines with text.
std::optional<Json> documentFromPlainText(std::string_view text);

// The item text of a bullet line: the rest after the prefix, trimmed; nothing when the line is no bullet
// or the rest is empty.
std::optional<std::string> bulletItem(std::string_view line);

// Number of media nodes ("media", "mediaSingle", "mediaGroup", "mediaInline") in a raw ADF tree, i.e.
// attachments that a plain-text rewrite of the description would drop.
std::size_t attachmentNodeCount(const Json& description);

// The description as plain text: the flattened lines joined by line feeds; nothing when empty.
std::optional<std::string> plainText(const ADFNode& root);

} // namespace ADF
} // namespace taskbell
