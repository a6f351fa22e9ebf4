#pragma once

// Update test support: zip archives, bundles, signing keys and a loopback web server serving fixed answers.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "core/update/manifest.h"
#include "failure.h"

// Real archives, bundles and a loopback web server for the update engine tests.
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

// The start of a bundle program that passes the updater's start check: it answers `initialize` under --mcp
// and ends there, and ends at once under --check-module.
inline const std::string kStartCheckAnswer =
    "#!/bin/sh\n[ \"$1\" != --mcp ] || { echo '{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{}}'; exit 0; }\n"
    "[ \"$1\" != --check-module ] || exit 0\n";

// A Taskbell-like bundle: Contents/Info.plist (XML) and an executable Contents/bin/taskbell (a shell script,
// by default one that passes the updater's start check).
struct BundleSpec
{
    std::string version = "2.0.0";
    std::string identifier = "com.quillet.taskbell";
    std::string executable = kStartCheckAnswer;
};
std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name,
                                 const BundleSpec& spec = {});

// The text of the UpdateError the action throws, or "(no UpdateError)".
template <typename F> std::string updateErrorText(F&& action)
{
    return failure<UpdateError>(action);
}

// Every path below root (files, folders, links), relative, sorted.
std::vector<std::string> listTree(const std::filesystem::path& root);

// A loopback HTTP server on a free port, serving fixed answers by path.
class WebServer
{
public:
    WebServer();
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    void serve(const std::string& path, int status, std::string body,
               std::string contentType = "application/octet-stream");
    std::string url(const std::string& path) const;
    // Number of requests that reached a path.
    int hits(const std::string& path) const;

private:
    struct Answer
    {
        int status;
        std::string body;
        std::string contentType;
    };
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    std::map<std::string, int> hits_;
};

} // namespace taskbell::test
