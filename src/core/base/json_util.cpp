#include "core/base/json_util.h"

namespace taskbell {

std::size_t jsonNestingDepth(std::string_view text)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            deepest = std::max(deepest, ++depth);
            break;
        case ']':
        case '}':
            if (depth > 0) {
                --depth;
            }
            break;
        default:
            break;
        }
    }
    return deepest;
}

std::optional<Json> parseJson(std::string_view text, std::size_t maxDepth)
{
    if (jsonNestingDepth(text) > maxDepth) {
        return std::nullopt;
    }
    Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

std::size_t jsonValueCount(std::string_view text)
{
    std::size_t count = 1;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{' || c == ',') {
            ++count; // a container opens (its first member counts with it), or one more member follows
        }
    }
    return count;
}

std::optional<Json> parseJson(std::string_view text, std::size_t maxDepth, std::size_t maxValues)
{
    if (jsonValueCount(text) > maxValues) {
        return std::nullopt;
    }
    return parseJson(text, maxDepth);
}

std::string dumpJson(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace taskbell
