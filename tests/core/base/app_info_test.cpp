#include <set>

#include <gtest/gtest.h>

#include "core/base/app_info.h"

using namespace taskbell;

TEST(AppInfo, ChangelogHasThirteenEntriesNewestFirst)
{
    const auto& log = AppInfo::changelog();
    ASSERT_EQ(log.size(), 13u);
    EXPECT_EQ(log.front().version, "1.10.0");
    EXPECT_EQ(log.front().date, "2026-09-24");
    EXPECT_EQ(log.back().version, "1.0.0");
    EXPECT_EQ(log.back().changes.size(), 7u);
    EXPECT_EQ(log[5].changes[1],
              "Run it with `Taskbell --mcp` \u2014 it reuses the credentials and project you already set in Settings.");
    EXPECT_EQ(log[2].changes[0],
              "Settings \u2192 MCP server now also shows an example .mcp.json, with its own Copy button.");
    EXPECT_EQ(log[10].changes[0],
              "Quick-done button: click the green \u2713 on any task row to move it straight to Done.");
    std::set<std::array<unsigned char, 16>> ids;
    for (const auto& entry : log) {
        ids.insert(entry.id);
    }
    EXPECT_EQ(ids.size(), log.size());
}

TEST(AppInfo, FallbacksWhenInfoValuesAreMissing)
{
    std::string info = "2.0.1";
    EXPECT_EQ(AppInfo::versionFrom(&info, AppInfo::changelog()), "2.0.1");
    EXPECT_EQ(AppInfo::versionFrom(nullptr, AppInfo::changelog()), "1.10.0");
    EXPECT_EQ(AppInfo::versionFrom(nullptr, {}), "1.0.0");
    EXPECT_EQ(AppInfo::buildFrom(nullptr), "1");
    // Outside a bundle the values fixed at build time apply.
    EXPECT_EQ(AppInfo::version(), "1.10.0");
    EXPECT_EQ(AppInfo::build(), "1");
}
