// Bounds on what text and answers from outside may cost or carry: the sanitiser for text from Jira and the
// budget of a parsed Jira answer. (What a tool shows of hostile text is the MCP hardening test's.)
#include <functional>

#include <gtest/gtest.h>

#include "core/base/json_util.h"
#include "core/base/text_util.h"
#include "core/jira/body.h"
#include "core/jira/error.h"
#include "core/jira/models.h"
#include "failure.h"
#include "test_data.h"

using namespace taskbell;

TEST(SanitizeText, ReplacesControlsOverridesAndBrokenBytes)
{
    for (const Json& row : test::testData("jira/sanitize.json")) {
        EXPECT_EQ(sanitizeText(test::withBytes(row[0])), row[1]) << row[0];
    }
}

TEST(JiraBody, DescriptionsBeyondTheBudgetEndInAnEllipsis)
{
    auto page = [](int issues, const std::string& text) { // two paragraphs of one text each
        Json paragraph = {{"type", "paragraph"}, {"content", {{{"type", "text"}, {"text", text}}}}};
        Json issue = {{"id", "1"},
                      {"key", "TB-1"},
                      {"fields",
                       {{"status", {{"name", "Open"}, {"description", "a status has one too"}}},
                        {"description", {{"type", "doc"}, {"content", {paragraph, paragraph}}}}}}};
        return Json{{"issues", std::vector<Json>(issues, issue)}}.dump();
    };
    const Json rows = test::testData("jira/budgets.json");
    for (const Json& row : rows) {
        // The search pages decoded from their text, and a body parsed to a document tree first.
        const BodyBudget given{row[0][0].get<std::size_t>(), row[0][1].get<std::size_t>(), 1000};
        const std::string text = row[1];
        BodyBudget budget = given;
        for (const EnhancedSearchResponse& response :
             {SearchPages(given).enhanced(page(2, text)),
              decodeEnhancedSearchResponse(parseJiraBody(page(2, text), budget))}) {
            ASSERT_EQ(response.issues.size(), 2u);
            EXPECT_EQ(response.issues[0].descriptionText(), row[2][0]) << row;
            EXPECT_EQ(response.issues[1].descriptionText(), row[2][1]) << row;
        }
    }
    // Pages of one search draw on one budget: the second page gets what the first left.
    SearchPages pages(BodyBudget{11, 100, 1000});
    pages.enhanced(page(1, "ab"));
    EXPECT_EQ(pages.remaining().descriptionNodes, 4u);
    EXPECT_EQ(pages.enhanced(page(1, "ab")).issues[0].descriptionText(), "ab\n\u2026");

    // An integer past 64 bits is valid JSON: the page still decodes, within the same budget.
    EXPECT_EQ(SearchPages().enhanced(R"({"issues":[],"huge":100000000000000000000000,"isLast":true})").isLast, true);
    for (const std::string& broken : {std::string("{\"issues\":[}"), std::string("{\"issues\":[]} {}"),
                                      std::string(600, '[') + std::string(600, ']')}) {
        EXPECT_THROW(parseJiraBody(broken), JiraError) << broken;
        EXPECT_THROW(SearchPages().enhanced(broken), JiraError) << broken;
    }
    const std::string overValues = "[[{},{},{},{},{},{},{},{},{},{},{}]]";
    const std::string tooMany = "Could not read Jira's response: The response holds more than 10 values.";
    BodyBudget few{100, 100, 10};
    EXPECT_EQ(test::failure<JiraError>([&] { parseJiraBody(overValues, few); }), tooMany);
    EXPECT_EQ(test::failure<JiraError>([&] { SearchPages(BodyBudget{100, 100, 10}).enhanced(overValues); }), tooMany);
}

TEST(MessageValues, AreCountedBeforeAnythingIsBuilt)
{
    for (const auto& [text, count] : std::vector<std::pair<std::string, std::size_t>>{
             {"1", 1}, {"[1,2,3]", 4}, {R"({"a":"[,{,","b":[{}]})", 5}, {R"(["\"[,", 2])", 3}}) {
        EXPECT_EQ(jsonValueCount(text), count) << text;
    }
    EXPECT_TRUE(parseJson("[1,2,3]", 8, 4));
    EXPECT_FALSE(parseJson("[1,2,3]", 8, 3));
}
