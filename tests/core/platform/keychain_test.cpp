// The API token in the real Secret Service (gnome-keyring in the private session of with-keyring.sh), checked against
// what secret-tool sees and writes, and what the calls do when no Secret Service answers.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.h"
#include "core/platform/keychain.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;

namespace {

const std::string kService(Keychain::kService);

// Only inside the private keyring session: never touch the keyring of the person running the tests.
#define REQUIRE_PRIVATE_KEYRING()                                                                                      \
    if (!std::getenv("TASKBELL_KEYRING_SESSION")) {                                                                    \
        GTEST_SKIP() << "run under scripts/with-keyring.sh";                                                           \
    }

// A per-test account, so concurrent test processes never share an item.
std::string uniqueAccount(const std::string& name)
{
    return "test-" + name + "-" + std::to_string(::getpid());
}

// secret-tool with the given command and attributes; a secret to store goes through standard input.
std::string secretTool(const std::string& command, const std::string& account, const std::string& input = {})
{
    std::vector<std::string> argv{"/usr/bin/secret-tool", command, "service", kService, "account", account};
    if (command == "store" || command == "search") {
        argv.insert(argv.begin() + 2, command == "store" ? "--label=test" : "--all");
    }
    ProcessResult result = runProcess(argv, {.input = input});
    EXPECT_TRUE(result.exitCode == 0 || command != "store") << result.err;
    return result.out;
}

int itemCount(const std::string& account)
{
    std::string out = "\n" + secretTool("search", account);
    int count = 0;
    for (std::size_t at = 0; (at = out.find("\n[", at)) != std::string::npos; ++at) {
        ++count;
    }
    return count;
}

const Json kCases = testData("platform/keychain.json");

std::string unreachable(const std::string& baseURL)
{
    return fillIn(kCases.at("unreachable"), "{baseURL}", baseURL);
}

} // namespace

TEST(Keychain, RoundTripThroughTheSecretServiceAndSecretTool)
{
    REQUIRE_PRIVATE_KEYRING();
    std::string account = uniqueAccount("roundtrip");
    EXPECT_EQ(Keychain::get(account), std::nullopt);
    EXPECT_EQ(Keychain::read(account).status, Keychain::ReadStatus::notStored);

    EXPECT_TRUE(Keychain::set("first-token-\xc3\xa9", account));
    EXPECT_EQ(Keychain::get(account), "first-token-\xc3\xa9");
    EXPECT_EQ(secretTool("lookup", account), "first-token-\xc3\xa9");

    // Saving twice replaces the item instead of adding a second one.
    EXPECT_TRUE(Keychain::set("second-token", account));
    EXPECT_EQ(itemCount(account), 1);
    EXPECT_EQ(Keychain::get(account), "second-token");

    // What another tool wrote is read back, also when it used another schema name.
    secretTool("store", account, "from-secret-tool");
    EXPECT_EQ(Keychain::read(account).value, "from-secret-tool");
    EXPECT_TRUE(Keychain::set("mine-again", account));
    EXPECT_EQ(itemCount(account), 1) << "items of other schemas are deleted too";

    // Another account is a different item.
    std::string other = uniqueAccount("other");
    EXPECT_TRUE(Keychain::set("other-token", other));
    EXPECT_TRUE(Keychain::set("", account));
    EXPECT_EQ(itemCount(account), 0);
    EXPECT_EQ(Keychain::get(account), std::nullopt);
    EXPECT_EQ(Keychain::get(other), "other-token");
    EXPECT_TRUE(Keychain::set("", other));
    EXPECT_TRUE(Keychain::set("", other)) << "deleting what is not there is fine";

    // Data that is not UTF-8 reads as nothing.
    secretTool("store", account, std::string("tok\xff\xfe\x80", 6));
    EXPECT_EQ(Keychain::read(account).status, Keychain::ReadStatus::notStored);
    EXPECT_TRUE(Keychain::set("", account));
    EXPECT_EQ(itemCount(account), 0);
}

// Every call of the process, from any thread, talks over one connection kept open: no descriptor is opened per
// call, and concurrent calls each get their own answer.
TEST(Keychain, CallsFromManyThreadsShareOneConnection)
{
    REQUIRE_PRIVATE_KEYRING();
    std::string account = uniqueAccount("shared");
    ASSERT_TRUE(Keychain::set("shared-token", account));
    auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    auto before = openDescriptors();
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                answered += Keychain::get(account) == "shared-token";
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answered, 20);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(Keychain::set("", account));
}

