// Bounds on what text and answers from outside may cost or carry: the sanitiser for text from Jira, the
// budget of a parsed Jira answer, and the line limit of a description sent to Jira.
#include <functional>

#include <gtest/gtest.h>

#include "core/base/json_util.h"
#include "core/base/text_util.h"
#include "core/jira/adf.h"
#include "core/jira/body.h"
#include "core/jira/error.h"
#include "core/jira/models.h"

using namespace taskbell;

TEST(SanitizeText, ReplacesControlsOverridesAndBrokenBytes)
{
    struct Case
    {
        std::string in;
        std::string out;
    };
    const std::string r = "\uFFFD";
    for (const Case& c : std::vector<Case>{
             {"plain text, tabs\tand\nline feeds", "plain text, tabs\tand\nline feeds"},
             {"clear\x1b[2Jscreen", "clear" + r + "[2Jscreen"},
             {"\x1b]0;title\x07", r + "]0;title" + r},
             {std::string("nul\0byte", 8), "nul" + r + "byte"},
             {"crlf\r\nends, lone\rreturn", "crlf\nends, lone" + r + "return"},
             {"del\x7f and C1 \u0085\u009b", "del" + r + " and C1 " + r + r},
             {"\u202Aa\u202Bb\u202Cc\u202Dd\u202Ee", r + "a" + r + "b" + r + "c" + r + "d" + r + "e"},
             {"\u2066x\u2067y\u2068z\u2069", r + "x" + r + "y" + r + "z" + r},
             {"kept: \u200F\u2028 \u00e9 \U0001F600", "kept: \u200F\u2028 \u00e9 \U0001F600"},
             {"bad \xff\xfe bytes \xe2\x82", "bad " + r + r + " bytes " + r + r},
         }) {
        EXPECT_EQ(sanitizeText(c.in), c.out) << c.in;
    }
}

TEST(JiraText, DecodedRecordsAndErrorExcerptsAreSanitised)
{
    Json issue = {{"id", "1\x1b"},
                  {"key", "TB-1"},
                  {"fields",
                   {{"summary", "a\x1b[31mred"},
                    {"status", {{"name", "Done\u202E"}}},
                    {"assignee", {{"displayName", "Eve\x07"}}},
                    {"description",
                     {{"type", "doc"},
                      {"content", {{{"type", "paragraph"}, {"content", {{{"type", "text"}, {"text", "x\ry"}}}}}}}}}}}};
    Issue decoded = decodeIssue(issue);
    EXPECT_EQ(decoded.id, "1\uFFFD");
    EXPECT_EQ(decoded.fields.summary, "a\uFFFD[31mred");
    EXPECT_EQ(decoded.fields.status->name, "Done\uFFFD");
    EXPECT_EQ(decoded.fields.assignee->displayName, "Eve\uFFFD");
    EXPECT_EQ(decoded.descriptionText(), "x\uFFFDy");
}

