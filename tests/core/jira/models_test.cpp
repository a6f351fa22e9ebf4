#include <gtest/gtest.h>
#include <pthread.h>

#include "core/jira/adf.h"
#include "core/jira/date.h"
#include "core/jira/models.h"
#include "failure.h"
#include "test_data.h"

using namespace taskbell;
using namespace std::chrono;

namespace {

Json json(std::string_view text)
{
    return parseJson(text, kResponseDepthLimit).value();
}

// Runs `work` on a thread with a deliberately small stack, like a pool worker might have.
void onSmallStack(const std::function<void()>& work)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

} // namespace

TEST(JiraModels, DecodesARealSearchPage)
{
    EnhancedSearchResponse response = decodeEnhancedSearchResponse(test::testData("jira/search_page.json"));
    ASSERT_EQ(response.issues.size(), 3u);
    EXPECT_EQ(response.nextPageToken, "Ch0jU3RyaW5nJlZFVk5VQT09JUludCZNelUx");
    EXPECT_EQ(response.isLast, false);

    const Issue& done = response.issues[0];
    EXPECT_EQ(done.id + " " + done.key, "10240 ORCA-415");
    EXPECT_EQ(done.fields.status, (IssueStatus{"Done", StatusCategory{"done", "Done"}}));
    EXPECT_EQ(done.fields.priority, Priority{"Medium"});
    EXPECT_EQ(done.fields.issuetype, (IssueType{"Task", "https://orca.atlassian.net/task.svg"}));
    EXPECT_EQ(done.fields.project, (ProjectRef{"ORCA", "Orca Platform"}));
    EXPECT_EQ(done.fields.assignee, (JiraUser{"712020:4f1c-aa01", "Ana Pereira", std::nullopt}));
    EXPECT_EQ(done.descriptionText(), "Draft first.\nThen ask\n\u2022 Changelog\n\u2022 Upgrade guide");
    EXPECT_EQ(done.sortDate(), sys_days{2026y / 6 / 19} + 15h + 30min); // the resolution date

    // Nulls are absent; a status category outside new/indeterminate/done still decodes.
    const Issue& triage = response.issues[1];
    EXPECT_EQ(triage.fields.status->statusCategory->key, "undefined");
    EXPECT_FALSE(triage.fields.priority || triage.fields.assignee || triage.fields.description);
    EXPECT_EQ(triage.fields.duedate, "2026-07-15");
    EXPECT_EQ(triage.sortDate(), sys_days{2026y / 7 / 8} + 8h + 12min + 33s + 123ms); // updated: no resolution

    // Only a summary: every other field absent; no dates sorts as the distant past.
    IssueFields onlySummary;
    onlySummary.summary = "Tidy the backlog";
    EXPECT_EQ(response.issues[2].fields, onlySummary);
    EXPECT_EQ(response.issues[2].sortDate(), JiraDate::distantPast);
}

TEST(JiraModels, RichDescriptionFlattensAndCountsAttachments)
{
    Json raw = test::testData("jira/issue_rich.json");
    Issue issue = decodeIssue(raw);
    EXPECT_EQ(issue.descriptionText(), test::readFile(std::string(TASKBELL_TEST_DATA) + "/jira/issue_rich.txt"));
    // The mention keeps its type and nothing else: its visible text lives in attributes.
    const ADFNode& mention = (*(*issue.fields.description->content)[1].content)[1];
    EXPECT_EQ(mention, (ADFNode{"mention", std::nullopt, std::nullopt}));
    EXPECT_EQ(ADF::attachmentNodeCount(raw["fields"]["description"]), 6u);
}

