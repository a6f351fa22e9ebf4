#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/update/archive_extract.h"
#include "core/update/manifest.h"
#include "failure.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
using test::ZipEntry;
namespace fs = std::filesystem;

namespace {

ZipEntry fileEntry(std::string name, std::string data, unsigned mode = 0644)
{
    return {std::move(name), ZipEntry::Type::file, std::move(data), mode, 0};
}
ZipEntry folderEntry(std::string name, unsigned mode = 0755)
{
    return {std::move(name), ZipEntry::Type::folder, "", mode, 0};
}
ZipEntry linkEntry(std::string name, std::string target)
{
    return {std::move(name), ZipEntry::Type::link, std::move(target), 0777, 0};
}

std::vector<ZipEntry> bundleEntries(const std::string& top)
{
    return {folderEntry(top + "/"), folderEntry(top + "/Contents/"),
            fileEntry(top + "/Contents/Info.plist", "<plist/>"), folderEntry(top + "/Contents/bin/"),
            fileEntry(top + "/Contents/bin/taskbell", "#!/bin/sh\n", 0755)};
}

unsigned modeOf(const fs::path& path)
{
    struct stat info = {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Every archive is unpacked inside outer/work; the checks make sure nothing appears anywhere else in outer.
class Unpack : public ::testing::Test
{
protected:
    test::TempDir outer;
    fs::path work = outer / "work";
    fs::path archive = work / "update.zip";

    void SetUp() override { fs::create_directory(work); }

    fs::path unpackEntries(const std::vector<ZipEntry>& entries, const update::UnpackLimits& limits = {})
    {
        test::writeZip(archive, entries);
        return update::unpack(archive, limits);
    }

    // The badDownload text of a refused archive.
    std::string refusal(const std::vector<ZipEntry>& entries, const update::UnpackLimits& limits = {})
    {
        try {
            unpackEntries(entries, limits);
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.kind(), UpdateError::Kind::badDownload);
            return error.what();
        }
        return "(unpacked)";
    }

    void expectNothingOutsideWork()
    {
        for (const auto& path : test::listTree(outer.path())) {
            EXPECT_TRUE(path == "work" || path.starts_with("work/")) << "written outside: " << path;
        }
    }

    void resetWork()
    {
        fs::remove_all(work);
        fs::create_directory(work);
    }
};

} // namespace

TEST_F(Unpack, ReturnsTheTopLevelBundleWithItsModes)
{
    auto bundle = unpackEntries(bundleEntries("Taskbell.app"));
    EXPECT_EQ(bundle, fs::canonical(work) / "unpacked" / "Taskbell.app");
    EXPECT_EQ(test::readFile(bundle / "Contents" / "bin" / "taskbell"), "#!/bin/sh\n");
    EXPECT_EQ(modeOf(bundle / "Contents" / "bin" / "taskbell"), 0755u);
    EXPECT_EQ(modeOf(bundle / "Contents" / "Info.plist"), 0644u);
    EXPECT_EQ(modeOf(work / "unpacked"), 0700u);

    // Entries without folder entries of their own still land in their folders.
    resetWork();
    auto implicit = unpackEntries({fileEntry("Taskbell.app/Contents/Info.plist", "x")});
    EXPECT_EQ(implicit.filename(), "Taskbell.app");
    expectNothingOutsideWork();
}

TEST_F(Unpack, NeedsABundleAtTheTopLevel)
{
    std::vector<ZipEntry> nested;
    for (auto entry : bundleEntries("Taskbell.app")) {
        entry.name = "Release/" + entry.name;
        nested.push_back(entry);
    }
    nested.insert(nested.begin(), folderEntry("Release/"));
    std::vector<std::vector<ZipEntry>> noBundle = {
        nested,
        {fileEntry("README.txt", "hi"), fileEntry("Taskbell.zip", "x")},
        // A link named like a bundle is never taken, even when it points at a folder inside.
        {folderEntry("Real/"), fileEntry("Real/x", "1"), linkEntry("Evil.app", "Real")},
    };
    for (const auto& entries : noBundle) {
        resetWork();
        EXPECT_EQ(refusal(entries), "Download failed: no .app inside the archive") << entries.back().name;
        expectNothingOutsideWork();
    }
}

TEST_F(Unpack, TwoBundlesGiveTheFirstInListingOrder)
{
    auto entries = bundleEntries("Alpha.app");
    auto more = bundleEntries("Beta.app");
    entries.insert(entries.end(), more.begin(), more.end());
    auto bundle = unpackEntries(entries);
    fs::path firstListed;
    for (const auto& entry : fs::directory_iterator(work / "unpacked")) {
        if (entry.path().extension() == ".app") {
            firstListed = entry.path();
            break;
        }
    }
    EXPECT_EQ(bundle.filename(), firstListed.filename());
    EXPECT_TRUE(fs::is_directory(work / "unpacked" / "Alpha.app"));
    EXPECT_TRUE(fs::is_directory(work / "unpacked" / "Beta.app"));
}

TEST_F(Unpack, RefusesPathsAndLinksThatLeaveTheFolder)
{
    std::string outside = (outer / "escaped").string();
    test::TempDir victim;
    std::vector<std::vector<ZipEntry>> hostile = {
        {fileEntry("../escaped", "x")},
        {fileEntry("Taskbell.app/../../escaped", "x")},
        {fileEntry(outside, "x")},
        {fileEntry("Taskbell.app/Contents/x", "1"), fileEntry("Taskbell.app/Contents/x", "2")}, // replacing an entry
        {fileEntry("Taskbell.app", "file"), fileEntry("Taskbell.app/Contents/x", "1")}, // a file used as a folder
        {linkEntry("Taskbell.app", victim.path())},
        {folderEntry("Taskbell.app/"), linkEntry("Taskbell.app/up", "../../../" + victim.path().filename().string())},
        {linkEntry("etc", "/etc")},
        // A link that stays inside, then an entry written through it.
        {folderEntry("Taskbell.app/"), linkEntry("Taskbell.app/in", "."), fileEntry("Taskbell.app/in/x", "1")},
        // A link inside that climbs through another link: refused for its ".." alone.
        {folderEntry("a/"), linkEntry("a/self", "."), linkEntry("a/out", "self/../x")},
    };
    for (const auto& entries : hostile) {
        resetWork();
        std::string text = refusal(entries);
        EXPECT_TRUE(text.starts_with("Download failed: could not unzip (")) << entries.back().name << ": " << text;
        expectNothingOutsideWork();
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(outer / "escaped")));
    EXPECT_TRUE(test::listTree(victim.path()).empty());

