#include <thread>

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"
#include "core/update/engine.h"
#include "core/update/process_run.h"
#include "core/update/start_check.h"
#include "temp_dir.h"
#include "test_data.h"
#include "update_fixtures.h"

using namespace taskbell;
using test::deadPid;
namespace fs = std::filesystem;

namespace {

const Json kPrograms = test::testData("update/programs.json");

std::string plistOf(const fs::path& bundle)
{
    return test::readFile(bundle / "Contents" / "Info.plist");
}

fs::path makeInstalled(const fs::path& folder, std::string program = "old")
{
    return test::makeBundle(folder / "Applications", "Taskbell.app", {"1.0.0", "com.quillet.taskbell", program});
}

RunResult runScript(const fs::path& folder, const fs::path& fresh, const fs::path& installed)
{
    test::writeFile(folder / "install.sh", update::installScript(deadPid()));
    return run("/bin/sh", {(folder / "install.sh").string(), fresh.string(), installed.string()});
}

} // namespace

TEST(RunProgram, CollectsBothStreamsAndTheStatus)
{
    for (const Json& row : kPrograms.at("run")) {
        auto result = run(row[0].get<std::string>(), row[1].get<std::vector<std::string>>());
        EXPECT_EQ(result.status, row[2]) << row.dump();
        EXPECT_EQ(result.output,
                  row[3].is_number() ? std::string(row[3].get<std::size_t>(), 'a') : row[3].get<std::string>())
            << row[1].back();
    }
}

TEST(SwapAndRelaunch, WaitsForTheApplicationToEndThenSwapsAndRelaunches)
{
    test::TempDir temp;
    test::LaunchProbe probe(temp / "launched");
    auto installed = makeInstalled(temp.path());
    auto fresh = test::makeBundle(temp / "update" / "unpacked", "Taskbell.app",
                                  {"2.0.0", "com.quillet.taskbell", probe.executable()});
    std::string freshPlist = plistOf(fresh);
    test::writeFile(temp / "Applications" / "Taskbell.app.old" / "junk", "left from an earlier try");

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

    application.wait();
    EXPECT_EQ(test::waitExit(script), 0);
    EXPECT_EQ(plistOf(installed), freshPlist);
    EXPECT_FALSE(fs::exists(temp / "Applications" / "Taskbell.app.old"));
    EXPECT_EQ(probe.awaitLine(), (installed / "Contents" / "bin" / "taskbell").string());
}

TEST(InstallScript, KeepsTheInstalledBundleWhenAMoveFails)
{
    test::TempDir temp;
    auto fresh = test::makeBundle(temp / "update", "Taskbell.app", {"2.0.0", "com.quillet.taskbell", "new"});

    // The installed bundle cannot be moved aside: "$2.old" is one name too long for the file system, which stops root
    // as well as anyone else.
    auto stuck = test::makeBundle(temp / "Applications", std::string(251, 'T') + ".app");
    std::string stuckPlist = plistOf(stuck);
    EXPECT_EQ(runScript(temp / "update", fresh, stuck).status, 1);
    EXPECT_EQ(plistOf(stuck), stuckPlist);
    EXPECT_TRUE(fs::is_directory(fresh));

    // The new bundle cannot be moved in (it is gone): the old one is moved back.
    auto installed = makeInstalled(temp.path());
    std::string installedPlist = plistOf(installed);
    EXPECT_EQ(runScript(temp / "update", temp / "update" / "Gone.app", installed).status, 1);
    EXPECT_EQ(plistOf(installed), installedPlist);
    EXPECT_EQ(test::readFile(installed / "Contents" / "bin" / "taskbell"), "old");
    EXPECT_FALSE(fs::exists(temp / "Applications" / "Taskbell.app.old"));
}

TEST(InstallScript, NeverMovesIntoAFolderPlantedAtTheBundlesName)
{
    // Another user's program is renamed to the bundle's name the instant the installed bundle is moved aside. The
    // script is sometimes quicker than that (an ordinary swap then); the attempt is repeated until the planted folder
    // arrives in time.
    for (int attempt = 0; attempt < 50; ++attempt) {
        test::TempDir temp;
        test::LaunchProbe probe(temp / "launched");
        auto installed = makeInstalled(temp.path());
        std::string installedPlist = plistOf(installed);
        auto fresh = test::makeBundle(temp / "update" / "unpacked", "Taskbell.app",
                                      {"2.0.0", "com.quillet.taskbell", probe.executable()});
        auto planted = test::makeBundle(
            temp / "planted", "Taskbell.app",
            {"6.6.6", "com.quillet.taskbell", "#!/bin/sh\necho planted >" + probe.path().string() + "\n"});
        int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(::inotify_add_watch(watch, (temp / "Applications").c_str(), IN_MOVED_FROM), 0);
        std::error_code late;
        std::thread planter([&] {
            char event[sizeof(inotify_event) + 256];
            if (::read(watch, event, sizeof event) > 0) {
                fs::rename(planted, installed, late);
            }
        });
        auto result = runScript(temp / "update", fresh, installed);
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
        EXPECT_EQ(plistOf(temp / "Applications" / "Taskbell.app.old"), installedPlist);
        return;
    }
    FAIL() << "the planted folder never arrived before the new bundle was moved in";
}

