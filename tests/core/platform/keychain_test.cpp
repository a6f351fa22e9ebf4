// The API token in the real Secret Service (gnome-keyring in the private session of with-keyring.sh),
// checked against what secret-tool sees and writes.
#include <cstdlib>

#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.h"
#include "core/platform/keychain.h"
#include "temp_dir.h"

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

ProcessResult secretTool(const std::vector<std::string>& args, const std::string& input = {})
{
    std::vector<std::string> argv{"/usr/bin/secret-tool"};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.input = input;
    return runProcess(argv, options);
}

void storeWithSecretTool(const std::string& account, const std::string& bytes)
{
    // The secret goes through standard input, never the command line.
    ProcessResult result = secretTool({"store", "--label=test", "service", kService, "account", account}, bytes);
    ASSERT_EQ(result.exitCode, 0) << result.err;
}

std::string lookupWithSecretTool(const std::string& account)
{
    return secretTool({"lookup", "service", kService, "account", account}).out;
}

int itemCount(const std::string& account)
{
    std::string out = secretTool({"search", "--all", "service", kService, "account", account}).out;
    int count = 0;
    for (std::size_t at = 0; (at = out.find('[', at)) != std::string::npos; ++at) {
        count += at == 0 || out[at - 1] == '\n';
    }
    return count;
}

std::map<std::string, std::string> parseProbe(const std::string& out)
{
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = out.substr(start, end - start);
        std::size_t eq = line.find('=');
        values[line.substr(0, eq)] += (values.count(line.substr(0, eq)) ? "|" : "") + line.substr(eq + 1);
    }
    return values;
}

// Checks the probe's answers, each given as "question=answer".
void expectAnswers(const std::string& out, const std::vector<std::string>& expected)
{
    auto probe = parseProbe(out);
    for (const std::string& line : expected) {
        std::size_t eq = line.find('=');
        EXPECT_EQ(probe[line.substr(0, eq)], line.substr(eq + 1)) << line << " in\n" << out;
    }
}

const std::vector<std::string> kUnreachable{
    "read=unreachable", "get=none", "set=0", "token=empty",
    "diagnostic=cannot read the API token \u2014 no Secret Service is reachable"};

} // namespace

TEST(Keychain, RoundTripThroughTheSecretServiceAndSecretTool)
{
    REQUIRE_PRIVATE_KEYRING();
    std::string account = uniqueAccount("roundtrip");
    EXPECT_EQ(Keychain::get(account), std::nullopt);
    EXPECT_EQ(Keychain::read(account).status, Keychain::ReadStatus::notStored);

    EXPECT_TRUE(Keychain::set("first-token-\xc3\xa9", account));
    EXPECT_EQ(Keychain::get(account), "first-token-\xc3\xa9");
    EXPECT_EQ(lookupWithSecretTool(account), "first-token-\xc3\xa9");

    // Saving twice replaces the item instead of adding a second one.
    EXPECT_TRUE(Keychain::set("second-token", account));
    EXPECT_EQ(itemCount(account), 1);
    EXPECT_EQ(Keychain::get(account), "second-token");

    // What another tool wrote is read back, also when it used another schema name.
    storeWithSecretTool(account, "from-secret-tool");
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
}

TEST(Keychain, DataThatIsNotUtf8ReadsAsNothing)
{
    REQUIRE_PRIVATE_KEYRING();
    std::string account = uniqueAccount("binary");
    storeWithSecretTool(account, std::string("tok\xff\xfe\x80", 6));
    EXPECT_EQ(itemCount(account), 1);
    EXPECT_EQ(Keychain::get(account), std::nullopt);
    EXPECT_EQ(Keychain::read(account).status, Keychain::ReadStatus::notStored);
    EXPECT_TRUE(Keychain::set("", account));
    EXPECT_EQ(itemCount(account), 0);
}

// That the MCP mode reads the token item the application saves is checked through the tools (tools_test.cpp).
TEST(Keychain, WithoutASessionBusEveryCallGivesUpAtOnce)
{
    TempDir dir;
    std::string folder = (dir / "app").string();
    writeFile(dir / "app" / "settings.json", R"({"baseURL":"https://acme.atlassian.net"})");
    std::filesystem::create_directories(dir / "runtime");
    std::vector<std::map<std::string, std::optional<std::string>>> environments{
        {{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"XDG_RUNTIME_DIR", (dir / "runtime").string()}},
        {{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}, {"XDG_RUNTIME_DIR", std::nullopt}},
        {{"DBUS_SESSION_BUS_ADDRESS", "autolaunch:"}, {"DISPLAY", ":0"}},
        {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir / "runtime" / "nobody-listens").string()}},
    };
    for (const auto& env : environments) {
        // The child's time-out only guards against a hang; the calls themselves must not wait at all.
        ProcessOptions options;
        options.env = env;
        options.timeout = std::chrono::seconds(60);
        ProcessResult result = runProcess({SETTINGS_HELPER, "probe", folder}, options);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        auto expected = kUnreachable;
        expected.insert(expected.end(), {"clear=0", "baseURL=https://acme.atlassian.net"}); // settings still load
        expectAnswers(result.out, expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "runtime" / "bus")) << "no bus was started";
}

TEST(Keychain, ASecretServiceThatNeverAnswersCannotHangTheCaller)
{
    TempDir dir;
    ProcessOptions options;
    options.timeout = std::chrono::minutes(3); // a hang guard only: each call gives up after Keychain::kTimeout
    ProcessResult result = runProcess(
        {"/usr/bin/dbus-run-session", "--", SETTINGS_HELPER, "silent-probe", (dir / "app").string()}, options);
    ASSERT_FALSE(result.timedOut);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(parseProbe(result.out)["owned"], "1") << result.out;
    expectAnswers(result.out, kUnreachable);
}

TEST(Keychain, LockedCollectionGivesNoValueAndNoPrompt)
{
    REQUIRE_PRIVATE_KEYRING();
    // A keyring session of its own: locking the shared one would disturb tests running alongside.
    TempDir dir;
    ProcessOptions options;
    options.env = {{"TASKBELL_KEYRING_SESSION", std::nullopt}};
    options.timeout = std::chrono::seconds(120);
    ProcessResult result = runProcess({std::string(TASKBELL_SOURCE_DIR) + "/scripts/with-keyring.sh", SETTINGS_HELPER,
                                       "lock-probe", (dir / "app").string()},
                                      options);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(parseProbe(result.out)["locked"], "1") << result.out;
    // Storing into a locked collection would prompt, so "set" fails.
    expectAnswers(result.out, {"stored=1", "before=found", "read=locked", "get=none", "set=0", "token=empty",
                               "diagnostic=cannot read the API token \u2014 the keyring is locked"});
    EXPECT_EQ(result.out.find("lock-test-token"), std::string::npos);
}
