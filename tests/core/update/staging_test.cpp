// Installing across file systems, modes that survive packing, and archive names under any locale.
#include <memory>

#include <gtest/gtest.h>
#include <locale.h>
#include <sys/mount.h>
#include <unistd.h>

#include "child_process.h"
#include "core/update/archive_extract.h"
#include "core/update/code_signature.h"
#include "core/update/engine.h"
#include "core/update/process_run.h"
#include "core/update/staging.h"
#include "failure.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
using test::deadPid;
namespace fs = std::filesystem;

namespace {

// What the bundle's program prints when it is started.
std::string startOutput(const fs::path& bundle)
{
    return run((bundle / "Contents" / "bin" / "taskbell").string(), {}).output;
}

fs::path signedBundle(const fs::path& folder, const std::string& version, const update::SigningKey& key,
                      std::size_t padding = 0)
{
    auto bundle = test::makeBundle(
        folder, "Taskbell.app", {version, "com.quillet.taskbell", test::kStartCheckAnswer + "echo " + version + "\n"});
    if (padding > 0) {
        test::writeFile(bundle / "Contents" / "Resources" / "padding", std::string(padding, 'p'));
    }
    update::signBundle(bundle, key.privateKeyPem);
    return bundle;
}

} // namespace

TEST(Staging, AFailedCopyToAFullDiskLeavesTheInstalledBundleRunning)
{
    // A small tmpfs stands in for the disk the application is installed on; the update folder is on another one.
    test::TempDir temp;
    fs::create_directories(temp / "disk");
    if (::geteuid() != 0 || ::mount("tmpfs", (temp / "disk").c_str(), "tmpfs", 0, "size=512k") != 0) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
        &temp.path(), [](const fs::path* at) { ::umount2((*at / "disk").c_str(), MNT_DETACH); });
    auto key = update::generateSigningKey();
    auto installed = signedBundle(temp / "disk" / "Applications", "1.0.0", key);
    fs::path staging = temp / "disk" / "Applications" / ".Taskbell.app.update";

    // Too big for what is left of the disk: the copy fails halfway.
    auto tooBig = signedBundle(temp / "update" / "unpacked", "2.0.0", key, std::size_t{1} << 20);
    auto full = test::caught<UpdateError>([&] { update::swapAndRelaunch(tooBig, installed, deadPid()); });
    ASSERT_TRUE(full) << "a full disk was not reported as such";
    EXPECT_STREQ(full->what(), "There isn't enough free space to install the update.");
    EXPECT_EQ(startOutput(installed), "1.0.0\n");
    EXPECT_EQ(test::readFile(installed / "Contents" / "Info.plist").find("2.0.0"), std::string::npos);
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_TRUE(fs::exists(tooBig)); // the verified bundle is still where it was
    fs::remove_all(temp / "update");

    // A staging folder left by an earlier failed install goes; the new bundle is copied beside the installed
    // one, checked against its seal, and the script's moves are renames on the small disk.
    test::writeFile(staging / "Taskbell.app" / "half-copied", std::string(1000, 'x'));
    auto fits = signedBundle(temp / "update" / "unpacked", "2.0.0", key);
    pid_t script = update::swapAndRelaunch(fits, installed, deadPid());
    EXPECT_EQ(test::waitExit(script), 0);
    EXPECT_EQ(startOutput(installed), "2.0.0\n");
    EXPECT_EQ(test::listTree(staging),
              (std::vector<std::string>{"install.sh", "start-check", "start-check/initialize.json"}));
    update::verifySignature(installed, key.publicKey);
}

TEST(Staging, OnTheSameFileSystemTheVerifiedBundleIsMoved)
{
    test::TempDir temp;
    auto installed = test::makeBundle(temp / "Applications", "Taskbell.app", {"1.0.0"});
    auto fresh = test::makeBundle(temp / "update" / "unpacked", "Taskbell.app", {"2.0.0"});
    fs::create_hard_link(fresh / "Contents" / "bin" / "taskbell", temp / "witness"); // the same file, once moved
    test::writeFile(temp / "Applications" / ".Taskbell.app.update" / "stale", "from a failed install");

    fs::path staged = update::stageBundle(fresh, installed);
    EXPECT_EQ(staged, temp / "Applications" / ".Taskbell.app.update" / "Taskbell.app");
    EXPECT_TRUE(fs::equivalent(staged / "Contents" / "bin" / "taskbell", temp / "witness"));
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_FALSE(fs::exists(temp / "Applications" / ".Taskbell.app.update" / "stale"));
    EXPECT_EQ(fs::status(temp / "Applications" / ".Taskbell.app.update").permissions(), fs::perms::owner_all);
}

// A bundle signed from files with modes the unpack does not keep (group write, set-id bits) still verifies after
// signing, zip and the hardened unpack, the way tools/package.sh builds a release.
TEST(SignedModes, SurviveTheZipAndUnpackRoundTrip)
{
    if (::access("/usr/bin/zip", X_OK) != 0) {
        GTEST_SKIP() << "zip is not installed (scripts/setup.sh installs it)";
    }
    test::TempDir temp;
    auto bundle = test::makeBundle(temp / "stage", "Taskbell.app");
    test::writeFile(bundle / "Contents" / "Resources" / "helper", "#!/bin/sh\n");
    const std::tuple<fs::path, unsigned, unsigned> cases[] = {
        {bundle / "Contents" / "Info.plist", 0664, 0644},
        {bundle / "Contents" / "bin" / "taskbell", 0775, 0755},
        {bundle / "Contents" / "Resources" / "helper", 04777, 0755}};
    for (const auto& [file, mode, sealed] : cases) {
        fs::permissions(file, static_cast<fs::perms>(mode));
    }
    auto key = update::generateSigningKey();
    update::signBundle(bundle, key.privateKeyPem);
    for (const auto& [file, mode, sealed] : cases) {
        EXPECT_EQ(static_cast<unsigned>(fs::status(file).permissions()), sealed) << file;
    }
    fs::create_directories(temp / "update");
    auto zipped = run("/bin/sh", {"-c", "cd \"$0\" && zip -qrX \"$1\" Taskbell.app", (temp / "stage").string(),
                                  (temp / "update" / "update.zip").string()});
    ASSERT_EQ(zipped.status, 0) << zipped.output;
    EXPECT_NO_THROW(update::verifySignature(update::unpack(temp / "update" / "update.zip"), key.publicKey));
}

// Entry names are UTF-8 in the archive; the C locale of a service or a minimal session must not lose them.
TEST(ArchiveNames, NonAsciiNamesUnpackUnderTheCLocale)
{
    test::TempDir temp;
    const std::string name = "Taskbell.app/Contents/Resources/R\u00e9sum\u00e9 "
                             "\u2713 \u65e5\u672c.txt";
    {
        // Written as a UTF-8 session would write it (the zip's UTF-8 name flag set).
        locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        ASSERT_NE(utf8, static_cast<locale_t>(nullptr));
        locale_t previous = ::uselocale(utf8);
        test::writeZip(temp / "update.zip", {{"Taskbell.app/", test::ZipEntry::Type::folder, ""},
                                             {name, test::ZipEntry::Type::file, "text"}});
        ::uselocale(previous);
        ::freelocale(utf8);
    }
    ASSERT_STREQ(::setlocale(LC_ALL, nullptr), "C");
    auto bundle = update::unpack(temp / "update.zip");
    EXPECT_EQ(test::readFile(bundle.parent_path() / name), "text");
}
