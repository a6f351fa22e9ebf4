#include <gtest/gtest.h>

#include "core/jira/error.h"

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

std::string httpText(int status, const std::string& body)
{
    return JiraError::http(status, body).what();
}

} // namespace

TEST(JiraError, FixedTextsAndPayloads)
{
    EXPECT_STREQ(JiraError::notConfigured().what(),
                 "Jira is not configured. Open Settings and enter your site, email and API token.");
    EXPECT_STREQ(JiraError::badURL().what(), "The Jira base URL looks invalid.");
    EXPECT_STREQ(JiraError::network("Timeout was reached").what(), "Network error: Timeout was reached");
    EXPECT_STREQ(JiraError::decoding("issues[3].fields.summary: expected a string, got number").what(),
                 "Could not read Jira's response: issues[3].fields.summary: expected a string, got number");
    EXPECT_STREQ(JiraError::noTransition("Done").what(), "No workflow transition to Done is available for this issue.");

    JiraError error = JiraError::http(429, "slow down");
    EXPECT_EQ(error.kind(), JiraError::Kind::http);
    EXPECT_EQ(error.status(), 429);
    EXPECT_EQ(error.body(), "slow down");
    EXPECT_EQ(JiraError::noTransition("In Progress").kind(), JiraError::Kind::noTransition);
    EXPECT_EQ(JiraError::noTransition("In Progress").body(), "In Progress");

    // Caught as the standard exception, the message is still the user-facing text.
    try {
        throw JiraError::badURL();
    } catch (const std::exception& caught) {
        EXPECT_STREQ(caught.what(), "The Jira base URL looks invalid.");
    }
}

TEST(JiraError, AuthAndNotFoundDetailsIgnoreTheBody)
{
    const std::string body = R"({"errorMessages":["Issue does not exist or you do not have permission to see it."]})";
    EXPECT_EQ(httpText(401, "Client must be authenticated to access this resource."),
              "Jira returned HTTP 401. Authentication failed — check your email and API token.");
    EXPECT_EQ(httpText(403, body), "Jira returned HTTP 403. Access denied — your account may lack permission.");
    EXPECT_EQ(httpText(404, body), "Jira returned HTTP 404. Not found — check your site URL / project key.");
    EXPECT_EQ(httpText(404, ""), "Jira returned HTTP 404. Not found — check your site URL / project key.");
    // The em dashes are U+2014, not hyphens or en dashes.
    EXPECT_NE(httpText(401, "").find("\xE2\x80\x94"), std::string::npos);
}

TEST(JiraError, OtherCodesQuoteTheFirst300Characters)
{
    EXPECT_EQ(httpText(500, ""), "Jira returned HTTP 500. "); // ends in a blank
    const std::string rateLimited =
        R"({"errorMessages":["The request has been rate-limited. Please try again later."],"errors":{},"status":429})";
    EXPECT_EQ(httpText(429, rateLimited), "Jira returned HTTP 429. " + rateLimited);

    const std::string prefix = "Jira returned HTTP 502. ";
    EXPECT_EQ(httpText(502, repeat("x", 1000)), prefix + repeat("x", 300));
    EXPECT_EQ(httpText(502, repeat("x", 300)), prefix + repeat("x", 300));
    EXPECT_EQ(httpText(502, repeat("x", 299)), prefix + repeat("x", 299));

    // Characters are what the user sees: a letter with a combining accent, an emoji family joined by
    // zero-width joiners, a flag, Hangul jamo and CR LF each count once and are never cut.
    for (std::string_view cluster : {"e\u0301", "\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466",
                                     "\U0001F1F5\U0001F1F9", "\u1100\u1161\u11A8", "\r\n", "\u00e9"}) {
        SCOPED_TRACE(std::string(cluster));
        EXPECT_EQ(httpText(500, repeat(cluster, 301)), "Jira returned HTTP 500. " + repeat(cluster, 300));
        EXPECT_EQ(httpText(500, repeat(cluster, 300) + "tail"), "Jira returned HTTP 500. " + repeat(cluster, 300));
    }
    // Mixed text: 299 plain letters, then a cluster of many code points is the 300th character.
    std::string mixed = repeat("a", 299) + "o\u0308\u0323\u0301" + "b";
    EXPECT_EQ(httpText(500, mixed), "Jira returned HTTP 500. " + repeat("a", 299) + "o\u0308\u0323\u0301");

    // Bodies that are not UTF-8 arrive as empty text; should one slip through, no broken bytes are quoted.
    EXPECT_EQ(httpText(502, "\xff\xfe<html>"), "Jira returned HTTP 502. ");
}
