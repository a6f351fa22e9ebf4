#include <gtest/gtest.h>
#include <pthread.h>

#include "core/jira/adf.h"
#include "core/jira/date.h"
#include "core/jira/models.h"
#include "failure.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace std::chrono;

namespace {

Json fixture(const std::string& name)
{
    auto json = parseJson(test::readFile(std::string(TASKBELL_TEST_DATA) + "/jira/" + name), kResponseDepthLimit);
    if (!json) {
        throw std::runtime_error("fixture " + name + " missing or not JSON");
    }
    return *json;
}

// The decoder's message for a document, or "" when it decodes.
template <typename Decode> std::string failure(Decode decode, std::string_view text)
{
    return test::failure<DecodeError>([&] { decode(*parseJson(text, kResponseDepthLimit)); });
}

std::string page(std::string_view issues)
{
    return R"({"issues":[)" + std::string(issues) + R"(],"isLast":true})";
}

const std::string kGoodIssue = R"({"id":"1","key":"A-1","fields":{"summary":"ok"}})";

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
    EnhancedSearchResponse response = decodeEnhancedSearchResponse(fixture("search_page.json"));
    ASSERT_EQ(response.issues.size(), 3u);
    EXPECT_EQ(response.nextPageToken, "Ch0jU3RyaW5nJlZFVk5VQT09JUludCZNelUx");
    EXPECT_EQ(response.isLast, false);

    const Issue& done = response.issues[0];
    EXPECT_EQ(done.id, "10240");
    EXPECT_EQ(done.key, "ORCA-415");
    EXPECT_EQ(done.fields.status, (IssueStatus{"Done", StatusCategory{"done", "Done"}}));
    EXPECT_EQ(done.fields.priority, Priority{"Medium"});
    EXPECT_EQ(done.fields.issuetype, (IssueType{"Task", "https://orca.atlassian.net/task.svg"}));
    EXPECT_EQ(done.fields.project, (ProjectRef{"ORCA", "Orca Platform"}));
    EXPECT_EQ(done.fields.assignee, (JiraUser{"712020:4f1c-aa01", "Ana Pereira", std::nullopt}));
    EXPECT_EQ(done.fields.duedate, std::nullopt);
    EXPECT_EQ(done.descriptionText(), "Draft first.\nThen ask\n\u2022 Changelog\n\u2022 Upgrade guide");
    EXPECT_EQ(done.sortDate(), sys_days{2026y / 6 / 19} + 15h + 30min); // the resolution date

    // Nulls are absent; a status category outside new/indeterminate/done still decodes.
    const Issue& triage = response.issues[1];
    EXPECT_EQ(triage.fields.status->statusCategory->key, "undefined");
    EXPECT_EQ(triage.fields.priority, std::nullopt);
    EXPECT_EQ(triage.fields.assignee, std::nullopt);
    EXPECT_EQ(triage.fields.description, std::nullopt);
    EXPECT_EQ(triage.fields.duedate, "2026-07-15");
    EXPECT_EQ(triage.descriptionText(), std::nullopt);
    EXPECT_EQ(triage.sortDate(), sys_days{2026y / 7 / 8} + 8h + 12min + 33s + 123ms); // updated: no resolution

    // Only a summary: every other field absent; no dates sorts as the distant past.
    const Issue& bare = response.issues[2];
    IssueFields onlySummary;
    onlySummary.summary = "Tidy the backlog";
    EXPECT_EQ(bare.fields, onlySummary);
    EXPECT_EQ(bare.sortDate(), JiraDate::distantPast);
    EXPECT_LT(bare.sortDate(), triage.sortDate());
}

TEST(JiraModels, RichDescriptionFlattensAndCountsAttachments)
{
    Json raw = fixture("issue_rich.json");
    Issue issue = decodeIssue(raw);
    EXPECT_EQ(issue.key, "ORCA-412");
    EXPECT_EQ(issue.descriptionText(), "Why\n"
                                       "Ask  about the old keys\n"
                                       "See  by\n"
                                       "\u2022 Generate new keys\n"
                                       "  \u2022 Ed25519 for releases\n"
                                       "  \u2022 RSA for the old agents\n"
                                       "    (until they are retired)\n"
                                       "\u2022 Publish the fingerprints\n"
                                       "\u2022 Revoke\n"
                                       "keytool -list\nkeytool -delete\n"
                                       "Keys older than a year must go.\n"
                                       "Key\nOwner\nrelease\nAna\n"
                                       "Screenshot:\n"
                                       "Hidden part\n"
                                       "Tell security");
    // The mention keeps its type and nothing else: its visible text lives in attributes.
    const ADFNode& mention = (*(*issue.fields.description->content)[1].content)[1];
    EXPECT_EQ(mention, (ADFNode{"mention", std::nullopt, std::nullopt}));
    EXPECT_EQ(ADF::attachmentNodeCount(raw["fields"]["description"]), 6u);
    EXPECT_EQ(issue.sortDate(), sys_days{2026y / 7 / 8} + 8h + 12min + 33s + 123ms);
}

