#include "fake_jira.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>
#include <stdexcept>

#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "fake_jira_detail.h"
#include "serve.h"
#include "tls_cert.h"

namespace taskbell::test {

using namespace fake;

std::string LoggedRequest::path() const
{
    return target.substr(0, target.find('?'));
}

std::optional<std::string> LoggedRequest::header(const std::string& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && ::strncasecmp(key.c_str(), name.c_str(), key.size()) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

Json LoggedRequest::json() const
{
    Json parsed = Json::parse(body, nullptr, false);
    return parsed.is_discarded() ? Json() : parsed;
}

FakeJira::FakeJira() : FakeJira(Options{}) {}

FakeJira::FakeJira(Options options) : options_(std::move(options))
{
    loadFixtures();
    if (options_.sampleIssues) {
        loadSampleIssues();
    }
    start();
}

FakeJira::~FakeJira()
{
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_->stop();
    // Kept-alive connections would hold the server's workers until their idle time-out runs out.
    closeClientConnections();
    thread_.join();
    server_.reset();
    if (!certificateDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(certificateDir_, ignored);
    }
}

void FakeJira::start()
{
    if (options_.https) {
        SelfSignedCertificate certificate;
        server_ = std::make_unique<httplib::SSLServer>(certificate.certificate(), certificate.key());
        std::string pattern = (std::filesystem::temp_directory_path() / "fake-jira-cert-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        certificateDir_ = pattern;
        certificateFile_ = certificateDir_ / "certificate.pem";
        std::ofstream(certificateFile_) << certificate.pem();
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    // Keep-alive like a real front end: many requests per connection, enough workers for idle connections.
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(30);
    // Headers and body go out in separate writes; without this, Nagle and delayed ACKs add ~40 ms a reply.
    server_->set_tcp_nodelay(true);
    server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); };
    server_->Get(".*", handler);
    server_->Post(".*", httplib::Server::Handler(handler));
    server_->Put(".*", httplib::Server::Handler(handler));
    // Listening starts at bind, so clients may connect as soon as the constructor returns.
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("fake Jira could not bind a loopback port");
    }
    thread_ = serveAfterBind(*server_);
}

void FakeJira::closeClientConnections()
{
    // Our accepted sockets live in this process: shut down every connected one on our port.
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        int fd = std::atoi(entry->d_name);
        struct stat info
        {
        };
        if (fd <= 2 || ::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) {
            continue;
        }
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localLength = sizeof local;
        socklen_t peerLength = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 || local.ss_family != AF_INET ||
            ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port) != port_ ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
            continue;
        }
        ::shutdown(fd, SHUT_RDWR);
    }
    ::closedir(dir);
}

std::string FakeJira::baseUrl() const
{
    return std::string(options_.https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void FakeJira::serve(const httplib::Request& req, httplib::Response& res)
{
    LoggedRequest logged{req.method, req.target, {}, req.body, req.remote_port};
    for (const auto& [name, value] : req.headers) {
        // httplib adds these itself; they were not sent by the client.
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT") {
            logged.headers.emplace_back(name, value);
        }
    }
    std::function<FakeReply(const LoggedRequest&)> route;
    std::function<std::optional<FakeReply>(const LoggedRequest&)> interceptor;
    std::chrono::steady_clock::time_point answerAt;
    {
        std::lock_guard guard(mutex_);
        interceptor = interceptor_;
        log_.push_back(logged);
        bool newConnection = clientPorts_.insert(req.remote_port).second;
        // The delays count from arrival, so the time spent building the answer lies inside them.
        answerAt =
            std::chrono::steady_clock::now() + delay_ + (newConnection ? connectDelay_ : std::chrono::milliseconds{0});
        auto found = routes_.find({req.method, logged.path()});
        if (found != routes_.end()) {
            route = found->second;
        }
    }
    changed_.notify_all();

    FakeReply reply;
    std::optional<FakeReply> intercepted = interceptor ? interceptor(logged) : std::nullopt;
    if (intercepted) {
        reply = std::move(*intercepted);
    } else if (route) {
        reply = route(logged);
    } else {
        std::lock_guard guard(mutex_);
        std::optional<FakeReply> refusal;
        Caller caller = authenticate(logged, refusal);
        reply = refusal ? *refusal : dispatch(logged, caller);
        if (caller.user != nullptr) {
            reply.headers.emplace_back("X-AAccountId", caller.user->accountId);
        }
        if (caller.rejected) {
            reply.headers.emplace_back("X-Seraph-LoginReason", "AUTHENTICATED_FAILED");
        }
        reply.headers.emplace_back("X-ARequestId", "fake-" + std::to_string(++requestCounter_));
    }
    waitUntil(answerAt);
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) {
        res.set_header(name, value);
    }
    if (!reply.body.empty()) {
        res.set_content(reply.body, reply.contentType.c_str());
    }
}

