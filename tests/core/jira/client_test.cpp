// The client's request routine against the fake Jira Cloud: headers, failures and the safety rules.

#include <future>

#include <gtest/gtest.h>

#include "core/jira/client.h"
#include "fake_jira.h"

using namespace taskbell;
using namespace taskbell::test;
using namespace std::chrono_literals;

namespace {

JiraClient clientFor(const FakeJira& jira)
{
    return JiraClient{JiraConfig{jira.baseUrl(), jira.email(), jira.token()}};
}

// Runs the call, expects a JiraError and checks that no credential leaked into its text.
template <typename Call> JiraError failure(const FakeJira& jira, Call call)
{
    try {
        call();
    } catch (const JiraError& error) {
        std::string text = error.what();
        EXPECT_EQ(text.find(jira.token()), std::string::npos) << text;
        EXPECT_EQ(text.find("Basic "), std::string::npos) << text;
        EXPECT_EQ(text.find("YW5h"), std::string::npos) << text; // base64 of the credentials starts so
        return error;
    }
    ADD_FAILURE() << "no JiraError";
    return JiraError::notConfigured();
}

} // namespace

TEST(JiraClientRequest, SendsBasicAuthAcceptAndContentTypeOnlyWithABody)
{
    FakeJira jira;
    struct Credentials
    {
        std::string email, token, expected;
    };
    for (const auto& c : {Credentials{"Aladdin", "open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
                          Credentials{"abc@x.io", "t0k3n", "YWJjQHguaW86dDBrM24="},
                          Credentials{"abcd@x.io", "t0k3n", "YWJjZEB4LmlvOnQwazNu"},
                          Credentials{"zo\xc3\xab@x.io", "p\xc3\xa4ssw\xc3\xb6rd", "em/Dq0B4LmlvOnDDpHNzd8O2cmQ="}}) {
        jira.addUser({"id-" + c.expected, "User", c.email, c.token});
        JiraClient client{JiraConfig{jira.baseUrl(), c.email, c.token}};
        EXPECT_EQ(client.myself().displayName, "User");
        EXPECT_EQ(jira.requests().back().header("Authorization"), "Basic " + c.expected);
    }
    jira.clearLog();
    JiraClient client = clientFor(jira);
    client.request("GET", "/rest/api/3/myself");
    client.request("POST", "/rest/api/3/search/jql",
                   R"({"jql":"assignee = currentUser() AND status = \"Backlog\" ORDER BY updated DESC"})");
    auto log = jira.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].target, "/rest/api/3/myself");
    EXPECT_EQ(log[0].header("Accept"), "application/json");
    EXPECT_FALSE(log[0].header("Content-Type"));
    EXPECT_EQ(log[1].header("Content-Type"), "application/json");
    EXPECT_EQ(log[1].header("Accept"), "application/json");
}

TEST(JiraClientRequest, ConfigurationAndAddressProblemsFailBeforeSending)
{
    FakeJira jira;
    auto kindOf = [&](JiraConfig config) {
        return failure(jira, [&] { JiraClient{config}.request("GET", "/rest/api/3/myself"); });
    };
    EXPECT_EQ(kindOf({"   ", "a@b.c", "t"}).kind(), JiraError::Kind::notConfigured);
    EXPECT_EQ(kindOf({jira.baseUrl(), "", "t"}).kind(), JiraError::Kind::notConfigured);
    EXPECT_EQ(kindOf({jira.baseUrl(), "a@b.c", ""}).kind(), JiraError::Kind::notConfigured);
    EXPECT_EQ(kindOf({"https://exa mple.atlassian.net", "a@b.c", "t"}).kind(), JiraError::Kind::badURL);
    EXPECT_EQ(kindOf({"https://[::1", "a@b.c", "t"}).kind(), JiraError::Kind::badURL);
    EXPECT_TRUE(jira.requests().empty());

    // The token never travels unencrypted to another machine; loopback stays allowed for local servers.
    JiraError plain = kindOf({"http://example.atlassian.net", "a@b.c", "secret-token"});
    EXPECT_EQ(plain.kind(), JiraError::Kind::network);
    EXPECT_NE(std::string(plain.what()).find("use https://"), std::string::npos) << plain.what();
    EXPECT_EQ(std::string(plain.what()).find("secret-token"), std::string::npos);
    std::string localhost = "http://localhost:" + std::to_string(jira.port());
    JiraClient local{JiraConfig{"  " + localhost + "//", jira.email(), jira.token()}};
    EXPECT_EQ(local.myself().accountId, jira.accountId());
}

