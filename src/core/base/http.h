#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace taskbell::http {

using Header = std::pair<std::string, std::string>;

struct Request
{
    std::string method = "GET";
    std::string url;
    std::vector<Header> headers;
    std::optional<std::string> body;
    // No progress for this long fails the transfer (connect time-out plus low-speed limit).
    std::chrono::seconds idleTimeout{60};
    // Ceiling for a transfer that keeps trickling.
    std::chrono::seconds totalTimeout{300};
    // Larger bodies fail the transfer instead of filling memory or disk.
    std::size_t maxBodyBytes = std::size_t{32} << 20;
    // When set, the body is streamed into this file instead of Response::body.
    std::optional<std::filesystem::path> bodyFile;
    // Trust anchors that replace the system CA store (tests bring their own CA); verification stays on. They
    // apply to new connections: a connection kept open to the same host is reused whatever it was verified with.
    std::optional<std::filesystem::path> caFile;
    // Checked while the transfer runs; when it becomes true the transfer aborts promptly.
    const std::atomic<bool>* cancel = nullptr;
};

struct Response
{
    long status = 0;
    std::string body;
    std::vector<Header> headers; // names as sent by the server

    // First header with this name, compared without regard to letter case.
    std::optional<std::string> header(std::string_view name) const;
};

// The transfer itself failed (no connection, time-out, TLS, cancelled, refused URL, body too large).
// what() is the transport's own description of the failure.
class TransferError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Opens the network library now rather than with the first call below, so a missing or broken one is
// reported at once. Every function below throws TransferError with that text when it cannot be opened.
void loadLibrary();

// Scheme and host of a URL as curl parses it (IPv4 shorthands normalised, IPv6 in brackets). Nothing when
// the text does not parse or lacks either part.
struct UrlParts
{
    std::string scheme;
    std::string host;
};
std::optional<UrlParts> splitUrl(const std::string& url);

// True when the text parses as an http:// or https:// URL with a host and no blanks or control characters.
bool isWellFormedUrl(const std::string& url);

// True for http:// and https:// URLs whose host is 127.0.0.0/8, ::1 or localhost.
bool isLoopbackUrl(const std::string& url);

// Sends one request through the process-wide shared pool (connections, DNS cache and TLS sessions are
// reused across calls and threads). TLS verification is always on; only http and https are allowed,
// and redirects are followed only to https. Thread-safe. Throws TransferError.
Response perform(const Request& request);

} // namespace taskbell::http
