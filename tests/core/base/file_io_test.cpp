// The helpers every concern group shares: bounded reads, atomic writes, Base64, UUIDs, JSON integers; the folders
// each concern group takes from the environment.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/activity/journal.h"
#include "core/base/encoding.h"
#include "core/base/file_io.h"
#include "core/base/json_util.h"
#include "core/platform/login_item.h"
#include "core/settings/store.h"
#include "core/update/engine.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

TEST(FileIo, BoundedReadTellsMissingFromUnusable)
{
    TempDir dir;
    writeFile(dir / "small", "12345");
    fs::create_symlink(dir / "small", dir / "link");
    ::mkfifo((dir / "fifo").c_str(), 0600);
    fs::create_directory(dir / "folder");
    const std::map<std::string, FileBytes::State> states{
        {"read", FileBytes::State::read}, {"failed", FileBytes::State::failed}, {"missing", FileBytes::State::missing}};
    const Json rows = testData("base/cases.json").at("boundedReads");
    for (const Json& row : rows) {
        FileBytes read = readFileBounded(dir / row[0].get<std::string>(), row[1], row[2]);
        EXPECT_EQ(read.state, states.at(row[3])) << row;
        EXPECT_EQ(read.bytes, row[3] == "read" ? "12345" : "") << row;
    }
}

TEST(FileIo, AtomicReplaceSetsTheModeReplacesLinksAndReportsFailures)
{
    TempDir dir;
    writeFile(dir / "elsewhere", "keep");
    fs::create_symlink(dir / "elsewhere", dir / "target");
    replaceFileAtomically(dir / "target", "new", 0640);
    EXPECT_EQ(readFile(dir / "target"), "new");
    EXPECT_EQ(readFile(dir / "elsewhere"), "keep") << "the link is replaced, not followed";
    EXPECT_EQ(fs::status(dir / "target").permissions(), fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "no temporary file left";
    try {
        replaceFileAtomically(dir / "missing" / "file", "x", 0600);
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_EQ(std::string(error.what()).rfind("Could not write " + (dir / "missing" / "file").string(), 0), 0u);
    }
    FileDescriptor fd(::open(dir.path().c_str(), O_RDONLY));
    FileDescriptor moved = std::move(fd);
    EXPECT_FALSE(fd.isOpen());
    EXPECT_EQ(moved.close(), 0);
    EXPECT_EQ(moved.close(), 0) << "closing twice is harmless";
}

TEST(Encoding, Base64RoundTripsAndRefusesMalformedText)
{
    const Json rows = testData("base/cases.json").at("base64");
    for (const Json& row : rows) {
        const std::string text = row[1], bytes = row[0].is_null() ? "" : withBytes(row[0]);
        EXPECT_EQ(base64Decode(text), row[0].is_null() ? std::nullopt : std::optional(bytes)) << text;
        EXPECT_TRUE(row[0].is_null() || base64Encode(bytes) == text) << text << " " << base64Encode(bytes);
    }
}

TEST(Encoding, RandomUuidsAreVersionFourInUpperCaseText)
{
    Uuid a = randomUuid();
    Uuid b = randomUuid();
    EXPECT_NE(a, b);
    EXPECT_EQ(a[6] >> 4, 4);
    EXPECT_EQ(a[8] & 0xC0, 0x80);
    Uuid fixed{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    EXPECT_EQ(uuidText(fixed), "01234567-89AB-CDEF-0123-456789ABCDEF");
}

TEST(JsonUtil, Int64AcceptsWholeNumbersInRangeOnly)
{
    const Json rows = testData("base/cases.json").at("int64");
    for (const Json& row : rows) {
        EXPECT_EQ(jsonInt64(row[0]), row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::int64_t>()))
            << row[0].dump();
    }
}

TEST(Folders, FollowTheirEnvironmentVariable)
{
    const Json rows = testData("base/cases.json").at("folders");
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "TMPDIR"}) {
        saved[name] = std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt;
    }
    ::setenv("HOME", "/home/someone", 1);
    for (const Json& row : rows) {
        const std::string name = row[0], owner = row[2];
        row[1].is_null() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), row[1].get<std::string>().c_str(), 1);
        fs::path folder = owner == "settings"  ? SettingsStore().folder()
                          : owner == "journal" ? Activity::Journal::defaultFolder()
                          : owner == "login"   ? LoginItem::currentLocation().configFolder
                                               : update::userTemporaryDirectory();
        EXPECT_EQ(folder, row[3].get<std::string>()) << row;
    }
    for (const auto& [name, value] : saved) {
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
}
