#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "core/base/text_util.h"
#include "core/mcp/server_internal.h"
#include "core/platform/executable.h"

namespace taskbell::MCPServer {
namespace {

constexpr std::size_t kReleaseAfterBytes = std::size_t{1} << 20;

void writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // the reader is gone; nothing more can be said
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

struct Writers
{
    Writer protocol = [](std::string_view bytes) { writeAll(STDOUT_FILENO, bytes); };
    Writer diagnostics = [](std::string_view bytes) { writeAll(STDERR_FILENO, bytes); };
};

Writers& writers()
{
    static Writers instance;
    return instance;
}

// Keeps protocol lines out of reach of any library that prints: the protocol goes to a private copy
// of the original standard output, and descriptor 1 becomes standard error.
void isolateStandardOutput()
{
    int protocolFd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (protocolFd < 0) {
        return;
    }
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    setWriters([protocolFd](std::string_view bytes) { writeAll(protocolFd, bytes); },
               [](std::string_view bytes) { writeAll(STDERR_FILENO, bytes); });
}

// Reads standard input line by line with a cap on line length. A line over the cap is reported as
// unparsable and skipped up to its terminator.
class LineReader
{
public:
    explicit LineReader(int fd) : fd_(fd) {}

    // False at end of input. `tooLong` is set for a line over the cap (its text is dropped).
    bool next(std::string& line, bool& tooLong)
    {
        line.clear();
        tooLong = false;
        for (;;) {
            if (pos_ == end_ && !fill()) {
                return !line.empty() || tooLong;
            }
            const char* start = buffer_.data() + pos_;
            const void* found = std::memchr(start, '\n', end_ - pos_);
            std::size_t take = found ? static_cast<const char*>(found) - start : end_ - pos_;
            if (!tooLong) {
                if (line.size() + take > kMaxLineBytes) {
                    tooLong = true;
                    line.clear();
                    line.shrink_to_fit();
                } else {
                    line.append(start, take);
                }
            }
            pos_ += take;
            if (found) {
                ++pos_;
                return true;
            }
        }
    }

private:
    bool fill()
    {
        for (;;) {
            ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            pos_ = 0;
            end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
            return n > 0;
        }
    }

    int fd_;
    std::array<char, std::size_t{64} * 1024> buffer_{};
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

// After a large message or a tool call (whose Jira answers may have been large) the freed memory goes back
// to the system: the server lives as long as the assistant's session.
void releaseMemory(std::string& line)
{
    if (line.capacity() > kReleaseAfterBytes) {
        std::string().swap(line);
    }
    ::malloc_trim(0);
}

void reportUnparsable()
{
    writers().diagnostics("[taskbell-mcp] ignoring unparsable line\n");
}

const std::array<const char*, 3> kSupportedVersions = {"2025-06-18", "2025-03-26", "2024-11-05"};

std::string negotiatedVersion(const Json& params)
{
    auto requested = params.find("protocolVersion");
    if (requested != params.end() && requested->is_string()) {
        for (const char* version : kSupportedVersions) {
            if (requested->get_ref<const std::string&>() == version) {
                return version;
            }
        }
    }
    return "2024-11-05";
}

void writeEnvelope(const Json& envelope)
{
    // Bytes that are not UTF-8 are replaced rather than losing the response: a client waits for every reply.
    std::string line = dumpJson(envelope);
    line.push_back('\n');
    writers().protocol(line);
}

} // namespace

void setWriters(Writer protocol, Writer diagnostics)
{
    writers().protocol = std::move(protocol);
    writers().diagnostics = std::move(diagnostics);
}

void run()
{
    std::signal(SIGPIPE, SIG_IGN);
    isolateStandardOutput();
    log("ready (Taskbell " + platform::runningVersion() + ")");
    LineReader reader(STDIN_FILENO);
    std::string line;
    bool tooLong = false;
    while (reader.next(line, tooLong)) {
        if (tooLong) {
            reportUnparsable();
        } else {
            handleLine(line);
        }
        releaseMemory(line);
    }
    std::exit(0);
}

void handleLine(std::string_view line)
{
    std::string_view trimmed = trimWhitespaceAndNewlines(line);
    if (trimmed.empty()) {
        return;
    }
    // JSON text never holds a raw NUL, and the parser would take one for the end of the input: the rest of
    // the line (a second message) would vanish without a word.
    bool parsable = trimmed.size() <= kMaxLineBytes && trimmed.find('\0') == std::string_view::npos;
    std::optional<Json> message = parsable ? parseJson(trimmed, kMessageDepthLimit, kMessageValueLimit) : std::nullopt;
    if (!message || !message->is_object()) {
        reportUnparsable();
        return;
    }
    handle(*message);
}

void handle(const Json& message)
{
    Id id;
    if (auto found = message.find("id"); found != message.end()) {
        id = *found;
    }
    std::string method;
    if (auto found = message.find("method"); found != message.end() && found->is_string()) {
        method = found->get<std::string>();
    }
    Json params = Json::object();
    if (auto found = message.find("params"); found != message.end() && found->is_object()) {
        params = *found;
    }

    if (method == "initialize") {
        respond(id, Json{{"protocolVersion", negotiatedVersion(params)},
                         {"capabilities", {{"tools", {{"listChanged", false}}}}},
                         {"serverInfo", {{"name", "taskbell"}, {"version", platform::runningVersion()}}}});
    } else if (method == "tools/list") {
        respond(id, Json{{"tools", toolDefinitions()}});
    } else if (method == "tools/call") {
        callTool(id, params);
    } else if (method == "ping") {
        respond(id, Json::object());
    } else if (isRequest(id)) {
        respond(id, -32601, "Method not found: " + method);
    }
}

void respond(const Id& id, const Json& result)
{
    if (!isRequest(id)) {
        return;
    }
    writeEnvelope(Json{{"jsonrpc", "2.0"}, {"id", *id}, {"result", result}});
}

void respond(const Id& id, int error, const std::string& message)
{
    if (!isRequest(id)) {
        return;
    }
    writeEnvelope(Json{{"jsonrpc", "2.0"}, {"id", *id}, {"error", {{"code", error}, {"message", message}}}});
}

void log(std::string_view text)
{
    std::string line = "[taskbell-mcp] ";
    line.append(text);
    line.push_back('\n');
    writers().diagnostics(line);
}

bool isRequest(const Id& id)
{
    return id.has_value() && !id->is_null();
}

std::string describe(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "The operation couldn't be completed.";
    }
}

std::vector<std::string> toolNames()
{
    std::vector<std::string> names;
    for (const Json& tool : toolDefinitions()) {
        if (auto name = tool.find("name"); name != tool.end() && name->is_string()) {
            names.push_back(name->get<std::string>());
        }
    }
    return names;
}

std::string executablePath()
{
    if (auto executable = platform::runningExecutable()) {
        return executable->string();
    }
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string first;
    if (std::getline(cmdline, first, '\0') && !first.empty()) {
        return first;
    }
    return "Taskbell";
}

} // namespace taskbell::MCPServer
