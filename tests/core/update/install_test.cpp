#include <chrono>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"
#include "core/update/code_signature.h"
#include "core/update/engine.h"
#include "core/update/process_run.h"
#include "core/update/start_check.h"
#include "failure.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
using test::deadPid;
using test::waitExit;
namespace fs = std::filesystem;

namespace {

// A named pipe the relaunched "taskbell" writes one line into. The read end is open before anything runs,
// so the writer never blocks, and reading waits for the line itself rather than for time to pass.
class LaunchProbe
{
public:
    explicit LaunchProbe(fs::path path) : path_(std::move(path))
    {
        EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
        fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~LaunchProbe() { ::close(fd_); }
    LaunchProbe(const LaunchProbe&) = delete;
    LaunchProbe& operator=(const LaunchProbe&) = delete;

    // The executable the test bundles carry: it passes the start check and, started plainly, reports its own
    // path into the pipe.
    std::string executable() const { return test::kStartCheckAnswer + "echo \"$0\" > '" + path_.string() + "'\n"; }

    // The first line written, or nothing when no line arrives within a generous safety limit.
    std::optional<std::string> awaitLine()
    {
        std::string text;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (::poll(&entry, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
                break;
            }
            char buffer[4096];
            ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got > 0) {
                text.append(buffer, static_cast<std::size_t>(got));
            }
            if (auto end = text.find('\n'); end != std::string::npos) {
                return text.substr(0, end);
            }
            if (got == 0 && !text.empty()) {
                return text;
            }
        }
        return std::nullopt;
    }

private:
    fs::path path_;
    int fd_ = -1;
};

std::string versionMarker(const fs::path& bundle)
{
    return test::readFile(bundle / "Contents" / "Info.plist");
}

RunResult runScript(const fs::path& folder, pid_t pid, const fs::path& fresh, const fs::path& installed)
{
    fs::path script = folder / "install.sh";
    test::writeFile(script, update::installScript(pid));
    return run("/bin/sh", {script.string(), fresh.string(), installed.string()});
}

} // namespace

