// The fixed texts of JiraError are checked where they are shown (client_test.cpp, the MCP tools' tests);
// here what only this layer decides: how much of a body an HTTP error quotes, and errorText's fallbacks.
#include <stdexcept>

#include <gtest/gtest.h>

#include "core/jira/error.h"
#include "core/jira/error_text.h"

using namespace taskbell;

namespace {

std::string repeat(std::string_view piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

} // namespace

TEST(JiraError, OtherCodesQuoteTheFirst300UserVisibleCharacters)
{
    const std::string prefix = "Jira returned HTTP 500. ";
    // A letter with a combining accent, an emoji family joined by zero-width joiners, a flag, Hangul jamo and
    // CR LF each count once and are never cut.
    for (std::string_view cluster : {"x", "e\u0301", "\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466",
                                     "\U0001F1F5\U0001F1F9", "\u1100\u1161\u11A8", "\r\n", "\u00e9"}) {
        SCOPED_TRACE(std::string(cluster));
        EXPECT_EQ(JiraError::http(500, repeat(cluster, 301)).what(), prefix + repeat(cluster, 300));
        EXPECT_EQ(JiraError::http(500, repeat(cluster, 300)).what(), prefix + repeat(cluster, 300));
        EXPECT_EQ(JiraError::http(500, repeat(cluster, 299)).what(), prefix + repeat(cluster, 299));
    }
    std::string mixed = repeat("a", 299) + "o\u0308\u0323\u0301" + "b";
    EXPECT_EQ(JiraError::http(500, mixed).what(), prefix + repeat("a", 299) + "o\u0308\u0323\u0301");
    // Bodies that are not UTF-8 arrive as empty text; should one slip through, no broken bytes are quoted.
    EXPECT_EQ(JiraError::http(500, "\xff\xfe<html>").what(), prefix);
}

TEST(ErrorText, JiraErrorsGiveTheirDescriptionOthersTheirOwnText)
{
    JiraError unauthorized = JiraError::http(401, "");
    const std::pair<std::exception_ptr, std::string> cases[] = {
        {std::make_exception_ptr(unauthorized), unauthorized.what()},
        {std::make_exception_ptr(JiraError::badURL()), "The Jira base URL looks invalid."},
        {std::make_exception_ptr(std::runtime_error("Disk full")), "Disk full"},
        {std::make_exception_ptr(42), "The operation couldn’t be completed."},
        {nullptr, "The operation couldn’t be completed."},
    };
    for (const auto& [error, text] : cases) {
        EXPECT_EQ(errorText(error), text);
    }
}
