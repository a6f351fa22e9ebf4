#include <algorithm>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/update/archive_extract.h"
#include "core/update/manifest.h"
#include "failure.h"
#include "temp_dir.h"
#include "test_data.h"
#include "update_fixtures.h"

using namespace taskbell;
using test::ZipEntry;
namespace fs = std::filesystem;

namespace {

const Json kArchives = test::testData("update/archives.json");

ZipEntry file(std::string name, std::string data, unsigned mode = 0644)
{
    return {std::move(name), ZipEntry::Type::file, std::move(data), mode};
}
ZipEntry folder(std::string name, unsigned mode = 0755)
{
    return {std::move(name), ZipEntry::Type::folder, "", mode};
}
ZipEntry linkTo(std::string name, std::string target)
{
    return {std::move(name), ZipEntry::Type::link, std::move(target), 0777};
}

std::vector<ZipEntry> bundleEntries(const std::string& top)
{
    return {folder(top + "/"), folder(top + "/Contents/"), file(top + "/Contents/Info.plist", "<plist/>"),
            folder(top + "/Contents/bin/"), file(top + "/Contents/bin/taskbell", "#!/bin/sh\n", 0755)};
}

// The entries of one archive in tests/data/update/archives.json, each placeholder filled in.
std::vector<ZipEntry> entriesOf(const Json& rows, const std::vector<std::pair<std::string, std::string>>& fills = {})
{
    std::vector<ZipEntry> entries;
    for (const Json& row : rows) {
        auto text = [&](std::size_t column) {
            std::string value = column < row.size() ? row[column].get<std::string>() : "";
            for (const auto& [placeholder, with] : fills) {
                value = test::fillIn(value, placeholder, with);
            }
            return value;
        };
        entries.push_back(row[0] == "folder" ? folder(text(1))
                          : row[0] == "link" ? linkTo(text(1), text(2))
                                             : file(text(1), text(2)));
    }
    return entries;
}

// Every archive is unpacked inside outer/work; the checks make sure nothing appears anywhere else in outer.
class Unpack : public ::testing::Test
{
protected:
    test::TempDir outer;
    fs::path work = outer / "work";
    fs::path archive = work / "update.zip";

    fs::path unpack(const std::vector<ZipEntry>& entries, const update::UnpackLimits& limits = {})
    {
        fs::remove_all(work);
        fs::create_directory(work);
        test::writeZip(archive, entries);
        return update::unpack(archive, limits);
    }

    // The badDownload text of a refused archive; nothing is ever written outside the work folder.
    std::string refusal(const std::vector<ZipEntry>& entries, const update::UnpackLimits& limits = {})
    {
        auto error = test::caught<UpdateError>([&] { unpack(entries, limits); });
        for (const auto& path : test::listTree(outer.path())) {
            EXPECT_TRUE(path == "work" || path.starts_with("work/")) << "written outside: " << path;
        }
        EXPECT_TRUE(!error || error->kind() == UpdateError::Kind::badDownload);
        return error ? error->what() : "(unpacked)";
    }
};

} // namespace

TEST_F(Unpack, ReturnsTheTopLevelBundleWithItsModes)
{
    auto bundle = unpack(bundleEntries("Taskbell.app"));
    EXPECT_EQ(bundle, fs::canonical(work) / "unpacked" / "Taskbell.app");
    EXPECT_EQ(test::readFile(bundle / "Contents" / "bin" / "taskbell"), "#!/bin/sh\n");
    EXPECT_EQ(test::modeOf(bundle / "Contents" / "bin" / "taskbell"), 0755u);
    EXPECT_EQ(test::modeOf(bundle / "Contents" / "Info.plist"), 0644u);
    EXPECT_EQ(test::modeOf(work / "unpacked"), 0700u);
    // Entries without folder entries of their own still land in their folders.
    EXPECT_EQ(unpack({file("Taskbell.app/Contents/Info.plist", "x")}).filename(), "Taskbell.app");

    // Of two bundles, the first in listing order.
    auto entries = bundleEntries("Alpha.app");
    auto more = bundleEntries("Beta.app");
    entries.insert(entries.end(), more.begin(), more.end());
    auto first = unpack(entries);
    auto listed = std::find_if(fs::directory_iterator(work / "unpacked"), fs::directory_iterator(),
                               [](const fs::directory_entry& entry) { return entry.path().extension() == ".app"; });
    EXPECT_EQ(first.filename(), listed->path().filename());
    EXPECT_TRUE(fs::is_directory(work / "unpacked" / "Beta.app"));
}

