#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace taskbell::test {

using Json = nlohmann::json;
using HeaderList = std::vector<std::pair<std::string, std::string>>;

// A workflow status; categoryKey is "new", "indeterminate", "done" (or "undefined").
struct FakeStatus
{
    std::string id;
    std::string name;
    std::string categoryKey;
};

struct FakeTransition
{
    std::string id;
    std::string name;
    std::string toStatusId;
    // Empty: a global ("any status can move here") transition, offered from every status including its own
    // target. Otherwise offered only from these statuses.
    std::vector<std::string> fromStatusIds;
};

struct FakeWorkflow
{
    std::string name;
    std::string initialStatusId;
    std::vector<FakeTransition> transitions; // in ops-bar order
};

struct FakeUser
{
    std::string accountId;
    std::string displayName;
    std::string email;
    std::string token; // API token accepted for this e-mail
};

struct FakeProject
{
    std::string key;
    std::string name;
    std::string workflow = "simple";
    std::vector<std::string> issueTypes = {"Task", "Bug", "Story"};
};

struct FakeIssue
{
    std::string id;  // assigned by addIssue when empty
    std::string key; // assigned by addIssue when empty
    std::string projectKey = "TB";
    std::string summary;
    std::string statusId; // the workflow's initial status when empty
    std::string issueType = "Task";
    std::string priority = "Medium";
    std::optional<std::string> assigneeAccountId;
    Json description;    // ADF document, or null
    std::string created; // Jira timestamps; "now" when empty
    std::string updated;
    std::optional<std::string> resolutiondate;
    std::optional<std::string> duedate;
    std::string workflow; // the project's when empty
};

struct LoggedRequest
{
    std::string method;
    std::string target; // path with query, as sent
    HeaderList headers;
    std::string body;
    int clientPort = 0;

    std::string path() const;                                         // target without query
    std::optional<std::string> header(const std::string& name) const; // first, case-insensitive
    Json json() const;                                                // body parsed; null when it is not JSON
};

struct FakeReply
{
    int status = 200;
    std::string body;
    std::string contentType = "application/json;charset=UTF-8";
    HeaderList headers;

    FakeReply() = default;
    FakeReply(int status, std::string body, std::string contentType = "application/json;charset=UTF-8",
              HeaderList headers = {})
        : status(status), body(std::move(body)), contentType(std::move(contentType)), headers(std::move(headers))
    {
    }
};

enum class EndpointMode { normal, notFound, gone, badRequest };
// Misbehaving enhanced search: hand out the same token again, or keep handing out tokens with empty pages.
enum class PagingFault { none, repeatToken, emptyPagesWithToken };

// A loopback stand-in for Jira Cloud (REST API v3) that answers the way the real service does: Basic
// auth, anonymous handling of rejected credentials, ErrorCollection bodies, enhanced and classic search
// with their paging rules, the three section queries, issues with ADF descriptions, create/edit
// validation and workflows with global and from-restricted transitions.
class FakeJira
{
public:
    struct Options
    {
        bool https = false;              // self-signed certificate for 127.0.0.1 and localhost
        std::string utcOffset = "+0200"; // the site's time zone, as in its timestamps
        bool sampleIssues = false;       // a few issues for manual runs
    };

    FakeJira();
    explicit FakeJira(Options options);
    ~FakeJira();
    FakeJira(const FakeJira&) = delete;
    FakeJira& operator=(const FakeJira&) = delete;

    std::string baseUrl() const; // http(s)://127.0.0.1:<port>
    int port() const { return port_; }
    // PEM file of the self-signed certificate (https only), for clients that choose to trust it.
    std::filesystem::path certificateFile() const { return certificateFile_; }

    // The signed-in user the fixtures are assigned to.
    const FakeUser& user() const { return users_.front(); }
    std::string email() const { return user().email; }
    std::string token() const { return user().token; }
    std::string accountId() const { return user().accountId; }

    // Data. Statuses, workflows ("simple", "gated", "loop", "named-done", "frozen"), projects (TB, GATE,
    // LOOP, NAMED, FROZEN) and two users exist from the start.
    void addUser(FakeUser user);
    void addStatus(FakeStatus status);
    void addWorkflow(FakeWorkflow workflow);
    void addProject(FakeProject project);
    std::string addIssue(FakeIssue issue); // returns the key
    std::optional<FakeIssue> issue(const std::string& key) const;
    std::vector<FakeIssue> issues() const;
    std::optional<FakeStatus> status(const std::string& id) const;

    // Switches.
    void setEnhancedSearch(EndpointMode mode);
    void setClassicSearch(EndpointMode mode); // gone (retired, like the real service) by default
    void setMaxPageSize(int size);            // 100 by default
    void setPagingFault(PagingFault fault);
    void setNullTokenOnLastPage(bool on);
    // Like Jira's index, enhanced search leaves out an issue written through the API (created, edited or
    // transitioned) for this long after the write, unless the request lists its id in `reconcileIssues`.
    // None by default. The lag is measured on `clock` (steady_clock when empty), so tests move time.
    void setSearchLag(std::chrono::milliseconds lag, std::function<std::chrono::steady_clock::time_point()> clock = {});
    // Each answer goes out this long after its request arrived (or later, when building it takes longer);
    // cut short on shutdown.
    void setDelay(std::chrono::milliseconds delay);
    // Extra wait before the first answer on each new connection, standing in for TCP and TLS set-up.
    void setConnectDelay(std::chrono::milliseconds delay);
    // Answers METHOD PATH (without query) with this handler instead of the normal behaviour.
    void setRoute(const std::string& method, const std::string& path,
                  std::function<FakeReply(const LoggedRequest&)> handler);