TEST(JiraClientRequest, StatusCodesBecomeHttpErrorsWithTheirBodies)
{
    FakeJira jira;
    std::string longBody(1000, 'z');
    jira.setRoute("GET", "/s/500", [](const LoggedRequest&) { return FakeReply{500, ""}; });
    jira.setRoute("GET", "/s/502", [&](const LoggedRequest&) { return FakeReply{502, longBody, "text/html"}; });
    jira.setRoute("GET", "/s/403", [](const LoggedRequest&) {
        return FakeReply{403, R"({"errorMessages":["You currently don't have access to perform this operation."]})"};
    });
    jira.setRoute("GET", "/s/429", [](const LoggedRequest&) {
        return FakeReply{429,
                         R"({"errorMessages":["The request has been rate-limited."],"errors":{},"status":429})",
                         "application/json",
                         {{"Retry-After", "5"}}};
    });
    jira.setRoute("GET", "/s/binary", [](const LoggedRequest&) { return FakeReply{418, "\xff\xfe bad"}; });
    jira.setRoute("GET", "/s/204", [](const LoggedRequest&) { return FakeReply{204, ""}; });
    JiraClient client = clientFor(jira);
    auto error = [&](const std::string& path) { return failure(jira, [&] { client.request("GET", path); }); };

    JiraError empty = error("/s/500");
    EXPECT_EQ(empty.kind(), JiraError::Kind::http);
    EXPECT_EQ(empty.status(), 500);
    EXPECT_STREQ(empty.what(), "Jira returned HTTP 500. ");
    JiraError tooLong = error("/s/502");
    EXPECT_EQ(tooLong.body(), longBody);
    EXPECT_EQ(std::string(tooLong.what()), "Jira returned HTTP 502. " + std::string(300, 'z'));
    EXPECT_STREQ(error("/s/403").what(), "Jira returned HTTP 403. Access denied — your account may lack permission.");
    EXPECT_EQ(error("/s/429").status(), 429);
    JiraError binary = error("/s/binary");
    EXPECT_EQ(binary.status(), 418);
    EXPECT_EQ(binary.body(), "\uFFFD\uFFFD bad") << "a body that is not UTF-8 keeps its readable part";
    EXPECT_STREQ(error("/rest/api/3/issue/NOPE-1").what(),
                 "Jira returned HTTP 404. Not found — check your site URL / project key.");
    EXPECT_EQ(client.request("GET", "/s/204"), "");
}

// Every call's 401 text with a rejected token is checked through the MCP tools (TheTokenNeverLeaks...).
TEST(JiraClientRequest, RejectedCredentialsAlwaysReadAs401)
{
    FakeJira jira;
    JiraClient wrong{JiraConfig{jira.baseUrl(), jira.email(), "revoked-token"}};
    EXPECT_EQ(failure(jira, [&] { wrong.myself(); }).body(), "Client must be authenticated to access this resource.");
    // Jira answers the search as the anonymous user (no issues) plus a login-reason header.
    EXPECT_EQ(failure(jira, [&] { wrong.search("assignee = currentUser() ORDER BY updated DESC", 10); }).status(), 401);
    EXPECT_EQ(jira.requests("POST", "/rest/api/3/search").size(), 0u) << "no fallback after a disguised 401";
    JiraClient noEmail{JiraConfig{jira.baseUrl(), " ", jira.token()}};
    EXPECT_EQ(failure(jira, [&] { noEmail.myself(); }).status(), 401) << "a blank e-mail counts as present";
}

TEST(JiraClientRequest, TransportFailuresAreNetworkErrors)
{
    FakeJira jira;
    jira.setRoute("GET", "/huge", [](const LoggedRequest&) {
        return FakeReply{200, std::string((32 << 20) + 1, ' ')};
    });
    jira.setRoute("GET", "/redirect", [](const LoggedRequest&) {
        return FakeReply{302, "", "text/plain", {{"Location", "http://example.com/steal"}}};
    });
    JiraClient client = clientFor(jira);
    JiraError huge = failure(jira, [&] { client.request("GET", "/huge"); });
    EXPECT_EQ(huge.kind(), JiraError::Kind::network);
    EXPECT_STREQ(huge.what(), "Network error: The response is larger than the limit of 33554432 bytes.");
    EXPECT_EQ(failure(jira, [&] { client.request("GET", "/redirect"); }).kind(), JiraError::Kind::network);

    FakeJira::Options options;
    options.https = true;
    FakeJira tls(options);
    JiraClient selfSigned{JiraConfig{tls.baseUrl(), tls.email(), tls.token()}};
    JiraError refused = failure(tls, [&] { selfSigned.myself(); });
    EXPECT_EQ(refused.kind(), JiraError::Kind::network);
    EXPECT_TRUE(std::string(refused.what()).starts_with("Network error: ")) << refused.what();
    EXPECT_TRUE(tls.requests().empty());
}

// The idle time-out is the transport's (http_test.cpp); the client's part is that a cancelled search stops.
TEST(JiraClientRequest, CancellationEndsTheSearchAsANetworkError)
{
    FakeJira jira;
    jira.setDelay(60s);
    JiraClient client = clientFor(jira);
    std::atomic<bool> cancel = false;
    auto pending = std::async(std::launch::async, [&] {
        return failure(jira, [&] { client.search("assignee = currentUser() ORDER BY updated DESC", 10, &cancel); });
    });
    ASSERT_TRUE(jira.waitForRequests(1));
    cancel = true;
    EXPECT_STREQ(pending.get().what(), "Network error: The request was cancelled.");
    EXPECT_EQ(jira.requests().size(), 1u) << "a cancelled search neither pages on nor falls back";
}

TEST(JiraClientRequest, UnreadableAnswersAreDecodingErrors)
{
    FakeJira jira;
    jira.setRoute("GET", "/rest/api/3/myself", [](const LoggedRequest&) { return FakeReply{200, "<html>"}; });
    jira.setRoute("GET", "/rest/api/3/issue/TB-9/transitions", [](const LoggedRequest&) {
        return FakeReply{200, R"({"transitions":[{"id":21}]})"};
    });
    jira.setRoute("GET", "/rest/api/3/issue/TB-9", [](const LoggedRequest&) {
        return FakeReply{200, std::string(600, '[') + std::string(600, ']')};
    });
    JiraClient client = clientFor(jira);
    JiraError html = failure(jira, [&] { client.myself(); });
    EXPECT_EQ(html.kind(), JiraError::Kind::decoding);
    EXPECT_TRUE(std::string(html.what()).starts_with("Could not read Jira's response: ")) << html.what();
    JiraError wrongType = failure(jira, [&] { client.transitions("TB-9"); });
    EXPECT_EQ(wrongType.kind(), JiraError::Kind::decoding);
    EXPECT_NE(std::string(wrongType.what()).find("id"), std::string::npos) << wrongType.what();
    EXPECT_EQ(failure(jira, [&] { client.issue("TB-9"); }).kind(), JiraError::Kind::decoding) << "too deep";
}