void FakeJira::waitUntil(std::chrono::steady_clock::time_point until)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, until, [this] { return stopping_; });
}

FakeJira::Caller FakeJira::authenticate(const LoggedRequest& request, std::optional<FakeReply>& refusal) const
{
    Caller caller;
    auto header = request.header("Authorization");
    if (!header) {
        return caller; // anonymous
    }
    std::optional<std::string> decoded;
    if (header->starts_with("Basic ")) {
        decoded = base64Decode(header->substr(6));
    }
    auto colon = decoded ? decoded->find(':') : std::string::npos;
    if (colon == std::string::npos) {
        caller.rejected = true;
        return caller;
    }
    std::string email = decoded->substr(0, colon);
    std::string token = decoded->substr(colon + 1);
    if (email.empty() && !token.empty()) {
        refusal = jsonReply(403, Json{{"error", "Failed to parse Connect Session Auth Token"}});
        return caller;
    }
    for (const auto& user : users_) {
        if (user.email == email && user.token == token) {
            caller.user = &user;
            return caller;
        }
    }
    caller.rejected = true;
    return caller;
}

FakeReply FakeJira::dispatch(const LoggedRequest& request, const Caller& caller)
{
    static const std::regex issuePath(R"(/rest/api/3/issue/([^/]+))");
    static const std::regex transitionsPath(R"(/rest/api/3/issue/([^/]+)/transitions)");
    const std::string path = request.path();
    const std::string& method = request.method;
    std::smatch match;
    if (path == "/rest/api/3/myself" && method == "GET") {
        return myself(caller);
    }
    if (path == "/rest/api/3/search/jql" && method == "POST") {
        return enhancedSearch(request, caller);
    }
    if (path == "/rest/api/3/search" && (method == "POST" || method == "GET")) {
        return classicSearch(request, caller);
    }
    if (path == "/rest/api/3/issue" && method == "POST") {
        return createIssue(request, caller);
    }
    if (std::regex_match(path, match, transitionsPath)) {
        if (method == "GET") {
            return listTransitions(match[1], caller);
        }
        if (method == "POST") {
            return doTransition(request, match[1], caller);
        }
    }
    if (std::regex_match(path, match, issuePath)) {
        if (method == "GET") {
            return getIssue(request, match[1], caller);
        }
        if (method == "PUT") {
            return editIssue(request, match[1], caller);
        }
    }
    return errorReply(404, {"null for uri: " + baseUrl() + request.target});
}

FakeReply FakeJira::myself(const Caller& caller) const
{
    if (caller.user == nullptr) {
        FakeReply reply{401, "Client must be authenticated to access this resource.", "text/plain;charset=UTF-8", {}};
        reply.headers.emplace_back("WWW-Authenticate", "OAuth realm=\"https%3A%2F%2Fexample.atlassian.net\"");
        return reply;
    }
    Json body = renderUser(*caller.user);
    body["emailAddress"] = caller.user->email;
    body["locale"] = "en_US";
    return jsonReply(200, body);
}

// Data and switches.

void FakeJira::addUser(FakeUser user)
{
    std::lock_guard guard(mutex_);
    users_.push_back(std::move(user));
}

void FakeJira::addStatus(FakeStatus status)
{
    std::lock_guard guard(mutex_);
    statuses_[status.id] = std::move(status);
}

void FakeJira::addWorkflow(FakeWorkflow workflow)
{
    std::lock_guard guard(mutex_);
    workflows_[workflow.name] = std::move(workflow);
}

void FakeJira::addProject(FakeProject project)
{
    std::lock_guard guard(mutex_);
    projects_[project.key] = std::move(project);
}