    // Sees every request after the delay; a reply it returns is sent instead of the normal answer, nothing
    // lets the request through. May block (the test then releases it); runs on the server's threads.
    void setInterceptor(std::function<std::optional<FakeReply>(const LoggedRequest&)> interceptor);

    // Inspection.
    std::vector<LoggedRequest> requests() const;
    std::vector<LoggedRequest> requests(const std::string& method, const std::string& path) const;
    void clearLog();
    // Waits until at least count requests have arrived; false on time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Connections accepted so far (distinct client ports seen).
    int connectionCount() const;

    // Timestamp of this moment in the site's time zone, e.g. "2026-07-08T09:12:33.123+0200".
    std::string now() const;
    // Timestamp for a moment given as milliseconds since the epoch.
    std::string timestamp(std::int64_t epochMillis) const;

private:
    struct Caller
    {
        const FakeUser* user = nullptr; // signed in
        bool rejected = false;          // credentials sent but wrong
    };

    void start();
    void loadFixtures();
    void loadSampleIssues();
    void serve(const httplib::Request& req, httplib::Response& res);
    FakeReply dispatch(const LoggedRequest& request, const Caller& caller);
    Caller authenticate(const LoggedRequest& request, std::optional<FakeReply>& refusal) const;
    void waitUntil(std::chrono::steady_clock::time_point until);
    void closeClientConnections();

    // Endpoints (called with mutex_ held).
    FakeReply myself(const Caller& caller) const;
    FakeReply enhancedSearch(const LoggedRequest& request, const Caller& caller) const;
    FakeReply classicSearch(const LoggedRequest& request, const Caller& caller) const;
    FakeReply getIssue(const LoggedRequest& request, const std::string& key, const Caller& caller) const;
    FakeReply createIssue(const LoggedRequest& request, const Caller& caller);
    FakeReply editIssue(const LoggedRequest& request, const std::string& key, const Caller& caller);
    FakeReply listTransitions(const std::string& key, const Caller& caller) const;
    FakeReply doTransition(const LoggedRequest& request, const std::string& key, const Caller& caller);

    // Helpers (mutex_ held).
    void wrote(const FakeIssue& issue);
    bool lagging(const FakeIssue& issue, const std::set<std::string>& reconciled) const;
    FakeIssue* findIssue(const std::string& key);
    const FakeIssue* findIssue(const std::string& key) const;
    const FakeWorkflow* workflowOf(const FakeIssue& issue) const;
    std::vector<const FakeTransition*> offeredTransitions(const FakeIssue& issue) const;
    // Issues matching one of the section queries, in its order; nothing (and an error text) otherwise.
    std::optional<std::vector<const FakeIssue*>> evaluateJql(const std::string& jql, const Caller& caller,
                                                             std::string& error) const;
    Json renderIssue(const FakeIssue& issue, const std::optional<std::set<std::string>>& fields) const;
    Json renderStatus(const FakeStatus& status) const;
    Json renderUser(const FakeUser& user) const;
    const FakeUser* userById(const std::string& accountId) const;
    std::optional<std::set<std::string>> requestedFields(const Json& list) const;

    Options options_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::filesystem::path certificateDir_;
    std::filesystem::path certificateFile_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<FakeUser> users_;
    std::map<std::string, FakeStatus> statuses_;
    std::map<std::string, FakeWorkflow> workflows_;
    std::map<std::string, FakeProject> projects_;
    std::map<std::string, int> nextIssueNumber_;
    std::vector<FakeIssue> issues_;
    int nextIssueId_ = 10000;
    EndpointMode enhancedMode_ = EndpointMode::normal;
    EndpointMode classicMode_ = EndpointMode::gone;
    int maxPageSize_ = 100;
    PagingFault pagingFault_ = PagingFault::none;
    bool nullTokenOnLastPage_ = false;
    std::chrono::milliseconds searchLag_{0};
    std::function<std::chrono::steady_clock::time_point()> lagClock_;
    std::map<std::string, std::chrono::steady_clock::time_point> writtenAt_; // by issue id
    std::chrono::milliseconds delay_{0};
    std::chrono::milliseconds connectDelay_{0};
    std::map<std::pair<std::string, std::string>, std::function<FakeReply(const LoggedRequest&)>> routes_;
    std::function<std::optional<FakeReply>(const LoggedRequest&)> interceptor_;
    std::vector<LoggedRequest> log_;
    std::set<int> clientPorts_;
    long requestCounter_ = 0;
};

} // namespace taskbell::test