// That the MCP mode reads the token item the application saves is checked through the tools (tools_test.cpp).
TEST(Keychain, WithoutASessionBusEveryCallGivesUpAtOnce)
{
    TempDir dir;
    writeFile(dir / "app" / "settings.json", R"({"baseURL":"https://acme.atlassian.net"})");
    std::filesystem::create_directories(dir / "runtime");
    const Json& environments = kCases.at("noBus");
    for (const Json& row : environments) {
        std::map<std::string, std::optional<std::string>> env;
        for (const auto& [name, value] : row.items()) {
            env[name] = value.is_null() ? std::nullopt : std::optional(fillIn(value, "{dir}", dir.path().string()));
        }
        // The child's time-out only guards against a hang; the calls themselves must not wait at all.
        ProcessResult result = runProcess({SETTINGS_HELPER, "probe", (dir / "app").string()}, {.env = env});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, unreachable("https://acme.atlassian.net")) << row; // settings still load
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "runtime" / "bus")) << "no bus was started";
}

TEST(Keychain, ASecretServiceThatNeverAnswersCannotHangTheCaller)
{
    TempDir dir;
    // A hang guard only: each call gives up after Keychain::kTimeout.
    ProcessResult result =
        runProcess({"/usr/bin/dbus-run-session", "--", SETTINGS_HELPER, "silent-probe", (dir / "app").string()},
                   {.timeout = std::chrono::minutes(3)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "owned=1\n" + unreachable(""));
}

TEST(Keychain, LockedCollectionGivesNoValueAndNoPrompt)
{
    REQUIRE_PRIVATE_KEYRING();
    // A keyring session of its own: locking the shared one would disturb tests running alongside. Storing into a locked
    // collection would prompt, so "set" fails.
    TempDir dir;
    const std::string lockThenProbe = "printf %s lock-test-token | secret-tool store --label=t service "
                                      "com.quillet.taskbell account apiToken && "
                                      "gdbus call --session --dest org.freedesktop.secrets --object-path "
                                      "/org/freedesktop/secrets --method "
                                      "org.freedesktop.Secret.Service.Lock "
                                      "\"['/org/freedesktop/secrets/collection/login']\" >/dev/null && "
                                      "exec \"$0\" probe \"$1\"";
    ProcessResult result =
        runProcess({TASKBELL_SOURCE_DIR "/scripts/with-keyring.sh", "/bin/sh", "-c", lockThenProbe, SETTINGS_HELPER,
                    (dir / "app").string()},
                   {.env = {{"TASKBELL_KEYRING_SESSION", std::nullopt}}, .timeout = std::chrono::minutes(2)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, kCases.at("locked"));
}

// The keyring restarting under a running program (an update, a crash) must not leave it unable to read: the session
// it kept belongs to the old keyring.
TEST(Keychain, ReadsAgainAfterTheKeyringRestarts)
{
    REQUIRE_PRIVATE_KEYRING();
    const std::string storeThenReread = "printf %s restart-test-token | secret-tool store --label=t service "
                                        "com.quillet.taskbell account apiToken && exec \"$0\" reread \"$1\"";
    // Ends this session's keyring (found through the bus, never by name: other sessions run alongside), waits until
    // it has left the bus, and starts a new one on the same keyring files, as with-keyring.sh did.
    const std::string restart =
        "bus() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method "
        "org.freedesktop.DBus.$1 org.freedesktop.secrets; } && "
        "pid=$(bus GetConnectionUnixProcessID | sed 's/^(uint32 \\([0-9]*\\).*/\\1/') && kill \"$pid\" && "
        "for i in $(seq 100); do bus NameHasOwner | grep -q true || break; sleep 0.1; done && "
        "printf %s taskbell-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "
        "gdbus wait --session --timeout 10 org.freedesktop.secrets";
    ProcessResult result = runProcess(
        {TASKBELL_SOURCE_DIR "/scripts/with-keyring.sh", "/bin/sh", "-c", storeThenReread, SETTINGS_HELPER, restart},
        {.env = {{"TASKBELL_KEYRING_SESSION", std::nullopt}}, .timeout = std::chrono::minutes(2)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // The restarted keyring may print its environment on the same output.
    std::string ours;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("before=", 0) == 0 || line.rfind("restarted=", 0) == 0 || line.rfind("after=", 0) == 0) {
            ours += line + "\n";
        }
    }
    EXPECT_EQ(ours, "before=found\nrestarted=1\nafter=found\n") << result.out;
}
