#include <gtest/gtest.h>

#include "core/update/manifest.h"
#include "core/update/version_compare.h"
#include "failure.h"

using namespace taskbell;

namespace {

std::string decodeError(std::string_view body)
{
    return test::failure<ManifestDecodeError>([&] { parseManifest(body); });
}

} // namespace

TEST(UpdateManifest, DecodesAllFieldsAndTreatsNullAsAbsent)
{
    auto full = parseManifest(R"({"version":"1.11.0","build":"42","date":"2026-10-01",
        "url":"https://example.com/T.zip","sha256":"AB12","notes":"Fixes","minimumSystemVersion":"14.0",
        "extra":{"ignored":[1,2]}})");
    EXPECT_EQ(full.version, "1.11.0");
    EXPECT_EQ(full.build, "42");
    EXPECT_EQ(full.date, "2026-10-01");
    EXPECT_EQ(full.url, "https://example.com/T.zip");
    EXPECT_EQ(full.sha256, "AB12");
    EXPECT_EQ(full.notes, "Fixes");
    EXPECT_EQ(full.minimumSystemVersion, "14.0");

    auto sparse = parseManifest(R"({"version":"1.0","url":"u","sha256":null,"notes":null})");
    EXPECT_FALSE(sparse.sha256.has_value());
    EXPECT_FALSE(sparse.notes.has_value());
    EXPECT_FALSE(sparse.build.has_value());

    EXPECT_EQ(parseManifest(R"({"url":"u","version":"1.0","build":""})").build, "");
}

TEST(UpdateManifest, RefusesMissingOrMistypedFields)
{
    const std::pair<std::string, std::string> cases[] = {
        {R"({"version":"1.0"})", "The update feed has no \"url\"."},
        {R"({"version":null,"url":"u"})", "The update feed has no \"version\"."},
        {R"({"version":1.2,"url":"u"})", "The update feed's \"version\" is not a string."},
        {R"({"version":"1","url":"u","sha256":5})", "The update feed's \"sha256\" is not a string."},
        {R"({"version":"1","url":"u","notes":["a"]})", "The update feed's \"notes\" is not a string."},
        {R"({"version":"1","url":"u","minimumSystemVersion":false})",
         "The update feed's \"minimumSystemVersion\" is not a string."},
        {R"(["version","url"])", "The update feed is not a JSON object."},
        {"{\"version\":", "The update feed is not valid JSON."},
        {std::string(100000, '['), "The update feed is not valid JSON."},
        {"", "The update feed is not valid JSON."},
    };
    for (const auto& [body, message] : cases) {
        EXPECT_EQ(decodeError(body), message) << body.substr(0, 80);
    }
}

// The error texts themselves are checked where the updater shows them (tests/app/model/updater_test.cpp).

TEST(VersionCompare, NumericRunsAndPrefixes)
{
    EXPECT_TRUE(isNewerVersion("1.10.0", "1.9.3"));
    EXPECT_FALSE(isNewerVersion("1.9.3", "1.10.0"));
    EXPECT_TRUE(isNewerVersion("1.2.0", "1.2"));
    EXPECT_FALSE(isNewerVersion("1.2", "1.2.0"));
    EXPECT_FALSE(isNewerVersion("1.10.0", "1.10.0"));
    EXPECT_TRUE(isNewerVersion("2", "1.99.99"));
    EXPECT_TRUE(isNewerVersion("1.0.10", "1.0.9"));
    // Digit runs of any length compare by value without overflowing.
    EXPECT_TRUE(isNewerVersion("1.100000000000000000000000001", "1.99999999999999999999999999"));
    EXPECT_EQ(compareVersions("1.02", "1.2"), 0);
    // Other characters compare one by one.
    EXPECT_TRUE(isNewerVersion("1.2b", "1.2a"));
    EXPECT_LT(compareVersions("1.2-beta", "1.2.0"), 0); // '-' orders before '.'
    EXPECT_LT(compareVersions("", "0"), 0);
    EXPECT_EQ(compareVersions("", ""), 0);
}
