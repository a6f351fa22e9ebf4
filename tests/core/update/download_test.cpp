// The feed's and the download's addresses and answers that the updater's own table (tests/app/model) does not reach;
// the texts of ordinary failures are checked there.
#include <algorithm>
#include <regex>

#include <gtest/gtest.h>

#include "core/base/http.h"
#include "core/update/engine.h"
#include "core/update/sha256.h"
#include "temp_dir.h"
#include "test_data.h"
#include "update_fixtures.h"

using namespace taskbell;
using taskbell::test::updateErrorText;
namespace fs = std::filesystem;

namespace {

const Json kAddresses = test::testData("update/manifest.json");

UpdateManifest manifestFor(std::string url, std::optional<std::string> sha256 = std::nullopt)
{
    return UpdateManifest{"2.0.0", {}, {}, std::move(url), std::move(sha256), {}, {}};
}

} // namespace

TEST(UpdateFeed, RefusesBadAddressesAndAnswers)
{
    test::WebServer server;
    server.serve("/broken.json", 500, R"({"version":"9.9.9","url":"https://example.com/a.zip"})");
    server.serve("/huge.json", 200, R"({"version":"2.0.0","url":"u","notes":")" + std::string(70000, 'x') + "\"}");
    // A failing status wins even when the body would decode.
    EXPECT_EQ(updateErrorText([&] { update::fetchManifest(server.url("/broken.json")); }),
              "Update check failed: HTTP 500");
    EXPECT_THROW(update::fetchManifest(server.url("/huge.json")), http::TransferError);
    for (const std::string bad : kAddresses.at("badFeedURLs")) {
        EXPECT_EQ(updateErrorText([&] { update::fetchManifest(bad); }), "Update check failed: bad feed URL") << bad;
    }
}

TEST(UpdateDownload, StoresTheArchiveInAFreshPrivateFolderOrLeavesNothing)
{
    test::TempDir temp;
    test::WebServer server;
    server.serve("/T.zip", 200, "PK\x03\x04 pretend archive");
    fs::path root = temp / "nested" / "tmp"; // missing parents are created

    auto first = update::download(manifestFor(server.url("/T.zip")), root);
    auto second = update::download(manifestFor(server.url("/T.zip")), root);
    EXPECT_EQ(first.parent_path().parent_path(), root);
    EXPECT_NE(first.parent_path(), second.parent_path());
    const std::regex folderName("TaskbellUpdate-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]"
                                "{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(first.parent_path().filename().string(), folderName)) << first;
    EXPECT_EQ(test::readFile(first), "PK\x03\x04 pretend archive");
    EXPECT_EQ(fs::status(first.parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(test::listTree(first.parent_path()), std::vector<std::string>{"update.zip"}) << "no partial file";

    fs::remove_all(root);
    for (const std::string bad : kAddresses.at("badDownloadURLs")) {
        EXPECT_EQ(updateErrorText([&] { update::download(manifestFor(bad), root); }),
                  "Download failed: bad download URL")
            << bad;
    }
    // A refused connection is a transport failure with the transport's own text.
    EXPECT_THROW(update::download(manifestFor("http://127.0.0.1:1/T.zip"), root), http::TransferError);
    EXPECT_TRUE(test::listTree(root).empty());
}

TEST(UpdateChecksum, ComparesIgnoringCaseAndSkipsWithoutAValue)
{
    test::TempDir temp;
    fs::path archive = temp / "update.zip";
    test::writeFile(archive, "archive bytes");
    std::string lower = sha256HexOfFile(archive);
    std::string upper = lower;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    EXPECT_NO_THROW(update::verifyChecksum(archive, manifestFor("u", upper)));
    EXPECT_THROW(update::verifyChecksum(archive, manifestFor("u", lower + "0")), UpdateError);
    // Without a checksum the file is not even read.
    EXPECT_NO_THROW(update::verifyChecksum(temp / "absent.zip", manifestFor("u", "")));
    EXPECT_THROW(update::verifyChecksum(temp / "absent.zip", manifestFor("u", lower)), std::system_error);
}
