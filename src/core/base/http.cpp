#include "core/base/http.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <arpa/inet.h>
// Plain function declarations: the calls go through the table of functions loaded below.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/file_io.h"
#include "core/base/system_library.h"
#include "core/base/text_util.h"
#include "core/base/trust_store.h"

namespace taskbell::http {
namespace {

// libcurl and the TLS, Kerberos, LDAP and SSH libraries it brings are opened with the first request, not at
// start.
struct Curl
{
    decltype(&::curl_easy_cleanup) curl_easy_cleanup;
    decltype(&::curl_easy_getinfo) curl_easy_getinfo;
    decltype(&::curl_easy_init) curl_easy_init;
    decltype(&::curl_easy_reset) curl_easy_reset;
    decltype(&::curl_easy_setopt) curl_easy_setopt;
    decltype(&::curl_easy_strerror) curl_easy_strerror;
    decltype(&::curl_free) curl_free;
    decltype(&::curl_global_init) curl_global_init;
    decltype(&::curl_multi_add_handle) curl_multi_add_handle;
    decltype(&::curl_multi_cleanup) curl_multi_cleanup;
    decltype(&::curl_multi_info_read) curl_multi_info_read;
    decltype(&::curl_multi_init) curl_multi_init;
    decltype(&::curl_multi_perform) curl_multi_perform;
    decltype(&::curl_multi_poll) curl_multi_poll;
    decltype(&::curl_multi_remove_handle) curl_multi_remove_handle;
    decltype(&::curl_share_init) curl_share_init;
    decltype(&::curl_share_setopt) curl_share_setopt;
    decltype(&::curl_slist_append) curl_slist_append;
    decltype(&::curl_slist_free_all) curl_slist_free_all;
    decltype(&::curl_url) curl_url;
    decltype(&::curl_url_cleanup) curl_url_cleanup;
    decltype(&::curl_url_get) curl_url_get;
    decltype(&::curl_url_set) curl_url_set;
    decltype(&::curl_version_info) curl_version_info;
};

Curl loadCurl()
{
    SystemLibrary library("libcurl.so.4", "network access");
    Curl api{};
    TASKBELL_BIND(library, api, curl_easy_cleanup);
    TASKBELL_BIND(library, api, curl_easy_getinfo);
    TASKBELL_BIND(library, api, curl_easy_init);
    TASKBELL_BIND(library, api, curl_easy_reset);
    TASKBELL_BIND(library, api, curl_easy_setopt);
    TASKBELL_BIND(library, api, curl_easy_strerror);
    TASKBELL_BIND(library, api, curl_free);
    TASKBELL_BIND(library, api, curl_global_init);
    TASKBELL_BIND(library, api, curl_multi_add_handle);
    TASKBELL_BIND(library, api, curl_multi_cleanup);
    TASKBELL_BIND(library, api, curl_multi_info_read);
    TASKBELL_BIND(library, api, curl_multi_init);
    TASKBELL_BIND(library, api, curl_multi_perform);
    TASKBELL_BIND(library, api, curl_multi_poll);
    TASKBELL_BIND(library, api, curl_multi_remove_handle);
    TASKBELL_BIND(library, api, curl_share_init);
    TASKBELL_BIND(library, api, curl_share_setopt);
    TASKBELL_BIND(library, api, curl_slist_append);
    TASKBELL_BIND(library, api, curl_slist_free_all);
    TASKBELL_BIND(library, api, curl_url);
    TASKBELL_BIND(library, api, curl_url_cleanup);
    TASKBELL_BIND(library, api, curl_url_get);
    TASKBELL_BIND(library, api, curl_url_set);
    TASKBELL_BIND(library, api, curl_version_info);
    return api;
}

const Curl& lib()
{
    try {
        static const Curl api = loadCurl();
        return api;
    } catch (const LibraryError& error) {
        throw TransferError(error.what());
    }
}

// Idle easy handles kept for reuse; each keeps its own live connections.
constexpr std::size_t kMaxIdleHandles = 8;
// How often a waiting transfer looks at its cancellation flag.
constexpr int kPollMillis = 50;
constexpr long kMaxRedirects = 20;

// Process-wide state: DNS cache and TLS sessions shared through a CURLSH, and a pool of idle transfer
// slots. libcurl 7.88 does not support sharing its connection cache between concurrent threads (a known
// bug), so connections stay with the slot that opened them: a chain of sequential requests takes the same
// slot back and reuses its connection, while concurrent requests hold different slots.
class SharedPool
{
public:
    struct Slot
    {
        CURLM* multi = nullptr;
        CURL* easy = nullptr;
    };

