#pragma once

#include <string>
#include <string_view>

namespace taskbell {

// Removes Unicode white space and line breaks (tab, LF, VT, FF, CR, NEL, space separators, U+2028,
// U+2029) from both ends of UTF-8 text.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// Removes blanks only (tab and the Unicode space separators, not line breaks) from both ends.
std::string_view trimBlanks(std::string_view text);

// Equal when compared byte by byte with ASCII letters folded to lower case (header names, hex digits,
// the transition name "Done").
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// Text from an outside service made safe to show in a terminal or a label: bytes that are not UTF-8,
// control characters other than tab and line feed (C0, DEL, C1) and the bidirectional embeddings,
// overrides and isolates (U+202A-U+202E, U+2066-U+2069) become U+FFFD; a carriage return before a line
// feed is dropped.
std::string sanitizeText(std::string_view text);

} // namespace taskbell
