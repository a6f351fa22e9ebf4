#include <cstdlib>

#include <gtest/gtest.h>
#include <plist/plist.h>

#include "core/update/code_signature.h"
#include "core/update/engine.h"
#include "core/update/sha256.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
using taskbell::test::updateErrorText;
namespace fs = std::filesystem;

namespace {

const std::string kRejected = "Download rejected: not signed by the expected developer.\n";

// The verifier's message, or "valid".
std::string verdict(const fs::path& bundle, const std::string& key)
{
    try {
        update::verifySignature(bundle, key);
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.kind(), UpdateError::Kind::signature);
        std::string text = error.what();
        EXPECT_TRUE(text.starts_with(kRejected)) << text;
        return text.substr(kRejected.size());
    }
    return "valid";
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
    std::string listing = test::readFile(bundle / "Contents/_CodeSignature/CodeResources");
    std::string expected = "taskbell-code-resources 1\nteam 7QK4ZR2W9M\ndir Contents\nfile 0644 " +
                           sha256Hex(test::readFile(bundle / "Contents/Info.plist")) +
                           " Contents/Info.plist\ndir Contents/bin\nfile 0755 " +
                           sha256Hex(test::readFile(bundle / "Contents/bin/taskbell")) + " Contents/bin/taskbell\n";
    EXPECT_EQ(listing, expected);

    // Signing again over an existing seal gives the same listing, and names with spaces are fine.
    test::writeFile(bundle / "Contents/Resources/Read Me.txt", "hello");
    update::signBundle(bundle, key.privateKeyPem);
    EXPECT_EQ(check(), "valid");
}

TEST_F(Signature, NamesTheFirstChangedFile)
{
    std::string executable = test::readFile(bundle / "Contents/bin/taskbell");
    executable[3] ^= 0x01;
    test::writeFile(bundle / "Contents/bin/taskbell", executable);
    EXPECT_EQ(check(), "Contents/bin/taskbell: modified");
    executable[3] ^= 0x01;
    test::writeFile(bundle / "Contents/bin/taskbell", executable);
    EXPECT_EQ(check(), "valid");

    fs::permissions(bundle / "Contents/bin/taskbell", fs::perms::owner_all);
    EXPECT_EQ(check(), "Contents/bin/taskbell: permissions changed");
    fs::permissions(bundle / "Contents/bin/taskbell", static_cast<fs::perms>(0755));

    test::writeFile(bundle / "Contents/bin/helper", "added");
    EXPECT_EQ(check(), "Contents/bin/helper: added");
    fs::remove(bundle / "Contents/bin/helper");
    test::writeFile(bundle / "Contents/_CodeSignature/Extra", "added");
    EXPECT_EQ(check(), "Contents/_CodeSignature/Extra: added");
    fs::remove(bundle / "Contents/_CodeSignature/Extra");
    fs::create_directory(bundle / "Contents/Plugins");
    EXPECT_EQ(check(), "Contents/Plugins: added");
    fs::remove(bundle / "Contents/Plugins");

    fs::rename(bundle / "Contents/Info.plist", temp / "Info.plist");
    EXPECT_EQ(check(), "Contents/Info.plist: missing");
    fs::rename(temp / "Info.plist", bundle / "Contents/Info.plist");
    EXPECT_EQ(check(), "valid");
}

TEST_F(Signature, RefusesOtherKeysTeamsAndIdentifiers)
{
    auto stranger = update::generateSigningKey();
    EXPECT_EQ(verdict(bundle, stranger.publicKey), "invalid signature");
    EXPECT_EQ(verdict(bundle, ""), "no trusted key to verify with");
    EXPECT_EQ(verdict(bundle, "not base64!"), "no trusted key to verify with");

    // A tampered listing no longer matches its signature.
    std::string listing = test::readFile(bundle / "Contents/_CodeSignature/CodeResources");
    test::writeFile(bundle / "Contents/_CodeSignature/CodeResources", listing + "dir Contents/Plugins\n");
    EXPECT_EQ(check(), "invalid signature");

    update::signBundle(bundle, key.privateKeyPem, "ABCDE12345");
    EXPECT_EQ(check(), "signed by team ABCDE12345, not 7QK4ZR2W9M");
    // The loose team file cannot overrule the team sealed in the signed listing.
    test::writeFile(bundle / "Contents/_CodeSignature/TeamIdentifier", "7QK4ZR2W9M");
    EXPECT_EQ(check(), "TeamIdentifier does not match the sealed team");

    auto other = test::makeBundle(temp / "other", "Taskbell.app", {"2.0.0", "com.example.impostor", "#!/bin/sh\n"});
    update::signBundle(other, key.privateKeyPem);
    EXPECT_EQ(verdict(other, key.publicKey), "bundle identifier is not com.quillet.taskbell");

    auto unsigned_ = test::makeBundle(temp / "plain", "Taskbell.app");
    EXPECT_EQ(verdict(unsigned_, key.publicKey), "bundle is not signed");
    EXPECT_EQ(verdict(temp / "nowhere.app", key.publicKey), "bundle is not a folder");
    // Test builds pin no release key, so nothing verifies against it.
    EXPECT_EQ(update::releasePublicKey(), "");
}

TEST_F(Signature, RefusesLinksAnywhere)
{
    fs::create_symlink("bin/taskbell", bundle / "Contents/alias");
    EXPECT_EQ(check(), "Contents/alias: symbolic link");
    EXPECT_THROW(update::signBundle(bundle, key.privateKeyPem), std::runtime_error);
    fs::remove(bundle / "Contents/alias");

    // A seal folder that is a link to a valid seal elsewhere is refused before it is read.
    fs::rename(bundle / "Contents/_CodeSignature", temp / "seal");
    fs::create_directory_symlink(temp / "seal", bundle / "Contents/_CodeSignature");
    EXPECT_EQ(check(), "Contents/_CodeSignature: symbolic link");
    fs::remove(bundle / "Contents/_CodeSignature");
    fs::rename(temp / "seal", bundle / "Contents/_CodeSignature");
    EXPECT_EQ(check(), "valid");

    fs::create_directory_symlink(bundle, temp / "Linked.app");
    EXPECT_EQ(verdict(temp / "Linked.app", key.publicKey), "bundle is not a folder");
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
    for (const std::string& content :
         {std::string("garbage"), std::string("<plist version=\"1.0\"><array><string>1.4</string></array></plist>"),
          std::string("<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><integer>2</integer>"
                      "</dict></plist>"),
          std::string("<plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>2</string></dict></plist>")}) {
        test::writeFile(bundle / "Contents/Info.plist", content);
        EXPECT_EQ(updateErrorText([&] { update::verifyVersion(bundle, "1.4"); }), unreadable) << content;
    }
    fs::remove(bundle / "Contents/Info.plist");
    EXPECT_EQ(updateErrorText([&] { update::verifyVersion(bundle, "1.4"); }), unreadable);
}

TEST(BundleVersion, AnInstallNeverGoesBackwards)
{
    UpdateManifest manifest;
    manifest.version = "1.9.0";
    manifest.url = "https://example.com/T.zip";
    EXPECT_EQ(updateErrorText([&] { update::verifyNotOlder(manifest, "1.10.0"); }),
              "Download rejected: v1.9.0 is not newer than the running v1.10.0.");
    manifest.version = "1.10.0";
    EXPECT_THROW(update::verifyNotOlder(manifest, "1.10.0"), UpdateError);
    manifest.version = "1.10.1";
    EXPECT_NO_THROW(update::verifyNotOlder(manifest, "1.10.0"));
}
