// Version and build of a program with and without a bundle, as the About window and the MCP handshake
// report them.
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "core/base/app_info.h"
#include "core/base/bundle.h"
#include "core/platform/executable.h"
#include "temp_dir.h"

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
    struct Case
    {
        const char* name;
        std::optional<std::string> infoPlist; // nothing: not inside a bundle
        std::string builtInVersion, builtInBuild, version, build;
    };
    const Case cases[] = {
        {"outside, fixed at build", std::nullopt, "9.9.9", "77", "9.9.9", "77"},
        {"outside, nothing fixed", std::nullopt, "", "", "1.10.0", "1"},
        {"inside, both keys",
         plist("<key>CFBundleShortVersionString</key><string>2.0.1</string><key>CFBundleVersion</key><string>45</"
               "string>"),
         "9.9.9", "77", "2.0.1", "45"},
        // Inside a bundle the values fixed at build time never apply.
        {"inside, keys missing", plist(""), "9.9.9", "77", "1.10.0", "1"},
        {"inside, other types",
         plist("<key>CFBundleShortVersionString</key><integer>3</integer><key>CFBundleVersion</key><true/>"), "9.9.9",
         "77", "1.10.0", "1"},
        {"inside, not a property list", "garbage", "9.9.9", "77", "1.10.0", "1"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::optional<fs::path> bundle;
        if (c.infoPlist) {
            fs::create_directories(dir / "Taskbell.app/Contents/bin");
            writeFile(dir / "Taskbell.app/Contents/Info.plist", *c.infoPlist);
            bundle = bundle::bundleContaining(dir / "Taskbell.app/Contents/bin/taskbell");
            ASSERT_EQ(bundle, dir / "Taskbell.app") << c.name;
        }
        EXPECT_EQ(AppInfo::versionOf(bundle, c.builtInVersion), c.version) << c.name;
        EXPECT_EQ(AppInfo::buildOf(bundle, c.builtInBuild), c.build) << c.name;
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
