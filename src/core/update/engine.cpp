#include "core/update/engine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "core/base/bundle.h"
#include "core/base/encoding.h"
#include "core/base/file_io.h"
#include "core/base/http.h"
#include "core/base/text_util.h"
#include "core/update/archive_extract.h"
#include "core/update/code_signature.h"
#include "core/update/process_run.h"
#include "core/update/sha256.h"
#include "core/update/staging.h"
#include "core/update/start_check.h"
#include "core/update/version_compare.h"

namespace taskbell::update {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kMaxFeedBytes = std::size_t{64} * 1024;
constexpr std::size_t kMaxArchiveBytes = std::size_t{512} << 20;

// Nothing unless the text is an absolute http or https URL with a host.
std::optional<http::UrlParts> parseWebUrl(const std::string& text)
{
    auto parts = http::splitUrl(text);
    if (!parts || (parts->scheme != "http" && parts->scheme != "https") || parts->host.empty()) {
        return std::nullopt;
    }
    return parts;
}

bool isDownloadUrl(const std::string& text)
{
    auto parts = parseWebUrl(text);
    return parts && (parts->scheme == "https" || http::isLoopbackUrl(text));
}

} // namespace

UpdateManifest fetchManifest(const std::string& feedURL, const std::atomic<bool>* cancel)
{
    if (!parseWebUrl(feedURL)) {
        throw UpdateError::badFeed("bad feed URL");
    }
    http::Request request;
    request.url = feedURL;
    request.idleTimeout = 20s;
    request.totalTimeout = 20s;
    request.maxBodyBytes = kMaxFeedBytes;
    request.cancel = cancel;
    auto response = http::perform(request);
    if (response.status != 200) {
        throw UpdateError::badFeed("HTTP " + std::to_string(response.status));
    }
    return parseManifest(response.body);
}

CheckOutcome checkOutcome(const UpdateManifest& manifest, std::string_view runningVersion)
{
    return isNewerVersion(manifest.version, runningVersion) ? CheckOutcome::offer : CheckOutcome::latest;
}

fs::path userTemporaryDirectory()
{
    const char* tmp = std::getenv("TMPDIR");
    return fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
}

fs::path download(const UpdateManifest& manifest, const fs::path& tempRoot, const std::atomic<bool>* cancel)
{
    if (!isDownloadUrl(manifest.url)) {
        throw UpdateError::badDownload("bad download URL");
    }
    fs::create_directories(tempRoot);
    // A fresh private folder per install: mkdir fails rather than reuse anything already there.
    fs::path folder = tempRoot / ("TaskbellUpdate-" + uuidText(randomUuid()));
    if (::mkdir(folder.c_str(), 0700) != 0) {
        throw std::system_error(errno, std::generic_category(), "Could not create " + folder.string());
    }
    try {
        http::Request request;
        request.url = manifest.url;
        request.bodyFile = folder / "update.zip.part";
        request.maxBodyBytes = kMaxArchiveBytes;
        request.idleTimeout = 60s;
        request.totalTimeout = 3600s;
        request.cancel = cancel;
        auto response = http::perform(request);
        if (response.status != 200) {
            throw UpdateError::badDownload("HTTP " + std::to_string(response.status));
        }
        fs::rename(folder / "update.zip.part", folder / "update.zip");
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        throw;
    }
    return folder / "update.zip";
}

void verifyChecksum(const fs::path& archive, const UpdateManifest& manifest, const std::atomic<bool>* cancel)
{
    if (!manifest.sha256 || manifest.sha256->empty()) {
        return;
    }
    if (!equalsIgnoringAsciiCase(sha256HexOfFile(archive, cancel), *manifest.sha256)) {
        throw UpdateError::checksumMismatch();
    }
}

void verifyVersion(const fs::path& bundle, const std::string& expected)
{
    auto found = bundle::infoString(bundle / "Contents" / "Info.plist", "CFBundleShortVersionString");
    if (!found) {
        throw UpdateError::badDownload("unreadable Info.plist in the downloaded bundle");
    }
    if (*found != expected) {
        throw UpdateError::versionMismatch(*found, expected);
    }
}

void verifyNotOlder(const UpdateManifest& manifest, const std::string& runningVersion)
{
    if (!isNewerVersion(manifest.version, runningVersion)) {
        throw UpdateError::notNewer(manifest.version, runningVersion);
    }
}