TEST(SwapAndRelaunch, RefusesBeforeWritingAnything)
{
    test::TempDir temp;
    auto fresh = test::makeBundle(temp / "update", "Taskbell.app");
    auto refusal = [&](const fs::path& installed, UpdateError::Kind kind) {
        auto error = test::caught<UpdateError>([&] { update::swapAndRelaunch(fresh, installed, deadPid()); });
        EXPECT_TRUE(error && error->kind() == kind) << installed;
        EXPECT_FALSE(fs::exists(installed.parent_path() / ".Taskbell.app.update")) << installed;
        return error ? std::string(error->what()) : "";
    };
    fs::path nowhere = temp / "missing-folder" / "Taskbell.app";
    EXPECT_EQ(refusal(nowhere, UpdateError::Kind::notWritable),
              "Can't replace " + nowhere.string() + " \u2014 no write permission.");
    // A folder that exists but holds no installed bundle: the script could never put it back.
    EXPECT_THROW(update::swapAndRelaunch(fresh, temp / "Taskbell.app", deadPid()), std::system_error);
    EXPECT_FALSE(fs::exists(temp / ".Taskbell.app.update"));

    // A folder others may write to, or someone else's.
    auto shared = test::makeBundle(temp / "Shared", "Taskbell.app");
    fs::permissions(temp / "Shared", static_cast<fs::perms>(01777));
    EXPECT_EQ(refusal(shared, UpdateError::Kind::unsafeFolder),
              "Can't update Taskbell in " + (temp / "Shared").string() +
                  " \u2014 other users can change that folder. Install Taskbell "
                  "in a folder only you can write to.");
    if (::geteuid() == 0) {
        fs::permissions(temp / "Shared", static_cast<fs::perms>(0755));
        ASSERT_EQ(::chown((temp / "Shared").c_str(), 65534, 65534), 0);
        refusal(shared, UpdateError::Kind::unsafeFolder);
    } else { // permission bits do not stop root
        auto readOnly = test::makeBundle(temp / "ReadOnly", "Taskbell.app");
        fs::permissions(temp / "ReadOnly", static_cast<fs::perms>(0555));
        refusal(readOnly, UpdateError::Kind::notWritable);
    }
    EXPECT_FALSE(fs::exists(temp / "update" / "install.sh"));
}

TEST(InstallScript, PutsThePreviousBundleBackWhenTheRelaunchFailsAtOnce)
{
    for (const Json& row : kPrograms.at("relaunch")) {
        SCOPED_TRACE(row[0]);
        test::TempDir temp;
        test::LaunchProbe probe(temp / "launched");
        auto withProbe = [&](const std::string& text) { return test::fillIn(text, "{probe}", probe.path()); };
        auto installed = makeInstalled(temp.path(), withProbe("#!/bin/sh\necho old > '{probe}'\n"));
        fs::path staged = temp / "Applications" / ".Taskbell.app.update" / "Taskbell.app";
        test::makeBundle(staged.parent_path(), "Taskbell.app",
                         {"2.0.0", "com.quillet.taskbell", "#!/bin/sh\n" + withProbe(row[1]) + "\n"});

        EXPECT_EQ(runScript(staged.parent_path(), staged, installed).status, row[2]);
        EXPECT_EQ(probe.awaitLine(), row[3]);
        EXPECT_NE(plistOf(installed).find(row[4]), std::string::npos);
        EXPECT_FALSE(fs::exists(temp / "Applications" / "Taskbell.app.old"));
        // A bundle that failed waits in the staging folder, which the restored program removes when it starts.
        EXPECT_EQ(fs::exists(staged), row[2] != 0);
    }
}

TEST(StartCheck, RefusesAProgramThatCannotStartHere)
{
    const std::string answer = R"(echo '{"jsonrpc":"2.0","id":1,"result":{"protocolVersion":"2025-06-18"}}')";
    ::setenv("TASKBELL_LEAK", "1", 1);
    for (const Json& row : kPrograms.at("startCheck")) {
        SCOPED_TRACE(row[0]);
        test::TempDir temp;
        auto bundle = test::makeBundle(
            temp / "unpacked", "Taskbell.app",
            {"2.0.0", "com.quillet.taskbell", "#!/bin/sh\n" + test::fillIn(row[1], "{answer}", answer) + "\n"});
        auto text =
            test::updateErrorText([&] { update::verifyStarts(bundle, temp.path(), std::chrono::milliseconds(300)); });
        const std::string reason = row[2];
        if (reason.empty()) {
            EXPECT_EQ(text, "(no failure)");
        } else {
            EXPECT_TRUE(text.starts_with("Download rejected: this version can't start on this system.\n")) << text;
            EXPECT_NE(text.find(reason), std::string::npos) << text;
            EXPECT_EQ(text.find("second line"), std::string::npos) << text;
        }
    }
    ::unsetenv("TASKBELL_LEAK");
}