    SharedPool()
    {
        lib().curl_global_init(CURL_GLOBAL_DEFAULT);
        share_ = lib().curl_share_init();
        lib().curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedPool::lock);
        lib().curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedPool::unlock);
        lib().curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
        lib().curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        lib().curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }

    Slot acquire()
    {
        {
            std::lock_guard guard(poolMutex_);
            if (!idle_.empty()) {
                Slot slot = idle_.back(); // most recently used: its connection is the warmest
                idle_.pop_back();
                return slot;
            }
        }
        Slot slot{lib().curl_multi_init(), lib().curl_easy_init()};
        if (slot.multi == nullptr || slot.easy == nullptr) {
            discard(slot);
            throw TransferError("Out of memory");
        }
        return slot;
    }

    // Drops the options (they point into the finished request) but keeps live connections and caches.
    void release(Slot slot)
    {
        lib().curl_easy_reset(slot.easy);
        std::lock_guard guard(poolMutex_);
        if (idle_.size() < kMaxIdleHandles) {
            idle_.push_back(slot);
            return;
        }
        discard(slot);
    }

    CURLSH* share() const { return share_; }

private:
    static void discard(Slot slot)
    {
        if (slot.easy != nullptr) {
            lib().curl_easy_cleanup(slot.easy);
        }
        if (slot.multi != nullptr) {
            lib().curl_multi_cleanup(slot.multi);
        }
    }

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self)
    {
        static_cast<SharedPool*>(self)->locks_.at(static_cast<std::size_t>(data)).lock();
    }

    static void unlock(CURL*, curl_lock_data data, void* self)
    {
        static_cast<SharedPool*>(self)->locks_.at(static_cast<std::size_t>(data)).unlock();
    }

    CURLSH* share_ = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
    std::mutex poolMutex_;
    std::vector<Slot> idle_;
};

// Never destroyed: transfers on other threads may still run while static destructors do.
SharedPool& pool()
{
    static auto* instance = new SharedPool();
    return *instance;
}

// State the callbacks of one transfer work on.
struct Transfer
{
    const Request& request;
    TrustSource trust;
    Response response;
    FileDescriptor file{};
    std::size_t received = 0;
    bool overCap = false;
    bool fileFailed = false;

    static CURLcode onSslContext(CURL*, void* sslContext, void* trust)
    {
        return installTrust(sslContext, *static_cast<const TrustSource*>(trust)) ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
    }
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self)
    {
        return static_cast<Transfer*>(self)->body(data, size * count);
    }

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self)
    {
        static_cast<Transfer*>(self)->header(std::string_view(data, size * count));
        return size * count;
    }

    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        return static_cast<Transfer*>(self)->cancelled() ? 1 : 0;
    }

    bool cancelled() const { return request.cancel != nullptr && request.cancel->load(); }

    std::size_t body(const char* data, std::size_t length)
    {
        if (length > request.maxBodyBytes - received) {
            overCap = true;
            return 0; // makes curl fail the transfer
        }
        received += length;
        if (!file.isOpen()) {
            response.body.append(data, length);
            return length;
        }
        std::size_t written = 0;
        while (written < length) {
            ssize_t n = ::write(file.get(), data + written, length - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                fileFailed = true;
                return 0;
            }
            written += static_cast<std::size_t>(n);
        }
        return length;
    }

    void header(std::string_view line)
    {
        // Each response of a redirect chain starts with its status line; keep only the last one's headers.
        if (line.starts_with("HTTP/")) {
            response.headers.clear();
            return;
        }
        auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            return;
        }
        auto trim = [](std::string_view text) {
            while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
                text.remove_prefix(1);
            }
            while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
                text.remove_suffix(1);
            }
            return std::string(text);
        };
        response.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
};