    // A link that stays inside is extracted as a link (the signature check refuses it later).
    resetWork();
    auto entries = bundleEntries("Taskbell.app");
    entries.push_back(linkEntry("Taskbell.app/Contents/alias", "bin/taskbell"));
    auto bundle = unpackEntries(entries);
    EXPECT_TRUE(fs::is_symlink(bundle / "Contents" / "alias"));
}

TEST_F(Unpack, DropsSpecialPermissionBits)
{
    auto bundle = unpackEntries({folderEntry("Taskbell.app/", 02777), folderEntry("Taskbell.app/Contents/", 01755),
                                 fileEntry("Taskbell.app/Contents/suid", "x", 04755),
                                 fileEntry("Taskbell.app/Contents/sgid", "x", 02711),
                                 fileEntry("Taskbell.app/Contents/open", "x", 0666)});
    EXPECT_EQ(modeOf(bundle), 0755u);
    EXPECT_EQ(modeOf(bundle / "Contents"), 0755u);
    EXPECT_EQ(modeOf(bundle / "Contents" / "suid"), 0755u);
    EXPECT_EQ(modeOf(bundle / "Contents" / "sgid"), 0711u);
    EXPECT_EQ(modeOf(bundle / "Contents" / "open"), 0644u);
    struct stat info = {};
    ASSERT_EQ(::stat((bundle / "Contents" / "suid").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, ::geteuid()); // owners never come from the archive
}

TEST_F(Unpack, StopsAtTheCaps)
{
    update::UnpackLimits small;
    small.maxBytes = std::uint64_t{1} << 20;
    ZipEntry bomb = fileEntry("Taskbell.app/Contents/bomb", "");
    bomb.zeros = std::size_t{64} << 20; // compresses to a few dozen KiB
    std::string text = refusal({folderEntry("Taskbell.app/"), bomb}, small);
    EXPECT_NE(text.find("exceeds"), std::string::npos) << text;
    std::error_code ec;
    auto written = fs::file_size(work / "unpacked" / "Taskbell.app" / "Contents" / "bomb", ec);
    EXPECT_TRUE(ec || written <= small.maxBytes) << written;
    EXPECT_LT(fs::file_size(archive), small.maxBytes);

    // Files each under the cap stop when their total passes it.
    resetWork();
    std::vector<ZipEntry> parts{folderEntry("Taskbell.app/")};
    for (int i = 0; i < 3; ++i) {
        ZipEntry part = fileEntry("Taskbell.app/part" + std::to_string(i), "");
        part.zeros = std::size_t{512} << 10;
        parts.push_back(part);
    }
    text = refusal(parts, small);
    EXPECT_NE(text.find("exceeds"), std::string::npos) << text;
    std::uintmax_t total = 0;
    for (const auto& path : test::listTree(work / "unpacked" / "Taskbell.app")) {
        total += fs::file_size(work / "unpacked" / "Taskbell.app" / path);
    }
    EXPECT_LE(total, small.maxBytes);

    resetWork();
    update::UnpackLimits few;
    few.maxEntries = 4;
    EXPECT_EQ(refusal(bundleEntries("Taskbell.app"), few), "Download failed: could not unzip (more than 4 entries)");
    expectNothingOutsideWork();
}

TEST_F(Unpack, ReportsArchiveAndFolderErrors)
{
    test::writeFile(archive, "this is not a zip archive");
    auto garbage = test::caught<UpdateError>([&] { update::unpack(archive); });
    ASSERT_TRUE(garbage) << "unpacked garbage";
    std::string text = garbage->what();
    EXPECT_TRUE(text.starts_with("Download failed: could not unzip (")) << text;
    EXPECT_TRUE(text.ends_with(")")) << text;
    EXPECT_GT(text.size(), std::string("Download failed: could not unzip ()").size());
    // The work folder is made fresh: an existing "unpacked" is never reused.
    test::writeZip(archive, bundleEntries("Taskbell.app"));
    EXPECT_THROW(update::unpack(archive), std::system_error);
}
