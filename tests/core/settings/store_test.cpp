// The settings file in a temporary folder: lookups, defaults, atomic saves, locking and permissions.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "core/settings/app_settings.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

const Json kValues = testData("settings/values.json");

AppSettings loadFrom(const std::string& json)
{
    return AppSettings::from(SettingsValues(Json::parse(json)));
}

} // namespace

TEST(SettingsValues, LookupsFollowTheStoredTypes)
{
    SettingsValues values(Json::parse(
        R"({"s":"text","i":42,"neg":-7,"f":2.0,"half":2.5,"is":"15","bad":"15 ",
        "b":true,"big":18446744073709551615,"o":{"x":1}})"));
    using Text = std::optional<std::string>;
    for (const auto& [key, text] : std::vector<std::pair<std::string, Text>>{
             {"s", "text"}, {"i", "42"}, {"half", "2.5"}, {"b", {}}, {"o", {}}, {"missing", {}}}) {
        EXPECT_EQ(values.text(key), text) << key;
    }
    // "big" lies beyond the 64-bit signed range.
    using Integer = std::optional<std::int64_t>;
    for (const auto& [key, integer] : std::vector<std::pair<std::string, Integer>>{
             {"i", 42}, {"neg", -7}, {"f", 2}, {"is", 15}, {"half", {}}, {"bad", {}}, {"b", {}}, {"big", {}}}) {
        EXPECT_EQ(values.integer(key), integer) << key;
    }
    EXPECT_EQ(values.object("o"), Json::parse(R"({"x":1})"));
    EXPECT_TRUE(values.object("b")->is_boolean());
}

TEST(AppSettings, FirstStartWithNothingStoredGivesTheDefaults)
{
    TempDir dir;
    AppSettings settings = AppSettings::load(SettingsStore(dir / "missing-folder"));
    EXPECT_EQ(settings,
              (AppSettings{"", "", "", "Task", 2, 30, true, "https://updates.quillet.com/taskbell/appcast.json"}));
    EXPECT_FALSE(fs::exists(dir / "missing-folder")) << "reading creates nothing";
}

TEST(AppSettings, IntegerSettingsDifferInHowTheyTreatZeroAndOtherTypes)
{
    auto read = [](const std::string& key, const std::string& stored) -> Json {
        AppSettings settings = loadFrom("{\"" + key + "\":" + stored + "}");
        return Json{{"monthsBack", settings.monthsBack},
                    {"refreshMinutes", settings.refreshMinutes},
                    {"autoUpdate", settings.autoUpdate},
                    {"notifyAssistantChanges", settings.notifyAssistantChanges}}[key];
    };
    for (const std::string key : {"monthsBack", "refreshMinutes", "autoUpdate", "notifyAssistantChanges"}) {
        for (const Json& row : kValues.at(key)) {
            EXPECT_EQ(read(key, row[0]), row[1]) << key << " " << row[0];
        }
    }
}

TEST(AppSettings, TextsAreKeptAsStored)
{
    AppSettings settings = loadFrom(
        R"({"defaultIssueType":"","baseURL":" acme.atlassian.net/ ","email":7,
        "projectKey":null,"updateFeedURL":"http://localhost:1/feed.json"})");
    EXPECT_EQ(settings,
              (AppSettings{" acme.atlassian.net/ ", "7", "", "", 2, 30, true, "http://localhost:1/feed.json"}));
    EXPECT_EQ(jiraConfig(settings, "tok"), (JiraConfig{" acme.atlassian.net/ ", "7", "tok"}));
}

TEST(AppSettings, SaveWritesAllKeysAndKeepsOthers)
{
    TempDir dir;
    SettingsStore store(dir / "app");
    writeFile(store.filePath(), R"({"someoneElses":{"kept":[1,2]},"monthsBack":7})");
    AppSettings settings{"  https://acme.atlassian.net  ",           "me@example.com", "OPS", "", 12, 0, false,
                         "https://example.com/taskbell/appcast.json"};
    settings.notifyAssistantChanges = false;
    settings.save(store);

    // Exactly these keys: the token is never among them.
    EXPECT_EQ(Json::parse(readFile(store.filePath())),
              Json::parse(
                  R"({"someoneElses":{"kept":[1,2]},"baseURL":"  https://acme.atlassian.net  ",
        "email":"me@example.com","projectKey":"OPS","defaultIssueType":"","monthsBack":12,"refreshMinutes":0,
        "autoUpdate":false,"updateFeedURL":"https://example.com/taskbell/appcast.json",
        "notifyAssistantChanges":false})"));
    EXPECT_EQ(AppSettings::load(store), settings);
    EXPECT_EQ(listTree(store.folder()), (std::vector<std::string>{"settings.json", "settings.lock"}))
        << "no temporary files are left behind";
}

TEST(SettingsStore, DamagedFileIsNeverRewrittenByReadingAndIsKeptAsideOnSave)
{
    for (const std::string row : kValues.at("damaged")) {
        const std::string damaged = row == "{big}"
                                        ? "{\"pad\":\"" + std::string(SettingsStore::kMaxFileBytes, 'x') + "\"}"
                                    : row == "{deep}" ? "{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}"
                                                      : withBytes(row);
        TempDir dir;
        SettingsStore store(dir / "app");
        writeFile(store.filePath(), damaged);
        EXPECT_EQ(AppSettings::load(store), AppSettings{});
        EXPECT_EQ(readFile(store.filePath()), damaged);

        AppSettings edited;
        edited.email = "new@example.com";
        edited.save(store);
        EXPECT_EQ(readFile(store.folder() / "settings.json.corrupt"), damaged);
        EXPECT_EQ(AppSettings::load(store), edited);
        EXPECT_EQ(Json::parse(readFile(store.filePath())).size(), 9u) << "a fresh file, nothing merged";
    }
}