TEST(JiraBody, DescriptionsBeyondTheBudgetEndInAnEllipsis)
{
    auto page = [](int issues, int nodesEach, const std::string& text) {
        Json list = Json::array();
        for (int i = 0; i < issues; ++i) {
            Json content = Json::array();
            for (int n = 0; n < nodesEach; ++n) {
                content.push_back({{"type", "paragraph"}, {"content", {{{"type", "text"}, {"text", text}}}}});
            }
            list.push_back({{"id", std::to_string(i)},
                            {"key", "TB-" + std::to_string(i)},
                            {"fields",
                             {{"summary", "s"},
                              {"status", {{"name", "Open"}, {"description", "a status has one too"}}},
                              {"description", {{"type", "doc"}, {"content", std::move(content)}}}}}});
        }
        return Json{{"issues", std::move(list)}}.dump();
    };
    struct Case
    {
        std::string name;
        BodyBudget budget;
        std::string body;
        std::vector<std::string> descriptions; // flattened, per issue
    };
    for (const Case& c : std::vector<Case>{
             {"within the budget", {100, 100, 1000}, page(2, 2, "ab"), {"ab\nab", "ab\nab"}},
             // Two nodes per paragraph: the second issue's description runs out after one paragraph.
             {"out of nodes", {11, 100, 1000}, page(2, 2, "ab"), {"ab\nab", "ab\n\u2026"}},
             {"out of nodes at once", {7, 100, 1000}, page(2, 2, "ab"), {"ab\nab", "\u2026"}},
             // Never half a character: the second text keeps nothing of its first two-byte letter.
             {"out of text", {100, 5, 1000}, page(2, 2, "\u00e9\u00e9"), {"\u00e9\u00e9\n\u2026", "\u2026"}},
         }) {
        SCOPED_TRACE(c.name);
        // The search pages decoded from their text, and a body parsed to a document tree first.
        BodyBudget budget = c.budget;
        for (const EnhancedSearchResponse& response :
             {SearchPages(c.budget).enhanced(c.body), decodeEnhancedSearchResponse(parseJiraBody(c.body, budget))}) {
            ASSERT_EQ(response.issues.size(), c.descriptions.size());
            for (std::size_t i = 0; i < c.descriptions.size(); ++i) {
                EXPECT_EQ(response.issues[i].descriptionText(), c.descriptions[i]);
            }
        }
    }

    // Pages of one search draw on one budget: the second page gets what the first left.
    SearchPages pages(BodyBudget{11, 100, 1000});
    pages.enhanced(page(1, 2, "ab"));
    EXPECT_EQ(pages.remaining().descriptionNodes, 4u);
    EXPECT_EQ(pages.enhanced(page(1, 2, "ab")).issues[0].descriptionText(), "ab\n\u2026");
    BodyBudget shared{11, 100, 1000};
    parseJiraBody(page(1, 2, "ab"), shared);
    EXPECT_EQ(shared.descriptionNodes, 4u);

    // An integer past 64 bits is valid JSON: the page still decodes, within the same budget.
    EXPECT_EQ(SearchPages().enhanced(R"({"issues":[],"huge":100000000000000000000000,"isLast":true})").isLast, true);
    for (const std::string& broken :
         {std::string("{\"issues\":[}"), std::string("{\"issues\":[],\"x\":tru}"), std::string("{\"issues\":[]} {}"),
          std::string(600, '[') + std::string(600, ']')}) {
        EXPECT_THROW(parseJiraBody(broken), JiraError) << broken;
        EXPECT_THROW(SearchPages().enhanced(broken), JiraError) << broken;
    }

    const std::string overValues = "[[{},{},{},{},{},{},{},{},{},{},{}]]";
    for (const auto& read :
         std::vector<std::function<void()>>{[&] {
                                                BodyBudget few{100, 100, 10};
                                                parseJiraBody(overValues, few);
                                            },
                                            [&] {
                                                SearchPages(BodyBudget{100, 100, 10}).enhanced(overValues);
                                            }}) {
        try {
            read();
            FAIL() << "a body over the value budget was accepted";
        } catch (const JiraError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Could not read Jira's response: The response holds more than 10 values.");
        }
    }
}

TEST(MessageValues, AreCountedBeforeAnythingIsBuilt)
{
    struct Case
    {
        std::string text;
        std::size_t count;
    };
    for (const Case& c :
         std::vector<Case>{{"1", 1}, {"[1,2,3]", 4}, {R"({"a":"[,{,","b":[{}]})", 5}, {R"(["\"[,", 2])", 3}}) {
        EXPECT_EQ(jsonValueCount(c.text), c.count) << c.text;
    }
    EXPECT_TRUE(parseJson("[1,2,3]", 8, 4));
    EXPECT_FALSE(parseJson("[1,2,3]", 8, 3));
}

TEST(PlainTextToADF, RefusesMoreLinesThanJiraKeeps)
{
    std::string lines;
    for (std::size_t i = 0; i < ADF::maxLines; ++i) {
        lines += "- a\n\n";
    }
    EXPECT_TRUE(ADF::documentFromPlainText(lines));
    try {
        ADF::documentFromPlainText(lines + "b");
        FAIL() << "accepted too many lines";
    } catch (const ADF::TooManyLines& error) {
        EXPECT_EQ(std::string(error.what()),
                  "The description is too long for Jira \u2014 it has more than 20,000 lines.");
    }
}
