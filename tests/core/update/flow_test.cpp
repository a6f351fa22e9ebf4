#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"
#include "core/base/bundle.h"
#include "core/update/code_signature.h"
#include "core/update/engine.h"
#include "core/update/sha256.h"
#include "core/update/start_check.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
using taskbell::test::updateErrorText;
namespace fs = std::filesystem;

namespace {

std::string upper(std::string text)
{
    for (auto& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Serves a feed entry and the zipped bundle, the way a release is published.
struct Release
{
    test::WebServer server;
    UpdateManifest manifest;

    Release(const fs::path& bundle, const fs::path& work, const std::string& version, bool withChecksum)
    {
        fs::path zip = work / "release.zip";
        test::zipFolder(zip, bundle);
        std::string bytes = test::readFile(zip);
        server.serve("/Taskbell.zip", 200, bytes);
        std::string sha = withChecksum ? ",\"sha256\":\"" + upper(sha256Hex(bytes)) + "\"" : ",\"sha256\":\"\"";
        server.serve("/appcast.json", 200,
                     "{\"version\":\"" + version + "\",\"url\":\"" + server.url("/Taskbell.zip") + "\"" + sha + "}",
                     "application/json");
        manifest = update::fetchManifest(server.url("/appcast.json"));
    }
};

} // namespace

TEST(UpdateFlow, FeedToRelaunchedNewBundle)
{
    test::TempDir temp;
    auto key = update::generateSigningKey();
    fs::path fifo = temp / "launched";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int probe = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    auto built = test::makeBundle(
        temp / "build", "Taskbell.app",
        {"1.11.0", "com.quillet.taskbell", test::kStartCheckAnswer + "echo \"$0\" > '" + fifo.string() + "'\n"});
    update::signBundle(built, key.privateKeyPem);
    auto installed = test::makeBundle(temp / "Applications", "Taskbell.app", {"1.10.0"});
    Release release(built, temp.path(), "1.11.0", true);
    ASSERT_EQ(update::checkOutcome(release.manifest, "1.10.0"), update::CheckOutcome::offer);

    auto archive = update::download(release.manifest, temp / "tmp");
    auto bundle = update::verifyDownload(archive, release.manifest, "1.10.0", key.publicKey);
    EXPECT_EQ(bundle.filename(), "Taskbell.app");

    test::ChildProcess gone({"/bin/true"});
    pid_t application = gone.pid();
    gone.wait();
    pid_t script = update::swapAndRelaunch(bundle, installed, application);
    int status = 0;
    ASSERT_EQ(::waitpid(script, &status, 0), script);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The swapped-in bundle still carries an intact seal, and it is the one that was started.
    EXPECT_NO_THROW(update::verifySignature(installed, key.publicKey));
    EXPECT_NO_THROW(update::verifyVersion(installed, "1.11.0"));
    pollfd entry{probe, POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 60000), 1);
    char line[4096] = {};
    ASSERT_GT(::read(probe, line, sizeof line - 1), 0);
    EXPECT_EQ(std::string(line), (installed / "Contents" / "bin" / "taskbell").string() + "\n");
    ::close(probe);

    update::removeUpdateFolder(archive);
    EXPECT_FALSE(fs::exists(archive.parent_path()));
    EXPECT_TRUE(fs::is_directory(temp / "tmp"));
}

TEST(UpdateFlow, VerificationStopsAtTheFirstFailure)
{
    test::TempDir temp;
    auto key = update::generateSigningKey();
    auto built = test::makeBundle(temp / "build", "Taskbell.app", {"1.4"});
    update::signBundle(built, key.privateKeyPem);

    // No checksum: the signature and version checks alone decide; here the version is short of the promise.
    Release unchecked(built, temp.path(), "1.4.0", false);
    auto archive = update::download(unchecked.manifest, temp / "tmp");
    EXPECT_EQ(updateErrorText([&] { update::verifyDownload(archive, unchecked.manifest, "1.3", key.publicKey); }),
              "Download rejected: bundle is v1.4, manifest promised v1.4.0.");
    update::removeUpdateFolder(archive);

    // Signed by someone else.
    Release release(built, temp.path(), "1.4", true);
    archive = update::download(release.manifest, temp / "tmp");
    auto stranger = update::generateSigningKey();
    EXPECT_EQ(updateErrorText([&] { update::verifyDownload(archive, release.manifest, "1.3", stranger.publicKey); }),
              "Download rejected: not signed by the expected developer.\ninvalid signature");
    update::removeUpdateFolder(archive);

    // An offer that is not newer than what runs is never installed.
    archive = update::download(release.manifest, temp / "tmp");
    EXPECT_THROW(update::verifyDownload(archive, release.manifest, "1.4", key.publicKey), UpdateError);
    update::removeUpdateFolder(archive);

    // A checksum that does not match stops before anything is unpacked.
    UpdateManifest tampered = release.manifest;
    tampered.sha256 = std::string(64, 'a');
    archive = update::download(tampered, temp / "tmp");
    EXPECT_EQ(updateErrorText([&] { update::verifyDownload(archive, tampered, "1.3", key.publicKey); }),
              "Download rejected: checksum doesn't match the manifest.");
    EXPECT_FALSE(fs::exists(archive.parent_path() / "unpacked"));
    update::removeUpdateFolder(archive);
    EXPECT_TRUE(test::listTree(temp / "tmp").empty());
}

TEST(UpdateFlow, PackagedReleaseVerifies)
{
    if (::access("/usr/bin/zip", X_OK) != 0) {
        GTEST_SKIP() << "zip is not installed (scripts/setup.sh installs it)";
    }
    test::TempDir temp;
    fs::path keyFile = temp / "release.pem";
    auto keygen = test::runProcess({SIGN_BUNDLE_EXE, "keygen", keyFile.string()});
    ASSERT_EQ(keygen.exitCode, 0) << keygen.err;
    std::string publicKey = keygen.out.substr(0, keygen.out.find('\n'));
    struct stat info
    {
    };
    ASSERT_EQ(::stat(keyFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // keygen never overwrites a key.
    EXPECT_NE(test::runProcess({SIGN_BUNDLE_EXE, "keygen", keyFile.string()}).exitCode, 0);

    fs::path buildDir = fs::path(TASKBELL_EXE).parent_path();
    auto packaged =
        test::runProcess({TASKBELL_SOURCE_DIR "/tools/package.sh", "--version", "9.9.9", buildDir.string(),
                          keyFile.string(), "https://updates.example.com/taskbell", (temp / "out").string()},
                         {.timeout = std::chrono::minutes(5)});
    ASSERT_EQ(packaged.exitCode, 0) << packaged.err;
    auto entry = parseManifest(packaged.out);
    EXPECT_EQ(entry.version, "9.9.9");
    EXPECT_EQ(entry.url, "https://updates.example.com/taskbell/Taskbell-9.9.9.zip");
    std::string bytes = test::readFile(temp / "out" / "Taskbell-9.9.9.zip");
    EXPECT_EQ(entry.sha256, sha256Hex(bytes));

    // Published and fetched the way the updater does it.
    test::WebServer server;
    server.serve("/Taskbell-9.9.9.zip", 200, bytes);
    entry.url = server.url("/Taskbell-9.9.9.zip");
    auto archive = update::download(entry, temp / "tmp");
    auto bundle = update::verifyDownload(archive, entry, "1.10.0", publicKey);
    EXPECT_EQ(fs::status(bundle / "Contents" / "bin" / "taskbell").permissions(), static_cast<fs::perms>(0755));
    EXPECT_EQ(bundle::infoString(bundle / "Contents" / "Info.plist", "CFBundleIdentifier"), "com.quillet.taskbell");
    EXPECT_EQ(bundle::infoString(bundle / "Contents" / "Info.plist", "CFBundleExecutable"), "taskbell");
    EXPECT_TRUE(bundle::infoString(bundle / "Contents" / "Info.plist", "CFBundleVersion").has_value());

    auto verified = test::runProcess({SIGN_BUNDLE_EXE, "verify", bundle.string(), publicKey});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;

    // Run from inside the bundle, the program reports the bundle's own version.
    auto ready = test::runProcess({(bundle / "Contents" / "bin" / "taskbell").string(), "--mcp"},
                                  {.env = {{"XDG_CONFIG_HOME", (temp / "config").string()}}});
    EXPECT_EQ(ready.exitCode, 0);
    EXPECT_EQ(ready.err, "[taskbell-mcp] ready (Taskbell 9.9.9)\n");
    // The real release passes the updater's start check.
    EXPECT_EQ(test::updateErrorText([&] { update::verifyStarts(bundle, temp.path()); }), "(no failure)");
}
