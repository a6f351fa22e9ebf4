// The five MCP tools, driven through the real `taskbell --mcp` process with settings in a temporary XDG
// folder, the token in the private keyring, and the fake Jira Cloud server behind them. The answers, the
// requests they send and what they leave in Jira are scenes in tests/data/mcp/tool_calls.json; no scene may
// leave the token in the process's output or in a file.
#include <algorithm>
#include <optional>

#include <gtest/gtest.h>

#include "core/activity/undo.h"
#include "core/base/encoding.h"
#include "core/platform/keychain.h"
#include "failure.h"
#include "fake_jira.h"
#include "mcp_session.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;

namespace taskbell::test {
NLOHMANN_JSON_SERIALIZE_ENUM(EndpointMode, {{EndpointMode::normal, "normal"},
                                            {EndpointMode::notFound, "notFound"},
                                            {EndpointMode::gone, "gone"},
                                            {EndpointMode::badRequest, "badRequest"}})
} // namespace taskbell::test

namespace {

const Json kFixture = testData("mcp/tool_calls.json");

// The fixture's placeholders filled in: {site} is the fake's address, "{fields}" the fields every search asks for.
Json fill(const Json& value, const FakeJira& jira)
{
    return Json::parse(
        fillIn(fillIn(value.dump(), "{site}", jira.baseUrl()), "\"{fields}\"", kFixture["fields"].dump()));
}

void saveSettings(const TempDir& config, const Json& values)
{
    writeFile(config / "com.quillet.taskbell" / "settings.json", values.dump());
}

// Issues in the fixture's order, each updated a little later than the one before, so "ORDER BY updated DESC"
// lists them newest first.
void addIssues(FakeJira& jira, const Json& issues)
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    std::int64_t updated = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() - 30'000;
    for (const Json& spec : issues) {
        for (int i = 0; i < spec.value("repeat", 1); ++i) {
            FakeIssue issue;
            issue.summary = spec["summary"];
            issue.projectKey = spec.value("project", "TB");
            issue.statusId = spec.value("status", "");
            issue.description = spec.value("description", Json());
            issue.assigneeAccountId = jira.accountId();
            issue.updated = jira.timestamp(updated += 10);
            issue.created = spec.value("created", issue.updated);
            jira.addIssue(issue);
        }
    }
}

void applySwitches(FakeJira& jira, const Json& step)
{
    const Json& switches = step.value("jira", Json::object());
    if (switches.contains("enhancedSearch")) {
        jira.setEnhancedSearch(switches["enhancedSearch"]);
    }
    if (switches.contains("classicSearch")) {
        jira.setClassicSearch(switches["classicSearch"]);
    }
    for (const Json& route : switches.value("routes", Json::array())) {
        FakeReply reply{route[2].get<int>(), route[3].get<std::string>()};
        const Json headers = route.size() > 4 ? route[4] : Json::object();
        for (const auto& [name, value] : headers.items()) {
            reply.headers.emplace_back(name, value);
        }
        jira.setRoute(route[0], route[1], [reply](const LoggedRequest&) { return reply; });
    }

    if (switches.contains("failTransition")) { // Jira refuses that one transition with a conflict
        jira.setInterceptor([id = switches["failTransition"]](const LoggedRequest& r) -> std::optional<FakeReply> {
            if (r.method == "POST" && r.json().value("transition", Json::object()).value("id", "") == id) {
                return FakeReply{409, R"({"errorMessages":["Conflict"],"errors":{}})"};
            }
            return std::nullopt;
        });
    }
}

// What someone else does between the assistant's change and its undo.
void someoneElse(const JiraClient& client, const std::string& does, const std::string& key)
{
    if (does == "renames") {
        client.updateIssue(key, "Theirs", std::nullopt);
    } else if (does == "moves") {
        client.move(key, "new");
    } else { // attaches: a description that embeds a file
        Json media = {{"type", "media"}, {"attrs", {{"type", "file"}, {"id", "6e7c"}, {"collection", ""}}}};
        Json description = {
            {"type", "doc"}, {"version", 1}, {"content", {{{"type", "mediaGroup"}, {"content", {media}}}}}};
        client.request("PUT", JiraClient::issuePath(key), Json{{"fields", {{"description", description}}}}.dump());
    }
}

void checkAnswer(const Json& step, const ToolResult& result)
{
    EXPECT_EQ(result.isError, step.contains("error") || step.contains("errorStarts"));
    if (step.contains("text") || step.contains("error")) {
        EXPECT_EQ(result.text, step.value("text", step.value("error", "")));
    } else {
        EXPECT_TRUE(result.text.starts_with(step.value("starts", step.value("errorStarts", "")))) << result.text;
    }
}

// The bodies of the requests the step sent on each named route, and the issues afterwards. No request ever
// leaves the API's folder, whatever keys Jira hands out.
void checkEffects(const FakeJira& jira, const Json& step)
{
    for (const LoggedRequest& request : jira.requests()) {
        EXPECT_TRUE(request.path().starts_with("/rest/api/3/") && request.path().find("..") == std::string::npos)
            << request.target;
    }
    const Json routes = step.value("sent", Json::object()), issues = step.value("issues", Json::object());
    for (const auto& [route, bodies] : routes.items()) {
        std::string method = route.substr(0, route.find(' '));
        Json sent = Json::array();
        for (const LoggedRequest& request : jira.requests(method, route.substr(method.size() + 1))) {
            sent.push_back(request.json());
        }
        EXPECT_EQ(sent, bodies) << route;
    }
    for (const auto& [key, expected] : issues.items()) {
        std::optional<FakeIssue> issue = jira.issue(key);
        ASSERT_TRUE(issue) << key;
        Json actual{{"summary", issue->summary},
                    {"status", jira.status(issue->statusId)->name},
                    {"issueType", issue->issueType},
                    {"description", issue->description}};
        for (const auto& [name, value] : expected.items()) {
            EXPECT_EQ(actual[name], value) << key << " " << name;
        }
    }
}