TEST(RunProgram, CollectsBothStreamsAndTheStatus)
{
    auto mixed = run("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(mixed.status, 3);
    EXPECT_EQ(mixed.output, "out\nerr\n");

    auto verbatim = run("/bin/sh", {"-c", "printf '%s|' \"$@\"", "sh", "a b", "c'd", ""});
    EXPECT_EQ(verbatim.output, "a b|c'd||");
    EXPECT_EQ(verbatim.status, 0);

    // More output than a pipe holds: read first, then wait.
    auto large = run("/bin/sh", {"-c", "head -c 3000000 /dev/zero | tr '\\0' a"});
    EXPECT_EQ(large.status, 0);
    EXPECT_EQ(large.output.size(), 3000000u);

    EXPECT_EQ(run("/bin/sh", {"-c", "printf 'ok\\377'"}).output, "");
    EXPECT_EQ(run("/bin/sh", {"-c", "kill -9 $$"}).status, 128 + 9);

    auto missing = run("/nonexistent/program", {"x"});
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(missing.output, "No such file or directory");
}

TEST(InstallScript, SwapsAndRelaunchesTheNewBundle)
{
    test::TempDir temp;
    LaunchProbe probe(temp / "launched");
    auto installed = test::makeBundle(temp / "Applications", "Taskbell.app", {"1.0.0", "com.quillet.taskbell", "old"});
    auto fresh = test::makeBundle(temp / "update" / "unpacked", "Taskbell.app",
                                  {"2.0.0", "com.quillet.taskbell", probe.executable()});
    std::string freshMarker = versionMarker(fresh);
    test::writeFile(temp / "Applications" / "Taskbell.app.old" / "junk", "left from an earlier try");

    auto result = runScript(temp / "update", deadPid(), fresh, installed);
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(versionMarker(installed), freshMarker);
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_FALSE(fs::exists(temp / "Applications" / "Taskbell.app.old"));
    EXPECT_EQ(probe.awaitLine(), (installed / "Contents" / "bin" / "taskbell").string());
}

TEST(InstallScript, KeepsTheInstalledBundleWhenAMoveFails)
{
    test::TempDir temp;
    auto fresh = test::makeBundle(temp / "update", "Taskbell.app", {"2.0.0", "com.quillet.taskbell", "new"});

    // The installed bundle cannot be moved aside: "$2.old" is one name too long for the file system, which
    // stops root as well as anyone else.
    auto stuck = test::makeBundle(temp / "Applications", std::string(251, 'T') + ".app");
    std::string stuckMarker = versionMarker(stuck);
    auto aside = runScript(temp / "update", deadPid(), fresh, stuck);
    EXPECT_EQ(aside.status, 1) << aside.output;
    EXPECT_EQ(versionMarker(stuck), stuckMarker);
    EXPECT_TRUE(fs::is_directory(fresh));

    // The new bundle cannot be moved in (it is gone): the old one is moved back.
    auto installed = test::makeBundle(temp / "Applications", "Taskbell.app", {"1.0.0", "com.quillet.taskbell", "old"});
    std::string installedMarker = versionMarker(installed);
    auto in = runScript(temp / "update", deadPid(), temp / "update" / "Gone.app", installed);
    EXPECT_EQ(in.status, 1) << in.output;
    EXPECT_EQ(versionMarker(installed), installedMarker);
    EXPECT_EQ(test::readFile(installed / "Contents" / "bin" / "taskbell"), "old");
    EXPECT_FALSE(fs::exists(temp / "Applications" / "Taskbell.app.old"));
}

TEST(InstallScript, NeverMovesIntoAFolderPlantedAtTheBundlesName)
{
    // Another user's program is renamed to the bundle's name the instant the installed bundle is moved
    // aside. The script is sometimes quicker than that (an ordinary swap then); the attempt is repeated
    // until the planted folder arrives in time.
    for (int attempt = 0; attempt < 50; ++attempt) {
        test::TempDir temp;
        LaunchProbe probe(temp / "launched");
        auto installed =
            test::makeBundle(temp / "Applications", "Taskbell.app", {"1.0.0", "com.quillet.taskbell", "old"});
        std::string installedMarker = versionMarker(installed);
        auto fresh = test::makeBundle(temp / "update" / "unpacked", "Taskbell.app",
                                      {"2.0.0", "com.quillet.taskbell", probe.executable()});
        auto planted = test::makeBundle(
            temp / "planted", "Taskbell.app",
            {"6.6.6", "com.quillet.taskbell", "#!/bin/sh\necho planted >" + (temp / "launched").string() + "\n"});
        int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(::inotify_add_watch(watch, (temp / "Applications").c_str(), IN_MOVED_FROM), 0);
        std::error_code late;
        std::thread planter([&] {
            char event[sizeof(inotify_event) + 256];
            if (::read(watch, event, sizeof event) > 0) {
                fs::rename(planted, installed, late);
            }
        });
        auto result = runScript(temp / "update", deadPid(), fresh, installed);
        planter.join();
        ::close(watch);
        if (late) {
            ASSERT_EQ(result.status, 0) << result.output;
            ASSERT_EQ(probe.awaitLine(), (installed / "Contents" / "bin" / "taskbell").string());
            continue;
        }
        // The swap stops: nothing moved into the planted folder, nothing started, the old bundle kept aside.
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_FALSE(fs::exists(installed / "Taskbell.app"));
        EXPECT_FALSE(fs::exists(installed / "Taskbell.app.old"));
        EXPECT_EQ(test::readFile(fresh / "Contents" / "bin" / "taskbell"), probe.executable());
        EXPECT_EQ(versionMarker(temp / "Applications" / "Taskbell.app.old"), installedMarker);
        return;
    }
    FAIL() << "the planted folder never arrived before the new bundle was moved in";
}

TEST(SwapAndRelaunch, WaitsForTheApplicationToEnd)
{
    test::TempDir temp;
    LaunchProbe probe(temp / "launched");
    auto installed = test::makeBundle(temp / "Applications", "Taskbell.app", {"1.0.0", "com.quillet.taskbell", "old"});
    auto fresh = test::makeBundle(temp / "update" / "unpacked", "Taskbell.app",
                                  {"2.0.0", "com.quillet.taskbell", probe.executable()});
    std::string freshMarker = versionMarker(fresh);

    test::ChildProcess application({"/bin/cat"}); // stands in for the running application until its input ends
    pid_t script = update::swapAndRelaunch(fresh, installed, application.pid());
    // The new bundle and the script wait in a hidden folder beside the installed bundle.
    fs::path staging = temp / "Applications" / ".Taskbell.app.update";
    EXPECT_EQ(test::readFile(staging / "install.sh"), update::installScript(application.pid()));
    EXPECT_EQ(test::listTree(staging),
              (std::vector<std::string>{"Taskbell.app", "Taskbell.app/Contents", "Taskbell.app/Contents/Info.plist",
                                        "Taskbell.app/Contents/bin", "Taskbell.app/Contents/bin/taskbell", "install.sh",
                                        "start-check", "start-check/initialize.json"}));
    EXPECT_TRUE(test::listTree(temp / "update" / "unpacked").empty());
    // While the application lives, the script keeps waiting and the installed bundle stays.
    EXPECT_EQ(::waitpid(script, nullptr, WNOHANG), 0);
    EXPECT_EQ(test::readFile(installed / "Contents" / "bin" / "taskbell"), "old");

    application.closeInput();
    application.wait();
    EXPECT_EQ(waitExit(script), 0);
    EXPECT_EQ(versionMarker(installed), freshMarker);
    EXPECT_EQ(probe.awaitLine(), (installed / "Contents" / "bin" / "taskbell").string());
}

TEST(SwapAndRelaunch, RefusesBeforeWritingAnything)
{
    test::TempDir temp;
    auto fresh = test::makeBundle(temp / "update", "Taskbell.app");

    fs::path nowhere = temp / "missing-folder" / "Taskbell.app";
    auto refused = test::caught<UpdateError>([&] { update::swapAndRelaunch(fresh, nowhere, deadPid()); });
    ASSERT_TRUE(refused) << "accepted an unwritable folder";
    EXPECT_EQ(refused->kind(), UpdateError::Kind::notWritable);
    EXPECT_EQ(std::string(refused->what()), "Can't replace " + nowhere.string() + " \u2014 no write permission.");
    // A folder that exists but holds no installed bundle: the script could never put it back.
    EXPECT_THROW(update::swapAndRelaunch(fresh, temp / "Taskbell.app", deadPid()), std::system_error);
    EXPECT_FALSE(fs::exists(temp / "update" / "install.sh"));
    EXPECT_FALSE(fs::exists(temp / ".Taskbell.app.update"));

    // A folder others may write to, or someone else's: refused before anything is staged.
    auto shared = test::makeBundle(temp / "Shared", "Taskbell.app");
    fs::permissions(temp / "Shared", static_cast<fs::perms>(01777));
    auto unsafe = test::caught<UpdateError>([&] { update::swapAndRelaunch(fresh, shared, deadPid()); });
    ASSERT_TRUE(unsafe) << "accepted a folder others may write to";
    EXPECT_EQ(unsafe->kind(), UpdateError::Kind::unsafeFolder);
    EXPECT_EQ(std::string(unsafe->what()), "Can't update Taskbell in " + (temp / "Shared").string() +
                                               " \u2014 other users can change that folder. Install Taskbell in a "
                                               "folder only you can write to.");
    EXPECT_FALSE(fs::exists(temp / "Shared" / ".Taskbell.app.update"));
    if (::geteuid() == 0) {
        fs::permissions(temp / "Shared", static_cast<fs::perms>(0755));
        ASSERT_EQ(::chown((temp / "Shared").c_str(), 65534, 65534), 0);
        EXPECT_THROW(update::swapAndRelaunch(fresh, shared, deadPid()), UpdateError);
        EXPECT_FALSE(fs::exists(temp / "Shared" / ".Taskbell.app.update"));
    }

    if (::geteuid() != 0) { // permission bits do not stop root
        auto installed = test::makeBundle(temp / "ReadOnly", "Taskbell.app");
        fs::permissions(temp / "ReadOnly", static_cast<fs::perms>(0555));
        EXPECT_THROW(update::swapAndRelaunch(fresh, installed, deadPid()), UpdateError);
        EXPECT_FALSE(fs::exists(temp / "update" / "install.sh"));
    }
}

TEST(InstallScript, PutsThePreviousBundleBackWhenTheRelaunchFailsAtOnce)
{
    struct Case
    {
        const char* name;
        std::string newProgram; // {probe} stands for the probe's path
        int scriptStatus;
        const char* launched; // the first program that reports to the probe
        const char* installedMarker;
    };
    const std::vector<Case> cases = {
        // (One that ends with a failure status is rolled back in the desktop update round trip.)
        {"killed by a signal", "kill -SEGV $$", 1, "old", "1.0.0"},
        // A program that got as far as removing the previous bundle owns the install, whatever it does next.
        {"ran", "rm -rf \"${0%/Contents/bin/taskbell}.old\"; echo new > '{probe}'; exit 3", 0, "new", "2.0.0"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        test::TempDir temp;
        LaunchProbe probe(temp / "launched");
        auto withProbe = [&](std::string text) {
            auto at = text.find("{probe}");
            return at == std::string::npos ? text : text.replace(at, 7, (temp / "launched").string());
        };
        auto installed =
            test::makeBundle(temp / "Applications", "Taskbell.app",
                             {"1.0.0", "com.quillet.taskbell", withProbe("#!/bin/sh\necho old > '{probe}'\n")});
        fs::path staged = temp / "Applications" / ".Taskbell.app.update" / "Taskbell.app";
        test::makeBundle(staged.parent_path(), "Taskbell.app",
                         {"2.0.0", "com.quillet.taskbell", "#!/bin/sh\n" + withProbe(row.newProgram) + "\n"});

        auto result = runScript(staged.parent_path(), deadPid(), staged, installed);
        EXPECT_EQ(result.status, row.scriptStatus) << result.output;
        EXPECT_EQ(probe.awaitLine(), row.launched);
        EXPECT_NE(versionMarker(installed).find(row.installedMarker), std::string::npos);
        EXPECT_FALSE(fs::exists(temp / "Applications" / "Taskbell.app.old"));
        // A bundle that failed waits in the staging folder, which the restored program removes when it starts.
        EXPECT_EQ(fs::exists(staged), row.scriptStatus != 0);
    }
}

TEST(StartCheck, RefusesAProgramThatCannotStartHere)
{
    struct Case
    {
        const char* name;
        std::string program;
        std::string reason; // "" when the bundle passes
    };
    const std::string answer = R"(echo '{"jsonrpc":"2.0","id":1,"result":{"protocolVersion":"2025-06-18"}}')";
    const std::vector<Case> cases = {
        {"starts", "[ \"$1\" != --mcp ] || " + answer, ""},
        {"loader fails",
         "echo \"$0: error while loading shared libraries: libQt6Core.so.6: cannot open shared object file\" >&2\n"
         "echo second line >&2\nexit 127",
         "/Contents/bin/taskbell: error while loading shared libraries: libQt6Core.so.6: cannot open shared object "
         "file"},
        {"module does not link",
         "[ \"$1\" != --mcp ] || { " + answer +
             "; exit 0; }\necho 'libtaskbell_gui.so: undefined symbol: f' >&2\nexit 1",
         "libtaskbell_gui.so: undefined symbol: f"},
        {"hangs", "sleep 30", "It did not answer within 1 second."}, // the shell and its sleep are stopped
        // Nothing of the session reaches the check: here the program answers only without it.
        {"clean environment",
         "[ -z \"${TASKBELL_LEAK:-}${DISPLAY:-}\" ] && [ \"${HOME##*/}\" = start-check ] && " + answer, ""},
    };
    ::setenv("TASKBELL_LEAK", "1", 1);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        test::TempDir temp;
        auto bundle = test::makeBundle(temp / "unpacked", "Taskbell.app",
                                       {"2.0.0", "com.quillet.taskbell", "#!/bin/sh\n" + row.program + "\n"});
        auto text =
            test::updateErrorText([&] { update::verifyStarts(bundle, temp.path(), std::chrono::milliseconds(300)); });
        if (row.reason.empty()) {
            EXPECT_EQ(text, "(no failure)");
        } else {
            EXPECT_EQ(text.substr(0, text.find('\n') + 1),
                      "Download rejected: this version can't start on this system.\n");
            EXPECT_NE(text.find(row.reason), std::string::npos) << text;
            EXPECT_EQ(text.find("second line"), std::string::npos) << text;
        }
    }
    ::unsetenv("TASKBELL_LEAK");
}
