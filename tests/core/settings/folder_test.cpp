// The settings folder is tightened only where it is Taskbell's own: a folder reached through a symbolic
// link keeps its mode, and special bits of our own folder are never dropped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/settings/app_settings.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& path)
{
    struct stat info
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

} // namespace

TEST(SettingsFolder, OnlyTaskbellsOwnFolderIsTightened)
{
    struct Case
    {
        const char* name;
        bool linked;
        unsigned before;
        unsigned after;
    };
    for (Case c : {Case{"own folder, group and other bits go", false, 0755, 0700},
                   Case{"own folder, the sticky bit stays", false, 01777, 01700},
                   Case{"linked folder, left as it is", true, 01777, 01777},
                   Case{"linked folder, wide but not ours", true, 0755, 0755}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::path folder = dir / "config" / "com.quillet.taskbell";
        fs::path real = c.linked ? dir / "shared" : folder;
        fs::create_directories(real);
        if (c.linked) {
            fs::create_directories(folder.parent_path());
            fs::create_directory_symlink(real, folder);
        }
        ASSERT_EQ(::chmod(real.c_str(), c.before), 0);
        SettingsStore store(folder);
        AppSettings settings;
        settings.projectKey = "TB";
        settings.save(store);
        EXPECT_EQ(modeOf(real), c.after);
        EXPECT_TRUE(fs::is_symlink(folder) == c.linked);
        EXPECT_EQ(AppSettings::load(store).projectKey, "TB");
    }
}
