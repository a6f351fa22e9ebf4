#include <gtest/gtest.h>

#include "core/update/manifest.h"
#include "core/update/version_compare.h"
#include "failure.h"

using namespace taskbell;

TEST(UpdateManifest, DecodesAllFieldsAndTreatsNullAsAbsent)
{
    EXPECT_EQ(parseManifest(R"({"version":"1.11.0","build":"42","date":"2026-10-01",
        "url":"https://example.com/T.zip","sha256":"AB12","notes":"Fixes","minimumSystemVersion":"14.0",
        "extra":{"ignored":[1,2]}})"),
              (UpdateManifest{"1.11.0", "42", "2026-10-01", "https://example.com/T.zip", "AB12", "Fixes", "14.0"}));
    EXPECT_EQ(parseManifest(R"({"version":"1.0","url":"u","sha256":null,"notes":null,"build":""})"),
              (UpdateManifest{"1.0", "", {}, "u", {}, {}, {}}));
}

// The texts of a refused feed as a manual check shows them.
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
        EXPECT_EQ(test::failure<ManifestDecodeError>([&] { parseManifest(body); }), message) << body.substr(0, 80);
    }
}

TEST(VersionCompare, NumericRunsAndPrefixes)
{
    const std::tuple<const char*, const char*, int> cases[] = {
        {"1.10.0", "1.9.3", 1},
        {"1.2.0", "1.2", 1},
        {"1.10.0", "1.10.0", 0},
        {"2", "1.99.99", 1},
        {"1.0.10", "1.0.9", 1},
        // Digit runs of any length compare by value without overflowing.
        {"1.100000000000000000000000001", "1.99999999999999999999999999", 1},
        {"1.02", "1.2", 0},
        // Other characters compare one by one; '-' orders before '.'.
        {"1.2b", "1.2a", 1},
        {"1.2-beta", "1.2.0", -1},
        {"", "0", -1},
        {"", "", 0}};
    for (const auto& [a, b, order] : cases) {
        EXPECT_EQ((compareVersions(a, b) > 0) - (compareVersions(a, b) < 0), order) << a << " vs " << b;
        EXPECT_EQ((compareVersions(b, a) > 0) - (compareVersions(b, a) < 0), -order) << b << " vs " << a;
        EXPECT_EQ(isNewerVersion(a, b), order > 0) << a << " vs " << b;
    }
}