TEST_F(Unpack, NeedsABundleAtTheTopLevel)
{
    for (const Json& entries : kArchives.at("noBundle")) {
        EXPECT_EQ(refusal(entriesOf(entries)), "Download failed: no .app inside the archive") << entries.back();
    }
}

TEST_F(Unpack, RefusesPathsAndLinksThatLeaveTheFolder)
{
    test::TempDir victim;
    // {victimName} goes first: {victim} is a part of it.
    const std::vector<std::pair<std::string, std::string>> fills{{"{victimName}", victim.path().filename().string()},
                                                                 {"{outside}", (outer / "escaped").string()},
                                                                 {"{victim}", victim.path().string()}};
    for (const Json& entries : kArchives.at("hostile")) {
        std::string text = refusal(entriesOf(entries, fills));
        EXPECT_TRUE(text.starts_with("Download failed: could not unzip (")) << entries.back() << ": " << text;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(outer / "escaped")));
    EXPECT_TRUE(test::listTree(victim.path()).empty());

    // A link that stays inside is extracted as a link (the signature check refuses it later).
    auto entries = bundleEntries("Taskbell.app");
    entries.push_back(linkTo("Taskbell.app/Contents/alias", "bin/taskbell"));
    EXPECT_TRUE(fs::is_symlink(unpack(entries) / "Contents" / "alias"));
}

TEST_F(Unpack, DropsSpecialPermissionBits)
{
    auto bundle =
        unpack({folder("Taskbell.app/", 02777), folder("Taskbell.app/Contents/", 01755),
                file("Taskbell.app/Contents/suid", "x", 04755), file("Taskbell.app/Contents/sgid", "x", 02711),
                file("Taskbell.app/Contents/open", "x", 0666)});
    const std::pair<fs::path, unsigned> modes[] = {{bundle, 0755},
                                                   {bundle / "Contents", 0755},
                                                   {bundle / "Contents" / "suid", 0755},
                                                   {bundle / "Contents" / "sgid", 0711},
                                                   {bundle / "Contents" / "open", 0644}};
    for (const auto& [path, mode] : modes) {
        EXPECT_EQ(test::modeOf(path), mode) << path;
    }
    struct stat info = {};
    ASSERT_EQ(::stat((bundle / "Contents" / "suid").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, ::geteuid()); // owners never come from the archive
}

TEST_F(Unpack, StopsAtTheCaps)
{
    update::UnpackLimits small;
    small.maxBytes = std::uint64_t{1} << 20;
    // One file whose bulk compresses to a few dozen KiB, and files each under the cap whose total passes it.
    std::vector<ZipEntry> bomb{folder("Taskbell.app/"), file("Taskbell.app/Contents/bomb", "")};
    bomb.back().zeros = std::size_t{64} << 20;
    std::vector<ZipEntry> parts{folder("Taskbell.app/")};
    for (int i = 0; i < 3; ++i) {
        parts.push_back(file("Taskbell.app/part" + std::to_string(i), ""));
        parts.back().zeros = std::size_t{512} << 10;
    }
    for (const auto& entries : {bomb, parts}) {
        std::string text = refusal(entries, small);
        EXPECT_NE(text.find("exceeds"), std::string::npos) << text;
        EXPECT_LT(fs::file_size(archive), small.maxBytes);
        std::uintmax_t total = 0;
        for (const auto& path : test::listTree(work / "unpacked")) {
            total += fs::is_regular_file(work / "unpacked" / path) ? fs::file_size(work / "unpacked" / path) : 0;
        }
        EXPECT_LE(total, small.maxBytes);
    }
    update::UnpackLimits few;
    few.maxEntries = 4;
    EXPECT_EQ(refusal(bundleEntries("Taskbell.app"), few), "Download failed: could not unzip (more than 4 entries)");
}

TEST_F(Unpack, ReportsArchiveAndFolderErrors)
{
    test::writeFile(archive, "this is not a zip archive");
    std::string text = test::updateErrorText([&] { update::unpack(archive); });
    EXPECT_TRUE(text.starts_with("Download failed: could not unzip (") && text.ends_with(")")) << text;
    EXPECT_GT(text.size(), std::string("Download failed: could not unzip ()").size());
    // The work folder is made fresh: an existing "unpacked" is never reused.
    test::writeZip(archive, bundleEntries("Taskbell.app"));
    EXPECT_THROW(update::unpack(archive), std::system_error);
}
