#include "core/base/app_info.h"

#include "core/base/build_info.h"
#include "core/base/bundle.h"

namespace taskbell::AppInfo {
namespace {

ChangelogEntry entry(std::string version, std::string date, std::vector<std::string> changes)
{
    return ChangelogEntry{randomUuid(), std::move(version), std::move(date), std::move(changes)};
}

std::vector<ChangelogEntry> makeChangelog()
{
    return {
        entry("1.10.0", "2026-09-24",
              {"MCP server: new update_task tool edits an existing task's summary and/or description (and reports "
               "the previous values), plus get_task to read a task's full description first.",
               "Descriptions written by Taskbell keep their structure in Jira: blank lines start paragraphs, line "
               "breaks are kept, and lines starting with \"- \" become bullets."}),
        entry("1.9.0", "2026-09-10",
              {"Open a task in its own window to read the whole description: click the magnifier on a row, or pick "
               "\"Show full details\" from its status menu. Text is selectable, and the status can be changed from "
               "there too.",
               "Bullet lists in descriptions now keep their \u2022 markers instead of running together."}),
        entry("1.8.1", "2026-09-03",
              {"Settings \u2192 MCP server now also shows an example .mcp.json, with its own Copy button."}),
        entry("1.8.0", "2026-09-03", {"Task rows now show the issue description (when it has one) under the summary."}),
        entry("1.7.0", "2026-09-03",
              {"New Backlog section (and filter tab) for tasks with status \"Backlog\" assigned to you \u2014 "
               "alongside In Progress and Done.",
               "Auto-update: Taskbell now checks for new versions in the background and offers to install them, "
               "same mechanism as Queuebar. Configurable in Settings \u2192 Updates."}),
        entry("1.6.0", "2026-09-03",
              {"Built-in MCP server: create, list and re-status your Jira tasks from Claude Code and other MCP "
               "clients.",
               "Run it with `Taskbell --mcp` \u2014 it reuses the credentials and project you already set in "
               "Settings."}),
        entry("1.5.1", "2026-08-22",
              {"Fixed: the New Task, Settings and About windows opened behind the task list panel. The panel now "
               "closes when one of them opens."}),
        entry("1.5.0", "2026-07-31",
              {"Click a task to copy it as \"TASK-123: Task summary\" \u2014 a \"Copied\" hint flashes on the row to "
               "confirm. The same action is in each row's status menu."}),
        entry("1.4.0", "2026-07-24",
              {"Background auto-refresh: tasks now refresh on a timer even while the popover is closed, so the "
               "menu-bar count stays current. Pick the interval (Off / 5 / 10 / 15 / 30 / 60 min, default 30) in "
               "Settings.",
               "Newly created or re-statused tasks now appear on their own \u2014 a follow-up refresh works around "
               "Jira's search index catching up, so you no longer have to hit Refresh manually."}),
        entry("1.3.0", "2026-07-16",
              {"Done tasks now show when they were moved to Done \u2014 an absolute date (e.g. \"08 July 2026\") "
               "plus a relative \"today / yesterday / N days ago\" hint."}),
        entry("1.2.0", "2026-07-15",
              {"Quick-done button: click the green \u2713 on any task row to move it straight to Done.",
               "Auto-refresh: tasks refresh every 30 seconds while the popover is open (no spinner, no flicker)."}),
        entry("1.1.0", "2026-07-15",
              {"Each task now shows its creation date (e.g. \"08 July 2026\") with a relative \"today / yesterday / "
               "N days ago\" hint.",
               "New \"Launch at login\" toggle in Settings to start Taskbell automatically on boot.",
               "Signed with a Developer ID certificate (hardened runtime)."}),
        entry("1.0.0", "2026-07-08",
              {"Menu bar app showing your Jira Cloud tasks (In Progress and Done).",
               "Connect with your email + API token; the token is stored in the macOS Keychain.",
               "Filter tabs: All / In Progress / Done, each with a live count.",
               "Add tasks and choose the status they start in \u2014 To Do, In Progress, or Done.",
               "Change any task's status from a per-row menu of its workflow transitions.",
               "Done tasks grouped by month; open any issue in the browser.",
               "Live count of in-progress tasks on the menu bar icon."}),
    };
}

// Inside a bundle only its Info.plist counts; outside one the value fixed at build time. Empty counts as
// missing.
std::optional<std::string> infoValue(const std::optional<std::filesystem::path>& bundle, const char* key,
                                     const std::string& builtIn)
{
    auto value = bundle ? bundle::bundleInfoString(*bundle, key) : std::optional<std::string>(builtIn);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

const std::vector<ChangelogEntry>& changelog()
{
    static const std::vector<ChangelogEntry> log = makeChangelog();
    return log;
}

std::string versionOf(const std::optional<std::filesystem::path>& bundle, const std::string& builtIn)
{
    if (auto info = infoValue(bundle, "CFBundleShortVersionString", builtIn)) {
        return *info;
    }
    const auto& log = changelog();
    return log.empty() ? "1.0.0" : log.front().version;
}

std::string versionOf(const std::optional<std::filesystem::path>& bundle)
{
    return versionOf(bundle, TASKBELL_BUILD_VERSION);
}

std::string buildOf(const std::optional<std::filesystem::path>& bundle, const std::string& builtIn)
{
    return infoValue(bundle, "CFBundleVersion", builtIn).value_or("1");
}

std::string buildOf(const std::optional<std::filesystem::path>& bundle)
{
    return buildOf(bundle, TASKBELL_BUILD_NUMBER);
}

} // namespace taskbell::AppInfo
