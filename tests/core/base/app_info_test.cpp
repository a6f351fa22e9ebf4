// Version and build of a program with and without a bundle, as the About window and the MCP handshake
// report them.
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "core/base/app_info.h"
#include "core/base/bundle.h"
#include "core/platform/executable.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

std::string plist(const std::string& entries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries + "</dict></plist>\n";
}

} // namespace

TEST(AppInfo, VersionAndBuildFallBackByWhereTheProgramRuns)
{
    const Json rows = testData("update/bundles.json").at("appInfo");
    for (const Json& row : rows) {
        TempDir dir;
        std::optional<fs::path> bundle;
        if (!row[0].is_null()) {
            fs::create_directories(dir / "Taskbell.app/Contents/bin");
            writeFile(dir / "Taskbell.app/Contents/Info.plist", row[0].is_string() ? plist(row[0]) : "garbage");
            bundle = bundle::bundleContaining(dir / "Taskbell.app/Contents/bin/taskbell");
            ASSERT_EQ(bundle, dir / "Taskbell.app") << row;
        }
        EXPECT_EQ(AppInfo::versionOf(bundle, row[1]), row[3]) << row;
        EXPECT_EQ(AppInfo::buildOf(bundle, row[2]), row[4]) << row;
    }
    // A test binary runs from the build tree: the values fixed at build time.
    EXPECT_FALSE(platform::runningBundle());
    EXPECT_EQ(platform::runningVersion(), "1.10.0");
    EXPECT_EQ(platform::runningBuild(), "1");
}

TEST(AppInfo, BundleIsTheNearestAppFolderWithAnInfoPlist)
{
    TempDir dir;
    fs::create_directories(dir / "Outer.app/Contents/Inner.app/Contents/bin");
    writeFile(dir / "Outer.app/Contents/Info.plist", plist(""));
    EXPECT_EQ(bundle::bundleContaining(dir / "Outer.app/Contents/Inner.app/Contents/bin/taskbell"), dir / "Outer.app");
    writeFile(dir / "Outer.app/Contents/Inner.app/Contents/Info.plist", plist(""));
    EXPECT_EQ(bundle::bundleContaining(dir / "Outer.app/Contents/Inner.app/Contents/bin/taskbell"),
              dir / "Outer.app/Contents/Inner.app");
    EXPECT_FALSE(bundle::bundleContaining(dir / "bin/taskbell"));
}

TEST(AppInfo, ChangelogEntriesHaveDistinctIdsNewestFirst)
{
    const auto& log = AppInfo::changelog();
    ASSERT_FALSE(log.empty());
    std::set<Uuid> ids;
    for (const auto& entry : log) {
        ids.insert(entry.id);
        EXPECT_FALSE(entry.changes.empty()) << entry.version;
    }
    EXPECT_EQ(ids.size(), log.size());
    EXPECT_EQ(log.front().version, AppInfo::versionOf(std::nullopt, ""));
}