TEST(JiraModels, TransitionsUsersAndCreatedIssues)
{
    TransitionsResponse response = decodeTransitionsResponse(fixture("transitions.json"));
    ASSERT_EQ(response.transitions.size(), 4u);
    EXPECT_EQ(response.transitions[1],
              (Transition{"21", "Start work", TransitionTarget{"Doing", StatusCategory{"indeterminate", "En cours"}}}));
    EXPECT_EQ(response.transitions[3], (Transition{"41", "Reopen", std::nullopt})); // no "to"

    JiraUser me = decodeJiraUser(*parseJson(
        R"({"accountId":"712020:4f1c-aa01","emailAddress":null,"displayName":"Ana Pereira","active":true,
            "avatarUrls":{"48x48":"https://a/48"},"locale":"en_US"})",
        kResponseDepthLimit));
    EXPECT_EQ(me, (JiraUser{"712020:4f1c-aa01", "Ana Pereira", std::nullopt}));

    CreatedIssue created = decodeCreatedIssue(
        *parseJson(R"({"id":"10240","key":"ORCA-8","self":"https://orca.atlassian.net/rest/api/3/issue/10240"})",
                   kResponseDepthLimit));
    EXPECT_EQ(created.id, "10240");
    EXPECT_EQ(created.key, "ORCA-8");
    EXPECT_EQ(failure(decodeCreatedIssue, R"({"id":"10240"})"), "key: required member is missing");
    EXPECT_EQ(failure(decodeCreatedIssue, R"({"id":10240,"key":"ORCA-8"})"), "id: expected a string, got number");
    EXPECT_EQ(failure(decodeTransitionsResponse, R"({"transitions":[{"name":"x"}]})"),
              "transitions[0].id: required member is missing");
    EXPECT_EQ(failure(decodeTransitionsResponse, R"({"transitions":[{"id":"1","to":"Done"}]})"),
              "transitions[0].to: expected an object, got string");
}

TEST(JiraModels, StrictTypesFailTheWholeDocument)
{
    struct Case
    {
        std::string document;
        std::string message;
    };
    const std::vector<Case> cases{
        // A wrong-typed optional field in one issue fails the page, and the message says where.
        {page(kGoodIssue + "," + kGoodIssue + "," + kGoodIssue + R"(,{"id":"4","key":"A-4","fields":{"summary":42}})"),
         "issues[3].fields.summary: expected a string, got number"},
        {page(R"({"id":10231,"key":"A-1","fields":{}})"), "issues[0].id: expected a string, got number"},
        {page(R"({"id":"1","key":null,"fields":{}})"), "issues[0].key: expected a string, got null"},
        {page(R"({"id":"1","key":"A-1"})"), "issues[0].fields: required member is missing"},
        {page(R"({"id":"1","key":"A-1","fields":null})"), "issues[0].fields: expected an object, got null"},
        {page(R"("A-1")"), "issues[0]: expected an object, got string"},
        {page(R"({"id":"1","key":"A-1","fields":{"status":{"statusCategory":{"key":4}}}})"),
         "issues[0].fields.status.statusCategory.key: expected a string, got number"},
        {page(R"({"id":"1","key":"A-1","fields":{"assignee":[]}})"),
         "issues[0].fields.assignee: expected an object, got array"},
        {page(R"({"id":"1","key":"A-1","fields":{"duedate":false}})"),
         "issues[0].fields.duedate: expected a string, got boolean"},
        // The page itself.
        {R"({"isLast":true})", "issues: required member is missing"},
        {R"({"issues":null})", "issues: expected an array, got null"},
        {R"({"issues":{}})", "issues: expected an array, got object"},
        {R"({"issues":[],"isLast":"true"})", "isLast: expected true or false, got string"},
        {R"({"issues":[],"isLast":1})", "isLast: expected true or false, got number"},
        {R"({"issues":[],"nextPageToken":7})", "nextPageToken: expected a string, got number"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure(decodeEnhancedSearchResponse, c.document), c.message) << c.document;
    }
    EXPECT_EQ(failure(decodeJiraUser, "[]"), "expected an object, got array");

    EnhancedSearchResponse empty = decodeEnhancedSearchResponse(*parseJson(R"({"issues":[],"nextPageToken":null})", 8));
    EXPECT_TRUE(empty.issues.empty());
    EXPECT_EQ(empty.nextPageToken, std::nullopt);
    EXPECT_EQ(empty.isLast, std::nullopt);
}