fs::path verifyDownload(const fs::path& archive, const UpdateManifest& manifest, const std::string& runningVersion,
                        std::string_view trustedPublicKey, const std::atomic<bool>* cancel)
{
    verifyChecksum(archive, manifest, cancel);
    auto bundle = unpack(archive, {}, cancel);
    verifySignature(bundle, trustedPublicKey, cancel);
    verifyVersion(bundle, manifest.version);
    verifyNotOlder(manifest, runningVersion);
    return bundle;
}

void removeUpdateFolder(const fs::path& archive)
{
    std::error_code ignored;
    fs::remove_all(fs::absolute(archive, ignored).parent_path(), ignored);
}

std::string installScript(pid_t pid)
{
    // The script runs in a session of its own (spawnDetached), so the relaunched program, started in the
    // background with its streams on /dev/null, keeps running after the script exits and needs no nohup.
    return "#!/bin/sh\n"
           "# $1 = freshly unpacked bundle, $2 = installed bundle to replace\n"
           "while kill -0 " +
           std::to_string(pid) +
           " 2>/dev/null; do sleep 0.2; done\n"
           "/bin/rm -rf \"$2.old\"\n"
           "/bin/mv -T \"$2\" \"$2.old\" || exit 1\n"
           "if ! /bin/mv -T \"$1\" \"$2\"; then\n"
           "    /bin/mv -T \"$2.old\" \"$2\"\n"
           "    exit 1\n"
           "fi\n"
           // The previous bundle stays as "$2.old" until the relaunched program runs and removes it. If the
           // program ends first, within 10 seconds, with a failure or a signal, the new bundle goes back where
           // it came from and the previous one is put back and started.
           "\"$2/Contents/bin/taskbell\" </dev/null >/dev/null 2>&1 &\n"
           "started=$!\n"
           "tries=0\n"
           "while [ -e \"$2.old\" ] && kill -0 \"$started\" 2>/dev/null && [ \"$tries\" -lt 50 ]; do\n"
           "    sleep 0.2\n"
           "    tries=$((tries + 1))\n"
           "done\n"
           "if kill -0 \"$started\" 2>/dev/null || [ ! -e \"$2.old\" ]; then exit 0; fi\n"
           "if wait \"$started\"; then /bin/rm -rf \"$2.old\"; exit 0; fi\n"
           "/bin/mv -T \"$2\" \"$1\" || exit 1\n"
           "if ! /bin/mv -T \"$2.old\" \"$2\"; then /bin/mv -T \"$1\" \"$2\"; exit 1; fi\n"
           "\"$2/Contents/bin/taskbell\" </dev/null >/dev/null 2>&1 &\n"
           "exit 1";
}

pid_t swapAndRelaunch(const fs::path& newBundle, const fs::path& installedBundle)
{
    return swapAndRelaunch(newBundle, installedBundle, ::getpid());
}

pid_t swapAndRelaunch(const fs::path& newBundle, const fs::path& installedBundle, pid_t waitFor)
{
    fs::path installed = fs::absolute(installedBundle);
    fs::path fresh = fs::absolute(newBundle);
    if (::access(installed.parent_path().c_str(), W_OK) != 0) {
        throw UpdateError::notWritable(installed.string());
    }
    // Anyone else who may write to the folder could put a program of theirs at the bundle's name while the
    // script swaps, and the relaunch would start it.
    struct stat folder
    {
    };
    if (::stat(installed.parent_path().c_str(), &folder) != 0 || folder.st_uid != ::geteuid() ||
        (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        throw UpdateError::unsafeFolder(installed.parent_path().string());
    }
    // The script could not move a missing bundle aside, and the program would then never come back.
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(installed, ec))) {
        throw std::system_error(ENOENT, std::generic_category(), "Could not find " + installed.string());
    }
    fs::path staged = stageBundle(fresh, installed);
    // Checked where it will run: a temporary folder may be mounted without the right to execute.
    try {
        verifyStarts(staged, staged.parent_path());
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(staged.parent_path(), ignored);
        throw;
    }
    fs::path script = staged.parent_path() / "install.sh";
    replaceFileAtomically(script, installScript(waitFor), 0600);
    return spawnDetached("/bin/sh", {script.string(), staged.string(), installed.string()});
}

} // namespace taskbell::update