class HeaderList
{
public:
    ~HeaderList() { lib().curl_slist_free_all(list_); }
    void add(const std::string& line)
    {
        curl_slist* next = lib().curl_slist_append(list_, line.c_str());
        if (next == nullptr) {
            throw TransferError("Out of memory");
        }
        list_ = next;
    }
    curl_slist* get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

// The system's certificates, as libcurl was built to find them (or SSL_CERT_FILE / SSL_CERT_DIR).
TrustSource defaultTrust()
{
    static const std::pair<const char*, const char*> builtIn = [] {
        const curl_version_info_data* info = lib().curl_version_info(CURLVERSION_NOW);
        bool known = info != nullptr && info->age >= CURLVERSION_SEVENTH;
        return std::pair(known ? info->cainfo : nullptr, known ? info->capath : nullptr);
    }();
    return systemTrust(builtIn.first, builtIn.second);
}

void configure(CURL* easy, const Request& request, Transfer& transfer, HeaderList& headers, char* errorBuffer)
{
    auto* setopt = lib().curl_easy_setopt;
    setopt(easy, CURLOPT_SHARE, pool().share());
    setopt(easy, CURLOPT_URL, request.url.c_str());
    setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    setopt(easy, CURLOPT_NOSIGNAL, 1L);
    setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // libcurl reads no certificates itself: each new connection gets the process's one parsed copy.
    transfer.trust = request.caFile ? TrustSource{request.caFile->string(), {}} : defaultTrust();
    if (setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Transfer::onSslContext) == CURLE_OK) {
        setopt(easy, CURLOPT_SSL_CTX_DATA, &transfer.trust);
        setopt(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
        setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
        // libcurl's own cache would put the first connection's store back on every later one of the slot.
        setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    } else {
        // A libcurl built on another TLS library has no such callback: it reads the same certificates itself.
        auto orNull = [](const std::string& path) { return path.empty() ? nullptr : path.c_str(); };
        setopt(easy, CURLOPT_CAINFO, orNull(transfer.trust.file));
        setopt(easy, CURLOPT_CAPATH, orNull(transfer.trust.folder));
    }
    setopt(easy, CURLOPT_ACCEPT_ENCODING, "");

    // URLSession's meaning: the idle time-out bounds connecting and any stretch without data.
    auto idleMillis = std::chrono::duration_cast<std::chrono::milliseconds>(request.idleTimeout).count();
    auto idleSeconds = std::max<long>(1, static_cast<long>(request.idleTimeout.count()));
    setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idleMillis));
    setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    setopt(easy, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    setopt(easy, CURLOPT_TIMEOUT_MS,
           static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(request.totalTimeout).count()));
    setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBodyBytes));

    setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    setopt(easy, CURLOPT_WRITEDATA, &transfer);
    setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    setopt(easy, CURLOPT_HEADERDATA, &transfer);
    setopt(easy, CURLOPT_NOPROGRESS, 0L);
    setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    setopt(easy, CURLOPT_XFERINFODATA, &transfer);

    bool hasContentType = false;
    for (const auto& [name, value] : request.headers) {
        hasContentType = hasContentType || equalsIgnoringAsciiCase(name, "Content-Type");
        std::string line = name;
        line.append(": ").append(value);
        headers.add(line);
    }
    // curl would otherwise add a form Content-Type to every POST and wait for 100-continue on large bodies.
    if (!hasContentType) {
        headers.add("Content-Type:");
    }
    headers.add("Expect:");
    setopt(easy, CURLOPT_HTTPHEADER, headers.get());

    if (request.method == "GET" && !request.body) {
        setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
        setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        const std::string& body = request.body ? *request.body : std::string();
        setopt(easy, CURLOPT_POST, 1L);
        setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
        if (request.method != "POST") {
            setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
    }
}

