#include <cstdlib>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/base/http.h"
#include "core/update/engine.h"
#include "core/update/sha256.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
using taskbell::test::updateErrorText;
namespace fs = std::filesystem;

namespace {

UpdateManifest manifestFor(std::string url, std::optional<std::string> sha256 = std::nullopt)
{
    UpdateManifest manifest;
    manifest.version = "2.0.0";
    manifest.url = std::move(url);
    manifest.sha256 = std::move(sha256);
    return manifest;
}

// "TaskbellUpdate-" and a version 4 UUID in upper-case 8-4-4-4-12 form.
bool isUpdateFolderName(const std::string& name)
{
    const std::string prefix = "TaskbellUpdate-";
    if (!name.starts_with(prefix) || name.size() != prefix.size() + 36) {
        return false;
    }
    std::string uuid = name.substr(prefix.size());
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        bool hex = (uuid[i] >= '0' && uuid[i] <= '9') || (uuid[i] >= 'A' && uuid[i] <= 'F');
        if (dash ? uuid[i] != '-' : !hex) {
            return false;
        }
    }
    return uuid[14] == '4' && std::string("89AB").find(uuid[19]) != std::string::npos;
}

} // namespace

TEST(UpdateFeed, FetchesAndComparesWithTheRunningVersion)
{
    test::WebServer server;
    server.serve("/newer.json", 200, R"({"version":"1.10.0","url":"https://example.com/a.zip","sha256":null})");
    server.serve("/equal.json", 200, R"({"version":"1.9.3","url":"https://example.com/a.zip"})");
    server.serve("/older.json", 200, R"({"version":"1.9","url":"https://example.com/a.zip","build":"7"})");

    auto newer = update::fetchManifest(server.url("/newer.json"));
    EXPECT_EQ(newer.version, "1.10.0");
    EXPECT_FALSE(newer.sha256.has_value());
    EXPECT_EQ(update::checkOutcome(newer, "1.9.3"), update::CheckOutcome::offer);
    EXPECT_EQ(update::checkOutcome(update::fetchManifest(server.url("/equal.json")), "1.9.3"),
              update::CheckOutcome::latest);
    auto older = update::fetchManifest(server.url("/older.json"));
    EXPECT_EQ(older.build, "7");
    EXPECT_EQ(update::checkOutcome(older, "1.9.3"), update::CheckOutcome::latest);
}

TEST(UpdateFeed, FailuresCarryTheirTexts)
{
    test::WebServer server;
    server.serve("/gone.json", 404, "not here", "text/plain");
    server.serve("/broken.json", 500, R"({"version":"9.9.9","url":"https://example.com/a.zip"})");
    server.serve("/no-url.json", 200, R"({"version":"2.0.0"})");
    server.serve("/huge.json", 200, R"({"version":"2.0.0","url":"u","notes":")" + std::string(70000, 'x') + "\"}");

    EXPECT_EQ(updateErrorText([&] { update::fetchManifest(server.url("/gone.json")); }),
              "Update check failed: HTTP 404");
    // A failing status wins even when the body would decode.
    EXPECT_EQ(updateErrorText([&] { update::fetchManifest(server.url("/broken.json")); }),
              "Update check failed: HTTP 500");
    EXPECT_THROW(update::fetchManifest(server.url("/no-url.json")), ManifestDecodeError);
    EXPECT_THROW(update::fetchManifest(server.url("/huge.json")), http::TransferError);

    for (const std::string bad :
         {"", "not a url", "appcast.json", "ftp://127.0.0.1/feed.json", "http://", "https://exa mple.com/feed.json"}) {
        EXPECT_EQ(updateErrorText([&] { update::fetchManifest(bad); }), "Update check failed: bad feed URL") << bad;
    }
    EXPECT_EQ(server.hits("/gone.json"), 1);
}

TEST(UpdateDownload, StoresTheArchiveInAFreshPrivateFolder)
{
    test::TempDir temp;
    test::WebServer server;
    std::string payload = "PK\x03\x04 pretend archive";
    server.serve("/T.zip", 200, payload);
    fs::path root = temp / "nested" / "tmp"; // missing parents are created

    auto first = update::download(manifestFor(server.url("/T.zip")), root);
    auto second = update::download(manifestFor(server.url("/T.zip")), root);
    EXPECT_EQ(first.filename(), "update.zip");
    EXPECT_EQ(first.parent_path().parent_path(), root);
    EXPECT_NE(first.parent_path(), second.parent_path());
    EXPECT_TRUE(isUpdateFolderName(first.parent_path().filename().string())) << first.parent_path().filename();
    EXPECT_EQ(test::readFile(first), payload);
    struct stat info
    {
    };
    ASSERT_EQ(::stat(first.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    // Only the archive remains: no partial file beside it.
    EXPECT_EQ(test::listTree(first.parent_path()), std::vector<std::string>{"update.zip"});
}

TEST(UpdateDownload, RefusesBadAddressesAndFailedAnswersLeavingNothingBehind)
{
    test::TempDir temp;
    test::WebServer server;
    server.serve("/missing.zip", 404, "no");
    server.serve("/error.zip", 503, "busy");

    for (const std::string bad :
         {"", "not a url", "file:///etc/passwd", "http://example.com/T.zip", "ftp://127.0.0.1/T.zip"}) {
        EXPECT_EQ(updateErrorText([&] { update::download(manifestFor(bad), temp.path()); }),
                  "Download failed: bad download URL")
            << bad;
    }
    EXPECT_EQ(updateErrorText([&] { update::download(manifestFor(server.url("/missing.zip")), temp.path()); }),
              "Download failed: HTTP 404");
    EXPECT_EQ(updateErrorText([&] { update::download(manifestFor(server.url("/error.zip")), temp.path()); }),
              "Download failed: HTTP 503");
    // A refused connection is a transport failure with the transport's own text.
    EXPECT_THROW(update::download(manifestFor("http://127.0.0.1:1/T.zip"), temp.path()), http::TransferError);
    EXPECT_TRUE(test::listTree(temp.path()).empty());
}

TEST(UpdateDownload, TemporaryDirectoryFollowsTmpdir)
{
    const char* saved = std::getenv("TMPDIR");
    std::string previous = saved != nullptr ? saved : "";
    ::setenv("TMPDIR", "/var/tmp/elsewhere", 1);
    EXPECT_EQ(update::userTemporaryDirectory(), "/var/tmp/elsewhere");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(update::userTemporaryDirectory(), "/tmp");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(update::userTemporaryDirectory(), "/tmp");
    if (saved != nullptr) {
        ::setenv("TMPDIR", previous.c_str(), 1);
    }
}

TEST(UpdateChecksum, ComparesIgnoringCaseAndSkipsWithoutAValue)
{
    test::TempDir temp;
    fs::path archive = temp / "update.zip";
    test::writeFile(archive, "archive bytes");
    std::string lower = sha256Hex("archive bytes");
    std::string upper = lower;
    for (auto& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }

    EXPECT_NO_THROW(update::verifyChecksum(archive, manifestFor("u", lower)));
    EXPECT_NO_THROW(update::verifyChecksum(archive, manifestFor("u", upper)));
    EXPECT_EQ(sha256HexOfFile(archive), lower);
    EXPECT_EQ(lower.size(), 64u);

    std::string wrong = lower;
    wrong[10] = wrong[10] == '0' ? '1' : '0';
    EXPECT_EQ(updateErrorText([&] { update::verifyChecksum(archive, manifestFor("u", wrong)); }),
              "Download rejected: checksum doesn't match the manifest.");
    EXPECT_EQ(updateErrorText([&] { update::verifyChecksum(archive, manifestFor("u", lower + "0")); }),
              "Download rejected: checksum doesn't match the manifest.");

    // Without a checksum the file is not even read.
    EXPECT_NO_THROW(update::verifyChecksum(temp / "absent.zip", manifestFor("u")));
    EXPECT_NO_THROW(update::verifyChecksum(temp / "absent.zip", manifestFor("u", "")));
    EXPECT_THROW(update::verifyChecksum(temp / "absent.zip", manifestFor("u", lower)), std::system_error);
}