class McpTools : public ::testing::Test
{
protected:
    void TearDown() override { Keychain::set("", Keychain::kTokenAccount); }
};

// Files below the folder whose bytes contain any of the needles.
std::vector<std::string> filesContaining(const std::filesystem::path& folder, const std::vector<std::string>& needles)
{
    std::vector<std::string> hits;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string content = it->is_regular_file(ec) ? readFile(it->path()) : "";
        if (std::any_of(needles.begin(), needles.end(),
                        [&](auto& n) { return content.find(n) != std::string::npos; })) {
            hits.push_back(it->path().string());
        }
    }
    return hits;
}

// The token as stored, as sent, and as the fake's own; the fixture's other token is a marker that Jira rejects.
std::vector<std::string> secrets(const FakeJira& jira, const std::string& stored)
{
    return {stored, jira.token(), base64Encode(jira.email() + ":" + stored),
            base64Encode(jira.email() + ":" + jira.token())};
}

// Each journal entry as written, with its text, whether it can be undone and whether it was.
void checkJournal(const Activity::Journal& journal, const Json& expected)
{
    std::vector<Activity::Entry> entries = journal.read();
    EXPECT_EQ(entries.size(), expected.is_null() ? entries.size() : expected.size());
    for (std::size_t i = 0; i < std::min(entries.size(), expected.size()); ++i) {
        Json actual = toJson(entries[i]);
        actual["text"] = entryText(entries[i]);
        actual["undoable"] = canUndo(entries[i]);
        actual["undone"] = entries[i].undone;
        for (const auto& [name, value] : expected[i].items()) {
            EXPECT_EQ(actual[name], value) << "journal entry " << i << " " << name;
        }
    }
}

std::string storedToken(const FakeJira& jira, const Json& token)
{
    return token.is_string() ? token.get<std::string>() : token.get<bool>() ? jira.token() : "";
}

} // namespace

TEST_F(McpTools, ScenesAnswerAndSendExactlyWhatTheFixtureSaysAndNeverLeakTheToken)
{
    std::vector<std::string> all; // every secret seen so far
    for (const Json& scene : kFixture["scenes"]) {
        SCOPED_TRACE(scene["name"].get<std::string>());
        FakeJira jira;
        TempDir config;
        addIssues(jira, scene.value("issues", Json::array()));
        saveSettings(config, fill(kFixture["settings"], jira));
        std::string token = storedToken(jira, scene.value("token", Json(true)));
        ASSERT_TRUE(Keychain::set(token, Keychain::kTokenAccount));
        McpSession session(config.path());
        JiraClient client{JiraConfig{jira.baseUrl(), jira.email(), jira.token()}};
        Activity::Journal journal{config / "state" / "taskbell"};
        for (const Json& raw : scene["steps"]) {
            Json step = fill(raw, jira);
            SCOPED_TRACE(step.dump());
            if (step.contains("settings")) {
                saveSettings(config, step["settings"]);
            }
            if (step.contains("token")) {
                ASSERT_TRUE(Keychain::set(storedToken(jira, step["token"]), Keychain::kTokenAccount));
            }
            applySwitches(jira, step);
            if (!scene.value("noRequests", false)) {
                jira.clearLog();
            }
            if (step.contains("call")) {
                checkAnswer(step, session.call(step["call"], step.value("args", Json::object())));
            }
            if (step.contains("someone")) {
                someoneElse(client, step["someone"], step["key"]);
            }
            if (step.contains("undo")) { // the newest journal entry, and what stops it
                auto refused = caught<Activity::UndoError>([&] { undo(client, journal, journal.read().back()); });
                EXPECT_EQ(refused ? std::string(refused->what()) : "", step["undo"]);
            }
            checkEffects(jira, step);
            if (step.contains("token")) { // a token is used as stored, never rewritten
                EXPECT_EQ(Keychain::get(Keychain::kTokenAccount), storedToken(jira, step["token"]));
            }
        }
        ProcessResult run = session.finish();
        EXPECT_EQ(run.exitCode, 0);
        if (scene.value("noRequests", false)) {
            EXPECT_TRUE(jira.requests().empty()) << jira.requests().front().target;
        }
        for (const std::string& secret : secrets(jira, token.empty() ? jira.token() : token)) {
            EXPECT_EQ((run.out + run.err).find(secret), std::string::npos);
            all.push_back(secret);
        }
        EXPECT_EQ(filesContaining(config.path(), all), std::vector<std::string>{});
        checkJournal(journal, scene.value("journal", Json()));
    }
    // Under the test script, HOME and the XDG folders are a private sandbox: nothing there may hold the token.
    if (const char* home = std::getenv("HOME"); home != nullptr && std::getenv("TASKBELL_KEYRING_SESSION") != nullptr) {
        EXPECT_EQ(filesContaining(std::filesystem::path(home).parent_path(), all), std::vector<std::string>{});
    }
}
