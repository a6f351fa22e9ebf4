#include <gtest/gtest.h>

#include "core/update/manifest.h"
#include "core/update/version_compare.h"
#include "failure.h"
#include "test_data.h"

using namespace taskbell;

namespace {
const Json kCases = test::testData("update/manifest.json");
} // namespace

TEST(UpdateManifest, DecodesAllFieldsAndTreatsNullAsAbsent)
{
    EXPECT_EQ(parseManifest(R"({"version":"1.11.0","build":"42","date":"2026-10-01",
        "url":"https://example.com/T.zip","sha256":"AB12","notes":"Fixes","minimumSystemVersion":"14.0",
        "extra":{"ignored":[1,2]}})"),
              (UpdateManifest{"1.11.0", "42", "2026-10-01", "https://example.com/T.zip", "AB12", "Fixes", "14.0"}));
    EXPECT_EQ(parseManifest(R"({"version":"1.0","url":"u","sha256":null,"notes":null,"build":""})"),
              (UpdateManifest{"1.0", "", {}, "u", {}, {}, {}}));
}

TEST(UpdateManifest, RefusesMissingOrMistypedFields)
{
    for (const Json& row : kCases.at("refused")) {
        std::string body = row[0] == "[" ? std::string(100000, '[') : row[0].get<std::string>();
        EXPECT_EQ(test::failure<ManifestDecodeError>([&] { parseManifest(body); }), row[1]) << row[0];
    }
}

TEST(VersionCompare, NumericRunsAndPrefixes)
{
    auto order = [](const std::string& a, const std::string& b) {
        return (compareVersions(a, b) > 0) - (compareVersions(a, b) < 0);
    };
    for (const Json& row : kCases.at("versions")) {
        const std::string a = row[0], b = row[1];
        EXPECT_EQ(order(a, b), row[2]) << a << " vs " << b;
        EXPECT_EQ(order(b, a), -row[2].get<int>()) << b << " vs " << a;
        EXPECT_EQ(isNewerVersion(a, b), row[2] > 0) << a << " vs " << b;
    }
}
