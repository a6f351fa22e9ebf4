#include "core/base/text_util.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace taskbell {
namespace {

bool isBlank(char32_t c)
{
    switch (c) {
    case 0x09:
    case 0x20:
    case 0xA0:
    case 0x1680:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

bool isLineBreak(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Length in bytes of the well-formed UTF-8 sequence starting at text[0], and its code point.
std::optional<std::pair<std::size_t, char32_t>> decodeFirst(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(0);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || text.size() < length) {
        return std::nullopt;
    }
    if (length == 1) {
        return std::pair{std::size_t{1}, char32_t{lead}};
    }
    char32_t cp = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    return std::pair{length, cp};
}

// Start of the last code point of non-empty text (at most four bytes back).
std::size_t lastCodePointStart(std::string_view text)
{
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && (static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    return start;
}

bool isUnsafeToShow(char32_t c)
{
    return (c < 0x20 && c != '\t' && c != '\n') || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// Printable ASCII and tab/line feed need no decoding; most text from Jira is only that.
bool isPlainAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'; });
}

template <typename Predicate> std::string_view trimWhere(std::string_view text, Predicate strip)
{
    while (auto first = decodeFirst(text)) {
        if (!strip(first->second)) {
            break;
        }
        text.remove_prefix(first->first);
    }
    while (!text.empty()) {
        std::size_t start = lastCodePointStart(text);
        auto last = decodeFirst(text.substr(start));
        if (!last || start + last->first != text.size() || !strip(last->second)) {
            break;
        }
        text.remove_suffix(last->first);
    }
    return text;
}

} // namespace

std::string_view trimWhitespaceAndNewlines(std::string_view text)
{
    return trimWhere(text, [](char32_t c) { return isBlank(c) || isLineBreak(c); });
}

std::string_view trimBlanks(std::string_view text)
{
    return trimWhere(text, isBlank);
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool isValidUtf8(std::string_view bytes)
{
    while (!bytes.empty()) {
        auto first = decodeFirst(bytes);
        if (!first) {
            return false;
        }
        bytes.remove_prefix(first->first);
    }
    return true;
}

std::string sanitizeText(std::string_view text)
{
    if (isPlainAscii(text)) {
        return std::string(text);
    }
    static constexpr std::string_view kReplacement = "\uFFFD";
    std::string clean;
    clean.reserve(text.size());
    while (!text.empty()) {
        auto first = decodeFirst(text);
        if (!first) {
            clean += kReplacement;
            text.remove_prefix(1);
            continue;
        }
        auto [length, c] = *first;
        if (c == '\r' && text.size() > 1 && text[1] == '\n') {
            // CR LF line ends become plain line feeds.
        } else if (isUnsafeToShow(c)) {
            clean += kReplacement;
        } else {
            clean.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return clean;
}

} // namespace taskbell