std::string FakeJira::addIssue(FakeIssue issue)
{
    std::lock_guard guard(mutex_);
    auto project = projects_.find(issue.projectKey);
    if (project == projects_.end()) {
        throw std::invalid_argument("unknown project " + issue.projectKey);
    }
    if (issue.workflow.empty()) {
        issue.workflow = project->second.workflow;
    }
    if (issue.statusId.empty()) {
        issue.statusId = workflows_.at(issue.workflow).initialStatusId;
    }
    if (issue.id.empty()) {
        issue.id = std::to_string(nextIssueId_++);
    }
    if (issue.key.empty()) {
        issue.key = issue.projectKey + "-" + std::to_string(++nextIssueNumber_[issue.projectKey]);
    }
    std::string stamp = formatTimestamp(nowMillis(), options_.utcOffset);
    if (issue.created.empty()) {
        issue.created = stamp;
    }
    if (issue.updated.empty()) {
        issue.updated = issue.created;
    }
    issues_.push_back(issue);
    return issue.key;
}

std::optional<FakeIssue> FakeJira::issue(const std::string& key) const
{
    std::lock_guard guard(mutex_);
    const FakeIssue* found = findIssue(key);
    return found ? std::optional<FakeIssue>(*found) : std::nullopt;
}

std::vector<FakeIssue> FakeJira::issues() const
{
    std::lock_guard guard(mutex_);
    return issues_;
}

std::optional<FakeStatus> FakeJira::status(const std::string& id) const
{
    std::lock_guard guard(mutex_);
    auto found = statuses_.find(id);
    return found == statuses_.end() ? std::nullopt : std::optional<FakeStatus>(found->second);
}

void FakeJira::setEnhancedSearch(EndpointMode mode)
{
    std::lock_guard guard(mutex_);
    enhancedMode_ = mode;
}

void FakeJira::setClassicSearch(EndpointMode mode)
{
    std::lock_guard guard(mutex_);
    classicMode_ = mode;
}

void FakeJira::setMaxPageSize(int size)
{
    std::lock_guard guard(mutex_);
    maxPageSize_ = size;
}

void FakeJira::setPagingFault(PagingFault fault)
{
    std::lock_guard guard(mutex_);
    pagingFault_ = fault;
}

void FakeJira::setNullTokenOnLastPage(bool on)
{
    std::lock_guard guard(mutex_);
    nullTokenOnLastPage_ = on;
}

void FakeJira::setSearchLag(std::chrono::milliseconds lag, std::function<std::chrono::steady_clock::time_point()> clock)
{
    std::lock_guard guard(mutex_);
    searchLag_ = lag;
    lagClock_ = clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); };
}

void FakeJira::wrote(const FakeIssue& issue)
{
    if (lagClock_) {
        writtenAt_[issue.id] = lagClock_();
    }
}

bool FakeJira::lagging(const FakeIssue& issue, const std::set<std::string>& reconciled) const
{
    auto written = writtenAt_.find(issue.id);
    return written != writtenAt_.end() && !reconciled.contains(issue.id) && lagClock_() - written->second < searchLag_;
}

void FakeJira::setDelay(std::chrono::milliseconds delay)
{
    std::lock_guard guard(mutex_);
    delay_ = delay;
}

void FakeJira::setConnectDelay(std::chrono::milliseconds delay)
{
    std::lock_guard guard(mutex_);
    connectDelay_ = delay;
}

void FakeJira::setInterceptor(std::function<std::optional<FakeReply>(const LoggedRequest&)> interceptor)
{
    std::lock_guard guard(mutex_);
    interceptor_ = std::move(interceptor);
}

void FakeJira::setRoute(const std::string& method, const std::string& path,
                        std::function<FakeReply(const LoggedRequest&)> handler)
{
    std::lock_guard guard(mutex_);
    routes_[{method, path}] = std::move(handler);
}

std::vector<LoggedRequest> FakeJira::requests() const
{
    std::lock_guard guard(mutex_);
    return log_;
}

std::vector<LoggedRequest> FakeJira::requests(const std::string& method, const std::string& path) const
{
    std::vector<LoggedRequest> matching;
    for (auto& request : requests()) {
        if (request.method == method && request.path() == path) {
            matching.push_back(std::move(request));
        }
    }
    return matching;
}

void FakeJira::clearLog()
{
    std::lock_guard guard(mutex_);
    log_.clear();
}

bool FakeJira::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
}

int FakeJira::connectionCount() const
{
    std::lock_guard guard(mutex_);
    return static_cast<int>(clientPorts_.size());
}

std::string FakeJira::now() const
{
    return formatTimestamp(nowMillis(), options_.utcOffset);
}

std::string FakeJira::timestamp(std::int64_t epochMillis) const
{
    return formatTimestamp(epochMillis, options_.utcOffset);
}

} // namespace taskbell::test
