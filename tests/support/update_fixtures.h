#pragma once

// Update test support: zip archives, bundles, a loopback web server and a probe for relaunched programs.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "core/update/manifest.h"
#include "failure.h"
#include "fake_jira.h"
#include "temp_dir.h"

namespace taskbell::test {

struct ZipEntry
{
    enum class Type { file, folder, link };
    std::string name;
    Type type = Type::file;
    std::string data;      // file contents, or the link target
    unsigned mode = 0644;  // permission bits, special bits included
    std::size_t zeros = 0; // files: this many zero bytes follow data (compressible bulk)
};

// Writes a zip archive with libarchive's writer (deflate), entries in the given order.
void writeZip(const std::filesystem::path& zip, const std::vector<ZipEntry>& entries);
// Zips a folder tree as it is on disk, the tree's folder name at the top level.
void zipFolder(const std::filesystem::path& zip, const std::filesystem::path& folder);

// The start of a bundle program that passes the updater's start check: it answers `initialize` under --mcp and ends
// there, and ends at once under --check-module.
inline const std::string kStartCheckAnswer = "#!/bin/sh\n[ \"$1\" != --mcp ] || { echo "
                                             "'{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{}}'; exit 0; }\n"
                                             "[ \"$1\" != --check-module ] || exit 0\n";

// A Taskbell-like bundle: Contents/Info.plist (XML) and an executable Contents/bin/taskbell (a shell script, by default
// one that passes the updater's start check).
struct BundleSpec
{
    std::string version = "2.0.0";
    std::string identifier = "com.quillet.taskbell";
    std::string executable = kStartCheckAnswer;
};
std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name,
                                 const BundleSpec& spec = {});

// The text of the UpdateError the action throws, or "(no failure)".
template <typename F> std::string updateErrorText(F&& action)
{
    return failure<UpdateError>(action);
}

// Fixed answers by path, served by the loopback fake site; any other path is a 404.
class WebServer
{
public:
    void serve(const std::string& path, int status, std::string body,
               std::string contentType = "application/octet-stream")
    {
        site_.setRoute("GET", path,
                       [reply = FakeReply(status, std::move(body), std::move(contentType))](const LoggedRequest&) {
                           return reply;
                       });
    }
    std::string url(const std::string& path) const { return site_.baseUrl() + path; }
    // Number of requests that reached a path.
    int hits(const std::string& path) const { return static_cast<int>(site_.requests("GET", path).size()); }

private:
    FakeJira site_;
};

// A named pipe a relaunched program writes one line into, read by a child that holds it open for reading and
// writing: no writer ever blocks, and reading waits for the line itself rather than for time to pass.
class LaunchProbe
{
public:
    explicit LaunchProbe(std::filesystem::path path);

    const std::filesystem::path& path() const { return path_; }
    // A bundle program that passes the start check and, started plainly, writes its own path into the pipe.
    std::string executable() const;
    // The first line written, or nothing when none arrives within a generous safety limit.
    std::optional<std::string> awaitLine() { return reader_->readLine(std::chrono::minutes(1)); }

private:
    std::filesystem::path path_;
    std::unique_ptr<ChildProcess> reader_;
};

} // namespace taskbell::test