TEST(JiraModels, TransitionsUsersCreatedIssuesAndClassicPages)
{
    TransitionsResponse response = decodeTransitionsResponse(test::testData("jira/transitions.json"));
    ASSERT_EQ(response.transitions.size(), 4u);
    EXPECT_EQ(response.transitions[1],
              (Transition{"21", "Start work", TransitionTarget{"Doing", StatusCategory{"indeterminate", "En cours"}}}));
    EXPECT_EQ(response.transitions[3], (Transition{"41", "Reopen", std::nullopt})); // no "to"
    EXPECT_EQ(decodeJiraUser(json(R"({"accountId":"7:4f","emailAddress":null,"displayName":"Ana","active":true})")),
              (JiraUser{"7:4f", "Ana", std::nullopt}));

    // Integers are whole JSON integers in range; null is absent.
    auto classic = decodeClassicSearchResponse(json(R"({"issues":[],"maxResults":100,"total":9223372036854775807})"));
    EXPECT_EQ(classic.maxResults, 100);
    EXPECT_EQ(classic.total, std::numeric_limits<std::int64_t>::max());
    classic = decodeClassicSearchResponse(json(R"({"issues":[],"total":-1,"startAt":null})"));
    EXPECT_EQ(classic.total, -1);
    EXPECT_EQ(classic.startAt, std::nullopt);
    EnhancedSearchResponse empty = decodeEnhancedSearchResponse(json(R"({"issues":[],"nextPageToken":null})"));
    EXPECT_TRUE(empty.issues.empty() && !empty.nextPageToken && !empty.isLast);
}

// A wrong-typed member anywhere fails the whole document, and the message says where.
TEST(JiraModels, StrictTypesFailTheWholeDocumentWithThePath)
{
    const std::map<std::string, std::function<void(const Json&)>> decoders{
        {"enhancedSearch", [](const Json& j) { decodeEnhancedSearchResponse(j); }},
        {"classicSearch", [](const Json& j) { decodeClassicSearchResponse(j); }},
        {"issue", [](const Json& j) { decodeIssue(j); }},
        {"createdIssue", [](const Json& j) { decodeCreatedIssue(j); }},
        {"transitions", [](const Json& j) { decodeTransitionsResponse(j); }},
        {"user", [](const Json& j) { decodeJiraUser(j); }},
    };
    for (const Json& row : test::testData("jira/decode_errors.json")) {
        EXPECT_EQ(test::failure<DecodeError>([&] { decoders.at(row[0])(row[1]); }), row[2]) << row[1];
    }
}

TEST(JiraModels, NullAndMissingAreBothAbsent)
{
    auto fields = [](std::string_view members) {
        return decodeIssue(json(R"({"id":"1","key":"A-1","fields":{)" + std::string(members) + "}}")).fields;
    };
    EXPECT_EQ(fields(R"("description":null,"assignee":null,"summary":null)"), IssueFields{});
    EXPECT_EQ(fields(R"("status":{},"unknown":{"deep":[1,2,3]})").status, IssueStatus{});
    EXPECT_EQ(fields(R"("description":{"type":"doc","version":1,"content":null})").description,
              (ADFNode{"doc", std::nullopt, std::nullopt}));
    EXPECT_EQ(decodeADFNode(json(R"({"type":"paragraph","content":[{"type":"text","text":"a","marks":[{"type":"em"}]},
                                     {"type":"hardBreak"},{"text":"loose"}]})")),
              (ADFNode{"paragraph", std::nullopt,
                       std::vector<ADFNode>{{"text", "a", std::nullopt},
                                            {"hardBreak", std::nullopt, std::nullopt},
                                            {std::nullopt, "loose", std::nullopt}}}));
}

TEST(JiraModels, DeepDescriptionsStayOffTheStack)
{
    // As deep as the response depth cap allows: nested list items around one text.
    const int levels = static_cast<int>(kResponseDepthLimit) / 2 - 4;
    std::string open, close;
    for (int i = 0; i < levels; ++i) {
        open += R"({"type":"listItem","content":[)";
        close += "]}";
    }
    Json parsed = json(R"({"id":"1","key":"A-1","fields":{"description":)" + open +
                       R"({"type":"text","text":"bottom"})" + close + "}}");
    std::optional<std::string> flattened;
    bool equal = false;
    onSmallStack([&] {
        Issue issue = decodeIssue(parsed);
        Issue copy = issue;
        equal = copy == issue;
        flattened = copy.descriptionText();
    });
    EXPECT_TRUE(equal);
    EXPECT_EQ(flattened, std::string(2 * (levels - 1), ' ') + "\u2022 bottom");

    // A tree built in memory past any parser cap is refused, not walked into a stack overflow.
    Json deep = Json{{"type", "text"}, {"text", "x"}};
    for (int i = 0; i < 5000; ++i) {
        deep = Json{{"type", "listItem"}, {"content", Json::array({std::move(deep)})}};
    }
    EXPECT_THROW(decodeADFNode(deep), DecodeError);
}