TEST(SettingsStore, SaveThatCannotKeepTheOldFileSafeFailsLoudly)
{
    TempDir blocked;
    writeFile(blocked / "app", "not a folder");
    SettingsStore misplaced(blocked / "app");
    EXPECT_THROW(AppSettings{}.save(misplaced), SettingsError);
    EXPECT_EQ(readFile(blocked / "app"), "not a folder");

    // The damaged file cannot be moved aside: the save fails rather than overwrite it.
    SettingsStore stuck(blocked / "stuck");
    writeFile(stuck.filePath(), "{damaged");
    writeFile(stuck.folder() / "settings.json.corrupt" / "occupied", "");
    EXPECT_THROW(AppSettings{}.save(stuck), SettingsError);
    EXPECT_EQ(readFile(stuck.filePath()), "{damaged");
}

TEST(SettingsStore, UnreadableFileReadsAsNothingAndIsKeptAside)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    TempDir dir;
    SettingsStore store(dir / "app");
    writeFile(store.filePath(), R"({"email":"old@example.com"})");
    fs::permissions(store.filePath(), fs::perms::none);
    EXPECT_EQ(AppSettings::load(store).email, "");
    AppSettings{}.save(store);
    EXPECT_TRUE(fs::exists(store.folder() / "settings.json.corrupt"));
    EXPECT_EQ(AppSettings::load(store), AppSettings{});

    // A folder that cannot be written: the save fails loudly and the old file stays.
    fs::permissions(store.folder(), fs::perms::owner_read | fs::perms::owner_exec);
    AppSettings edited;
    edited.email = "lost@example.com";
    try {
        edited.save(store);
        ADD_FAILURE() << "save into a read-only folder succeeded";
    } catch (const SettingsError& error) {
        EXPECT_NE(std::string(error.what()).find("Could not save the settings"), std::string::npos);
    }
    fs::permissions(store.folder(), fs::perms::owner_all);
    EXPECT_EQ(AppSettings::load(store), AppSettings{});
}

TEST(SettingsStore, OwnFolderAndFileArePrivateWhateverTheUmask)
{
    mode_t previous = ::umask(0);
    for (const Json& row : kValues.at("ownFolder")) {
        SCOPED_TRACE(row[0]);
        const bool linked = row[1];
        auto mode = [&](int column) {
            return static_cast<unsigned>(std::stoul(row[column].get<std::string>(), nullptr, 8));
        };
        TempDir dir;
        SettingsStore store(dir / "config" / "com.quillet.taskbell");
        fs::path real = linked ? dir / "shared" : store.folder();
        fs::create_directories(store.folder().parent_path());
        if (mode(2) != 0) {
            fs::create_directories(real);
            ::chmod(real.c_str(), mode(2));
        }
        if (linked) {
            fs::create_directory_symlink(real, store.folder());
        }
        if (mode(3) != 0) {
            writeFile(store.filePath(), "{}");
            ::chmod(store.filePath().c_str(), mode(3));
        }
        AppSettings settings;
        settings.projectKey = "TB";
        settings.save(store);
        EXPECT_EQ(modeOf(real), mode(4));
        EXPECT_EQ(modeOf(store.filePath()), 0600u);
        EXPECT_EQ(modeOf(store.folder() / "settings.lock"), 0600u);
        EXPECT_EQ(fs::is_symlink(store.folder()), linked);
        EXPECT_EQ(AppSettings::load(store).projectKey, "TB");
    }
    ::umask(previous);
}

TEST(SettingsStore, ConcurrentReaderNeverSeesATornFile)
{
    TempDir dir;
    SettingsStore store(dir / "app");
    std::atomic<bool> done{false};
    int reads = 0, torn = 0, backwards = 0;
    std::thread reader([&] {
        // Keep reading until the writer is done, and at least a few times after the first file exists.
        for (std::int64_t last = -1; !done || reads < 10;) {
            std::string text = readFile(store.filePath());
            if (text.empty()) {
                continue; // not written yet
            }
            ++reads;
            std::optional<Json> parsed = parseJson(text, 64);
            if (!parsed || !parsed->is_object() || parsed->size() != 9) {
                ++torn;
                continue;
            }
            std::int64_t counter = std::stoll((*parsed)["email"].get<std::string>());
            backwards += counter < last;
            last = counter;
        }
    });
    AppSettings settings;
    for (int i = 0; i < 2000; ++i) {
        settings.email = std::to_string(i);
        settings.save(store);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(AppSettings::load(store).email, "1999");
}

TEST(SettingsStore, TwoProcessesUpdatingDifferentKeysLoseNothing)
{
    TempDir dir;
    SettingsStore store(dir / "app");
    constexpr int kCount = 300;
    ChildProcess other({SETTINGS_HELPER, "rmw", store.folder().string(), "fromChild", std::to_string(kCount)});
    std::thread sibling([&] {
        SettingsStore own(store.folder());
        for (int i = 0; i < kCount; ++i) {
            own.update([](SettingsValues& v) { v.setInteger("fromThread", v.integer("fromThread").value_or(0) + 1); });
        }
    });
    for (int i = 0; i < kCount; ++i) {
        store.update([](SettingsValues& v) { v.setInteger("fromTest", v.integer("fromTest").value_or(0) + 1); });
    }
    sibling.join();
    ProcessResult result = other.wait(std::chrono::minutes(5));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    SettingsValues values = store.load();
    EXPECT_EQ(values.integer("fromChild"), kCount);
    EXPECT_EQ(values.integer("fromTest"), kCount);
    EXPECT_EQ(values.integer("fromThread"), kCount);
}
