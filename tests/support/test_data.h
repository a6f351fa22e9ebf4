#pragma once

// Tables of cases kept as JSON under tests/data (TASKBELL_TEST_DATA names that folder; the test target defines it).
// A case is one row; // comments say why a row is there when it is not obvious.

#include <string>

#include "core/base/json_util.h"
#include "temp_dir.h"

namespace taskbell::test {

inline Json testData(const std::string& name)
{
    return Json::parse(readFile(std::string(TASKBELL_TEST_DATA) + "/" + name), nullptr, true, true);
}

// Bytes that JSON text cannot hold: every {xHH} in the text becomes the byte 0xHH.
inline std::string withBytes(std::string text)
{
    for (std::size_t at = 0; (at = text.find("{x", at)) != std::string::npos && at + 5 <= text.size(); ++at) {
        if (text[at + 4] == '}') {
            text.replace(at, 5, 1, static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16)));
        }
    }
    return text;
}

// A text in a data file: a string, or a list of pieces, each a string or [string, times] for a repeated one.
inline std::string textOf(const Json& value)
{
    if (value.is_string()) {
        return value;
    }
    std::string text;
    for (const Json& piece : value) {
        const std::string part = piece.is_string() ? piece : piece[0];
        for (int i = 0, times = piece.is_string() ? 1 : piece[1].get<int>(); i < times; ++i) {
            text += part;
        }
    }
    return text;
}

// The text with every `placeholder` replaced by `value`.
inline std::string fillIn(std::string text, const std::string& placeholder, const std::string& value)
{
    for (std::size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos; at += value.size()) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

} // namespace taskbell::test
