#include <cstdlib>

#include <gtest/gtest.h>
#include <plist/plist.h>

#include "core/update/code_signature.h"
#include "core/update/engine.h"
#include "core/update/process_run.h"
#include "core/update/sha256.h"
#include "temp_dir.h"
#include "test_data.h"
#include "update_fixtures.h"

using namespace taskbell;
using taskbell::test::updateErrorText;
namespace fs = std::filesystem;

namespace {

const Json kBundles = test::testData("update/bundles.json");
const std::string kRejected = "Download rejected: not signed by the expected developer.\n";

// The verifier's message, or "valid".
std::string verdict(const fs::path& bundle, const std::string& key)
{
    std::string text = updateErrorText([&] { update::verifySignature(bundle, key); });
    if (text == "(no failure)") {
        return "valid";
    }
    EXPECT_TRUE(text.starts_with(kRejected)) << text;
    return text.substr(kRejected.size());
}

class Signature : public ::testing::Test
{
protected:
    test::TempDir temp;
    update::SigningKey key = update::generateSigningKey();
    fs::path bundle = test::makeBundle(temp.path(), "Taskbell.app");

    void SetUp() override { update::signBundle(bundle, key.privateKeyPem); }
    std::string check() { return verdict(bundle, key.publicKey); }
};

} // namespace

TEST_F(Signature, AcceptsAnUntouchedBundleAndDocumentsItsListing)
{
    EXPECT_EQ(check(), "valid");
    EXPECT_EQ(update::publicKeyOf(key.privateKeyPem), key.publicKey);
    EXPECT_EQ(test::readFile(bundle / "Contents/_CodeSignature/TeamIdentifier"), "7QK4ZR2W9M");
    EXPECT_EQ(fs::file_size(bundle / "Contents/_CodeSignature/Signature"), 64u);
    EXPECT_EQ(test::readFile(bundle / "Contents/_CodeSignature/CodeResources"),
              "taskbell-code-resources 1\nteam 7QK4ZR2W9M\ndir Contents\nfile 0644 " +
                  sha256Hex(test::readFile(bundle / "Contents/Info.plist")) +
                  " Contents/Info.plist\ndir Contents/bin\nfile 0755 " +
                  sha256Hex(test::readFile(bundle / "Contents/bin/taskbell")) + " Contents/bin/taskbell\n");

    // Signing again over an existing seal is fine, and so are names with spaces.
    test::writeFile(bundle / "Contents/Resources/Read Me.txt", "hello");
    update::signBundle(bundle, key.privateKeyPem);
    EXPECT_EQ(check(), "valid");
}

TEST_F(Signature, NamesTheFirstChangedFileAndRefusesLinks)
{
    for (const Json& row : kBundles.at("changes")) {
        const std::string change = row[0], message = row[1];
        fs::remove_all(bundle);
        fs::remove_all(temp / "seal");
        test::makeBundle(temp.path(), "Taskbell.app");
        update::signBundle(bundle, key.privateKeyPem);
        ASSERT_EQ(run("/bin/sh", {"-c", "cd \"$0\" && " + change, bundle.string()}).status, 0) << change;
        EXPECT_EQ(check(), message) << change;
    }
    EXPECT_THROW(update::signBundle(bundle, key.privateKeyPem), std::runtime_error)
        << "the last case left a link to seal";
    fs::create_directory_symlink(bundle, temp / "Linked.app");
    EXPECT_EQ(verdict(temp / "Linked.app", key.publicKey), "bundle is not a folder");
}

TEST_F(Signature, RefusesOtherKeysTeamsAndIdentifiers)
{
    EXPECT_EQ(verdict(bundle, update::generateSigningKey().publicKey), "invalid signature");
    EXPECT_EQ(verdict(bundle, ""), "no trusted key to verify with");
    EXPECT_EQ(verdict(bundle, "not base64!"), "no trusted key to verify with");

    update::signBundle(bundle, key.privateKeyPem, "ABCDE12345");
    EXPECT_EQ(check(), "signed by team ABCDE12345, not 7QK4ZR2W9M");
    // The loose team file cannot overrule the team sealed in the signed listing.
    test::writeFile(bundle / "Contents/_CodeSignature/TeamIdentifier", "7QK4ZR2W9M");
    EXPECT_EQ(check(), "TeamIdentifier does not match the sealed team");

    auto other = test::makeBundle(temp / "other", "Taskbell.app", {"2.0.0", "com.example.impostor", "#!/bin/sh\n"});
    update::signBundle(other, key.privateKeyPem);
    EXPECT_EQ(verdict(other, key.publicKey), "bundle identifier is not com.quillet.taskbell");
    EXPECT_EQ(verdict(test::makeBundle(temp / "plain", "Taskbell.app"), key.publicKey), "bundle is not signed");
    EXPECT_EQ(verdict(temp / "nowhere.app", key.publicKey), "bundle is not a folder");
    // Test builds pin no release key, so nothing verifies against it.
    EXPECT_EQ(update::releasePublicKey(), "");
}

TEST(BundleVersion, MustEqualTheManifestExactly)
{
    test::TempDir temp;
    auto bundle = test::makeBundle(temp.path(), "Taskbell.app", {"1.4", "com.quillet.taskbell", "#!/bin/sh\n"});
    EXPECT_NO_THROW(update::verifyVersion(bundle, "1.4"));
    EXPECT_EQ(updateErrorText([&] { update::verifyVersion(bundle, "1.4.0"); }),
              "Download rejected: bundle is v1.4, manifest promised v1.4.0.");

    // A binary property list reads the same way.
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "CFBundleShortVersionString", plist_new_string("3.1.0"));
    char* data = nullptr;
    uint32_t size = 0;
    plist_to_bin(root, &data, &size);
    test::writeFile(bundle / "Contents/Info.plist", std::string(data, size));
    std::free(data);
    plist_free(root);
    EXPECT_NO_THROW(update::verifyVersion(bundle, "3.1.0"));

    const std::string unreadable = "Download failed: unreadable Info.plist in the downloaded bundle";
    for (const std::string content : kBundles.at("unreadablePlists")) {
        test::writeFile(bundle / "Contents/Info.plist", content);
        EXPECT_EQ(updateErrorText([&] { update::verifyVersion(bundle, "1.4"); }), unreadable) << content;
    }
    fs::remove(bundle / "Contents/Info.plist");
    EXPECT_EQ(updateErrorText([&] { update::verifyVersion(bundle, "1.4"); }), unreadable);
}

TEST(BundleVersion, AnInstallNeverGoesBackwards)
{
    for (const auto& [offered, refused] : {std::pair{"1.9.0", true}, {"1.10.0", true}, {"1.10.1", false}}) {
        UpdateManifest manifest{offered, {}, {}, "https://example.com/T.zip", {}, {}, {}};
        EXPECT_EQ(updateErrorText([&] { update::verifyNotOlder(manifest, "1.10.0"); }),
                  refused ? "Download rejected: v" + std::string(offered) + " is not newer than the running v1.10.0."
                          : "(no failure)");
    }
}