TEST(JiraModels, IntegersAreWholeJsonIntegersInRange)
{
    auto old = [](std::string_view members) {
        return decodeClassicSearchResponse(*parseJson(R"({"issues":[])" + std::string(members) + "}", 8));
    };
    ClassicSearchResponse response = old(R"(,"startAt":0,"maxResults":100,"total":9223372036854775807)");
    EXPECT_EQ(response.startAt, 0);
    EXPECT_EQ(response.maxResults, 100);
    EXPECT_EQ(response.total, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(old(R"(,"total":-1,"startAt":null)").total, -1);
    EXPECT_EQ(old("").startAt, std::nullopt);

    auto oldFailure = [](std::string_view members) {
        return failure(decodeClassicSearchResponse, R"({"issues":[])" + std::string(members) + "}");
    };
    EXPECT_EQ(oldFailure(R"(,"startAt":1.0)"), "startAt: expected an integer, got number 1.0");
    EXPECT_EQ(oldFailure(R"(,"total":1e2)"), "total: expected an integer, got number 100.0");
    EXPECT_EQ(oldFailure(R"(,"total":9223372036854775808)"), "total: expected an integer, got a number out of range");
    EXPECT_EQ(oldFailure(R"(,"maxResults":"50")"), "maxResults: expected an integer, got string");
    EXPECT_EQ(oldFailure(R"(,"maxResults":true)"), "maxResults: expected an integer, got boolean");
    EXPECT_EQ(failure(decodeClassicSearchResponse, R"({"startAt":0})"), "issues: required member is missing");
}

TEST(JiraModels, NullAndMissingAreBothAbsent)
{
    auto fields = [](std::string_view members) {
        return decodeIssue(*parseJson(R"({"id":"1","key":"A-1","fields":{)" + std::string(members) + "}}", 16)).fields;
    };
    EXPECT_EQ(fields(R"("description":null,"assignee":null,"summary":null)"), IssueFields{});
    EXPECT_EQ(fields(""), IssueFields{});
    IssueFields emptyStatus;
    emptyStatus.status = IssueStatus{};
    EXPECT_EQ(fields(R"("status":{},"unknown":{"deep":[1,2,3]})"), emptyStatus);
    EXPECT_EQ(fields(R"("description":{"type":"doc","version":1,"content":null})").description,
              (ADFNode{"doc", std::nullopt, std::nullopt}));
}

TEST(JiraModels, DescriptionNodesDecodeStrictlyWithTheirPath)
{
    auto issueWith = [](std::string_view description) {
        return R"({"id":"1","key":"A-1","fields":{"description":)" + std::string(description) + "}}";
    };
    for (const auto& [description, message] : std::vector<std::pair<std::string, std::string>>{
             {R"({"type":"doc","content":{}})", "fields.description.content: expected an array, got object"},
             {R"({"type":"doc","content":[{"type":"rule"},"text"]})",
              "fields.description.content[1]: expected an object, got string"},
             {R"({"type":"doc","content":[{"type":"paragraph","content":[{},{},{"type":"text","text":true}]}]})",
              "fields.description.content[0].content[2].text: expected a string, got boolean"},
             {R"({"type":1})", "fields.description.type: expected a string, got number"}}) {
        EXPECT_EQ(failure(decodeIssue, issueWith(description)), message) << description;
    }

    Json node = *parseJson(R"({"type":"paragraph","content":[{"type":"text","text":"a","marks":[{"type":"em"}]},
                                {"type":"hardBreak"},{"text":"loose"}]})",
                           16);
    EXPECT_EQ(decodeADFNode(node), (ADFNode{"paragraph", std::nullopt,
                                            std::vector<ADFNode>{{"text", "a", std::nullopt},
                                                                 {"hardBreak", std::nullopt, std::nullopt},
                                                                 {std::nullopt, "loose", std::nullopt}}}));
}

TEST(JiraModels, DeepDescriptionsStayOffTheStack)
{
    // As deep as the response depth cap allows: nested list items around one text.
    const int levels = static_cast<int>(kResponseDepthLimit) / 2 - 4;
    std::string text = R"({"id":"1","key":"A-1","fields":{"description":)";
    for (int i = 0; i < levels; ++i) {
        text += R"({"type":"listItem","content":[)";
    }
    text += R"({"type":"text","text":"bottom"})";
    for (int i = 0; i < levels; ++i) {
        text += "]}";
    }
    text += "}}";
    auto json = parseJson(text, kResponseDepthLimit);
    ASSERT_TRUE(json);
    std::optional<std::string> flattened;
    bool equal = false;
    onSmallStack([&] {
        Issue issue = decodeIssue(*json);
        Issue copy = issue;
        equal = copy == issue;
        flattened = copy.descriptionText();
    });
    EXPECT_TRUE(equal);
    ASSERT_TRUE(flattened);
    EXPECT_EQ(*flattened, std::string(2 * (levels - 1), ' ') + "\u2022 bottom");

    // A tree built in memory past any parser cap is refused, not walked into a stack overflow.
    Json deep = Json{{"type", "text"}, {"text", "x"}};
    for (int i = 0; i < 5000; ++i) {
        deep = Json{{"type", "listItem"}, {"content", Json::array({std::move(deep)})}};
    }
    EXPECT_THROW(decodeADFNode(deep), DecodeError);
}