// Runs the transfer on the slot's multi handle so the cancellation flag is looked at every few
// milliseconds, not only when curl's own once-a-second progress tick comes round.
CURLcode run(SharedPool::Slot slot, Transfer& transfer)
{
    lib().curl_multi_add_handle(slot.multi, slot.easy);
    CURLcode result = CURLE_OK;
    int running = 1;
    for (;;) {
        if (lib().curl_multi_perform(slot.multi, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0) {
            int queued = 0;
            CURLMsg* message = lib().curl_multi_info_read(slot.multi, &queued);
            result = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result : CURLE_RECV_ERROR;
            break;
        }
        if (transfer.cancelled()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        lib().curl_multi_poll(slot.multi, nullptr, 0, kPollMillis, nullptr);
    }
    lib().curl_multi_remove_handle(slot.multi, slot.easy);
    return result;
}

std::string describe(CURLcode code, const char* detail, const Transfer& transfer, const Request& request)
{
    if (code == CURLE_ABORTED_BY_CALLBACK && transfer.cancelled()) {
        return "The request was cancelled.";
    }
    if (transfer.overCap || code == CURLE_FILESIZE_EXCEEDED) {
        return "The response is larger than the limit of " + std::to_string(request.maxBodyBytes) + " bytes.";
    }
    if (transfer.fileFailed) {
        return "Could not write the download to disk.";
    }
    std::string text = lib().curl_easy_strerror(code);
    if (detail[0] != '\0' && text != detail) {
        text += " (" + std::string(detail) + ")";
    }
    return text;
}

int openBodyFile(const std::filesystem::path& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        throw TransferError("Could not create " + path.string() + ": " + std::strerror(errno));
    }
    ::fchmod(fd, 0600); // an existing file keeps its old mode through O_TRUNC
    return fd;
}

} // namespace

std::optional<std::string> Response::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringAsciiCase(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<UrlParts> splitUrl(const std::string& url)
{
    pool(); // curl_global_init before the URL API is used
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(lib().curl_url(), lib().curl_url_cleanup);
    if (!handle || lib().curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    std::optional<UrlParts> result;
    if (lib().curl_url_get(handle.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        lib().curl_url_get(handle.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        result = UrlParts{scheme, host};
    }
    lib().curl_free(scheme);
    lib().curl_free(host);
    return result;
}

bool isWellFormedUrl(const std::string& url)
{
    pool(); // curl_global_init before the URL API is used
    for (unsigned char c : url) {
        if (c <= ' ' || c == 0x7f) {
            return false;
        }
    }
    // curl would read "https:///path" as the host "path"; an empty authority is no address.
    auto authority = url.find("://");
    if (authority == std::string::npos || url.compare(authority + 3, 1, "/") == 0) {
        return false;
    }
    auto parts = splitUrl(url);
    return parts && (parts->scheme == "http" || parts->scheme == "https") && !parts->host.empty();
}

bool isLoopbackUrl(const std::string& url)
{
    pool(); // curl_global_init before the URL API is used
    auto parts = splitUrl(url);
    if (!parts || (parts->scheme != "http" && parts->scheme != "https")) {
        return false;
    }
    std::string host = parts->host;
    if (equalsIgnoringAsciiCase(host, "localhost")) {
        return true;
    }
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        in6_addr v6{};
        std::string inner = host.substr(1, host.size() - 2);
        return ::inet_pton(AF_INET6, inner.c_str(), &v6) == 1 && std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0;
    }
    return false;
}

void loadLibrary()
{
    pool();
}

Response perform(const Request& request)
{
    SharedPool& shared = pool();
    auto parts = splitUrl(request.url);
    if (!parts || (parts->scheme != "http" && parts->scheme != "https")) {
        throw TransferError("Unsupported URL: only http:// and https:// addresses are allowed.");
    }
    Transfer transfer{request, {}, {}};
    if (transfer.cancelled()) {
        throw TransferError("The request was cancelled.");
    }
    if (request.bodyFile) {
        transfer.file = FileDescriptor(openBodyFile(*request.bodyFile));
    }

    SharedPool::Slot slot = shared.acquire();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURLcode code = CURLE_OK;
    try {
        HeaderList headers;
        configure(slot.easy, request, transfer, headers, errorBuffer);
        code = run(slot, transfer);
        lib().curl_easy_getinfo(slot.easy, CURLINFO_RESPONSE_CODE, &transfer.response.status);
    } catch (...) {
        shared.release(slot);
        throw;
    }
    shared.release(slot);

    bool fileOk = transfer.file.close() == 0;
    if (code != CURLE_OK || !fileOk) {
        if (request.bodyFile) {
            std::error_code ignored;
            std::filesystem::remove(*request.bodyFile, ignored);
        }
        throw TransferError(code != CURLE_OK ? describe(code, errorBuffer, transfer, request)
                                             : "Could not write the download to disk.");
    }
    return std::move(transfer.response);
}

} // namespace taskbell::http
