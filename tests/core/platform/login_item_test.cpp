// Launch at login as an XDG autostart entry in a temporary config folder; Exec lines are read back with
// GLib's own key-file and shell parsers, as desktop environments do.
#include <cstdlib>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "core/platform/login_item.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

// The argument vector a desktop environment would start from the entry.
std::vector<std::string> launchedArguments(const fs::path& entry)
{
    std::vector<std::string> arguments;
    GKeyFile* file = g_key_file_new();
    GError* error = nullptr;
    if (g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, &error)) {
        gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", &error);
        if (exec) {
            // Field codes first: a doubled percent sign is a literal one.
            std::string command;
            for (const char* c = exec; *c; ++c) {
                command += *c;
                if (*c == '%' && c[1] == '%') {
                    ++c;
                }
            }
            gint argc = 0;
            gchar** argv = nullptr;
            if (g_shell_parse_argv(command.c_str(), &argc, &argv, &error)) {
                arguments.assign(argv, argv + argc);
                g_strfreev(argv);
            }
            g_free(exec);
        }
    }
    g_clear_error(&error);
    g_key_file_free(file);
    return arguments;
}

} // namespace

// Switching it on and off, and a refused change, are checked through the Settings window
// (tests/app/windows/settings_view_test.cpp); here the entry's text and what it starts.
TEST(LoginItem, TheEntryStartsExactlyThisExecutableWhateverItsPath)
{
    TempDir dir;
    for (std::string path : {"/opt/taskbell/bin/taskbell", "/home/me/My Apps/Task \"bell\"/taskbell",
                             "/opt/it's $HOME/`x`/back\\slash/100%/taskbell", "/opt/a;b|c&d(e)<f>~g*h?#i/taskbell",
                             "/opt/tab\there/new\nline/taskbell"}) {
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
    const std::string ours = "[Desktop Entry]\nType=Application\nExec=/usr/bin/taskbell\n";
    const std::string older = "[Desktop Entry]\nType=Application\nExec=/old/place/taskbell\n";
    struct Case
    {
        std::string text;
        bool registered;
        std::string afterEnable;  // empty: rewritten as our own entry
        std::string afterDisable; // empty: removed
    };
    const Case cases[] = {
        {ours, true, ours, ""},
        {ours + "Hidden = true\n", false, "", ours + "Hidden = true\n"},
        {ours + "Hidden=false\n", true, ours + "Hidden=false\n", ""},
        {ours + "X-GNOME-Autostart-enabled=false\n", false, "", ours + "X-GNOME-Autostart-enabled=false\n"},
        {ours + "X-GNOME-Autostart-enabled=true\n", true, ours + "X-GNOME-Autostart-enabled=true\n", ""},
        {ours + "[Desktop Action x]\nHidden=true\n", true, ours + "[Desktop Action x]\nHidden=true\n", ""},
        {ours + "Hidden[de]=true\n", true, ours + "Hidden[de]=true\n", ""},
        // Left by an older location or binary: not registered, so enabling points it at this executable.
        {older, false, "", ""},
        {"[Desktop Entry]\nType=Application\n", false, "", ""},
        {older + "Hidden=true\n", false, "", older + "Hidden=true\n"},
    };
    for (const Case& c : cases) {
        writeFile(entry, c.text);
        EXPECT_EQ(LoginItem::isRegistered(location), c.registered) << c.text;

        EXPECT_TRUE(LoginItem::setEnabled(true, location)) << c.text;
        EXPECT_TRUE(LoginItem::isRegistered(location)) << c.text;
        std::string enabled = readFile(entry);
        if (c.afterEnable.empty()) {
            EXPECT_EQ(enabled, LoginItem::desktopEntry(location.executable)) << c.text;
        } else {
            EXPECT_EQ(enabled, c.afterEnable) << "registered already: left as the user has it";
        }

        writeFile(entry, c.text);
        EXPECT_TRUE(LoginItem::setEnabled(false, location)) << c.text;
        EXPECT_EQ(fs::exists(entry), !c.afterDisable.empty()) << c.text;
        if (!c.afterDisable.empty()) {
            EXPECT_EQ(readFile(entry), c.afterDisable) << "already disabled: nothing changes";
        }
    }

    // A folder in place of the entry is not an entry.
    fs::remove(entry);
    fs::create_directories(entry);
    EXPECT_FALSE(LoginItem::isRegistered(location));
}

TEST(LoginItem, CurrentLocationIsTheXdgFolderAndThisExecutable)
{
    ::setenv("XDG_CONFIG_HOME", "/xdg/home", 1);
    LoginItem::Location location = LoginItem::currentLocation();
    EXPECT_EQ(location.configFolder, "/xdg/home");
    EXPECT_EQ(location.executable, fs::read_symlink("/proc/self/exe"));
}
