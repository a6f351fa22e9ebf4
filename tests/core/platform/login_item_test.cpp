// Launch at login as an XDG autostart entry in a temporary config folder; Exec lines are read back with
// GLib's own key-file and shell parsers, as desktop environments do.
#include <cstdlib>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "core/platform/login_item.h"
#include "temp_dir.h"
#include "test_data.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

const Json kEntries = testData("platform/login_entries.json");

// The argument vector a desktop environment would start from the entry.
std::vector<std::string> launchedArguments(const fs::path& entry)
{
    g_autoptr(GKeyFile) file = g_key_file_new();
    g_autofree gchar* exec = g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, nullptr)
                                 ? g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr)
                                 : nullptr;
    // Field codes first: a doubled percent sign is a literal one.
    g_auto(GStrv) argv = nullptr;
    if (!exec || !g_shell_parse_argv(fillIn(exec, "%%", "%").c_str(), nullptr, &argv, nullptr)) {
        return {};
    }
    return {argv, argv + g_strv_length(argv)};
}

} // namespace

// Switching it on and off, and a refused change, are checked through the Settings window
// (tests/app/windows/settings_view_test.cpp); here the entry's text and what it starts.
TEST(LoginItem, TheEntryStartsExactlyThisExecutableWhateverItsPath)
{
    TempDir dir;
    for (const std::string path : kEntries.at("executables")) {
        LoginItem::Location location{dir / "config", path};
        ASSERT_TRUE(LoginItem::setEnabled(true, location));
        fs::path entry = dir / "config" / "autostart" / "com.quillet.taskbell.desktop";
        EXPECT_EQ(LoginItem::entryPath(location), entry);
        EXPECT_TRUE(readFile(entry).starts_with("[Desktop Entry]\nType=Application\n")) << readFile(entry);
        EXPECT_EQ(launchedArguments(entry), std::vector<std::string>{path}) << readFile(entry);
        ASSERT_TRUE(LoginItem::setEnabled(false, location));
        EXPECT_FALSE(fs::exists(entry));
    }
    EXPECT_FALSE(LoginItem::setEnabled(true, {dir / "other", ""})) << "no executable to start";
}

TEST(LoginItem, RegisteredMeansAnEnabledEntryThatStartsThisExecutable)
{
    TempDir dir;
    LoginItem::Location location{dir / "config", "/usr/bin/taskbell"};
    fs::path entry = LoginItem::entryPath(location);
    auto text = [](const Json& cell) {
        return fillIn(fillIn(cell, "{ours}", "[Desktop Entry]\nType=Application\nExec=/usr/bin/taskbell\n"), "{older}",
                      "[Desktop Entry]\nType=Application\nExec=/old/place/taskbell\n");
    };
    for (const Json& row : kEntries.at("entries")) {
        const std::string found = text(row[0]), afterEnable = text(row[2]), afterDisable = text(row[3]);
        writeFile(entry, found);
        EXPECT_EQ(LoginItem::isRegistered(location), row[1]) << found;

        EXPECT_TRUE(LoginItem::setEnabled(true, location)) << found;
        EXPECT_TRUE(LoginItem::isRegistered(location)) << found;
        EXPECT_EQ(readFile(entry), afterEnable.empty() ? LoginItem::desktopEntry(location.executable) : afterEnable)
            << found;

        writeFile(entry, found);
        EXPECT_TRUE(LoginItem::setEnabled(false, location)) << found;
        EXPECT_EQ(fs::exists(entry), !afterDisable.empty()) << found;
        if (!afterDisable.empty()) {
            EXPECT_EQ(readFile(entry), afterDisable) << found;
        }
    }

    // A folder in place of the entry is not an entry.
    fs::remove(entry);
    fs::create_directories(entry);
    EXPECT_FALSE(LoginItem::isRegistered(location));
}

// Its folder is in the table of folders taken from the environment (file_io_test.cpp).
TEST(LoginItem, CurrentLocationIsThisExecutable)
{
    EXPECT_EQ(LoginItem::currentLocation().executable, fs::read_symlink("/proc/self/exe"));
}
