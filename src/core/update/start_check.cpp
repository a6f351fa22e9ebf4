#include "core/update/start_check.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "core/base/cancel.h"
#include "core/base/file_io.h"
#include "core/base/json_util.h"
#include "core/update/manifest.h"
#include "core/update/process_run.h"

namespace taskbell::update {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInitialize =
    R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18",)"
    R"("capabilities":{},"clientInfo":{"name":"taskbell-update-check","version":"1"}}})"
    "\n";

// Nothing of the user's session reaches the check: no library or Qt paths, no display, no session bus, and a
// private home, so the new program neither finds help it would lack after the swap nor touches the user's files.
std::vector<std::string> cleanEnvironment(const fs::path& home)
{
    return {"PATH=/usr/local/bin:/usr/bin:/bin",
            "LANG=C.UTF-8",
            "HOME=" + home.string(),
            "XDG_CONFIG_HOME=" + (home / "config").string(),
            "XDG_STATE_HOME=" + (home / "state").string(),
            "XDG_DATA_HOME=" + (home / "data").string(),
            "XDG_CACHE_HOME=" + (home / "cache").string(),
            "TMPDIR=" + home.string()};
}

bool answersInitialize(const std::string& output)
{
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        std::string_view line(output.data() + start, (end == std::string::npos ? output.size() : end) - start);
        auto reply = parseJson(line, 16);
        if (reply && reply->is_object() && reply->value("id", Json()) == 1 && reply->contains("result") &&
            (*reply)["result"].is_object()) {
            return true;
        }
        start = end == std::string::npos ? output.size() : end + 1;
    }
    return false;
}

std::string firstLine(const std::string& text)
{
    auto line = text.substr(0, text.find('\n'));
    return line.size() > 500 ? line.substr(0, 500) + "…" : line;
}

// What the user reads under the refusal: the loader's (or program's) first line, else how the run ended.
std::string reason(const BoundedRunResult& result, std::chrono::milliseconds limit)
{
    if (!result.ended) {
        auto seconds = (limit.count() + 999) / 1000;
        return "It did not answer within " + std::to_string(seconds) + (seconds == 1 ? " second." : " seconds.");
    }
    if (!result.errors.empty() && result.status != 0) {
        return firstLine(result.errors);
    }
    if (result.status > 128) {
        return "It ended with signal " + std::to_string(result.status - 128) + ".";
    }
    return result.status == 0 ? "It gave no answer." : "It ended with status " + std::to_string(result.status) + ".";
}

} // namespace

void verifyStarts(const fs::path& bundle, const fs::path& scratch, std::chrono::milliseconds limit,
                  const std::atomic<bool>* cancel)
{
    fs::path home = scratch / "start-check";
    if (::mkdir(home.c_str(), 0700) != 0) {
        throw std::system_error(errno, std::generic_category(), "Could not create " + home.string());
    }
    fs::path input = home / "initialize.json";
    replaceFileAtomically(input, kInitialize, 0600);
    auto environment = cleanEnvironment(home);
    std::string executable = (bundle / "Contents" / "bin" / "taskbell").string();

    auto server = runBounded(executable, {"--mcp"}, environment, input.string(), limit, cancel);
    throwIfCancelled(cancel);
    if (!server.ended || !answersInitialize(server.output)) {
        throw UpdateError::cannotStart(reason(server, limit));
    }
    auto module = runBounded(executable, {"--check-module"}, environment, "/dev/null", limit, cancel);
    throwIfCancelled(cancel);
    if (!module.ended || module.status != 0) {
        throw UpdateError::cannotStart(reason(module, limit));
    }
}

} // namespace taskbell::update
