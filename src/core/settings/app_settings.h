#pragma once

#include <string>
#include <string_view>

#include "core/jira/config.h"
#include "core/settings/store.h"

namespace taskbell {

// The feed the updater polls unless the user has chosen another.
inline constexpr std::string_view kDefaultUpdateFeedURL = "https://updates.quillet.com/taskbell/appcast.json";

// Keys of the settings file; they equal the setting names and are shared with the MCP mode.
namespace SettingsKey {
inline constexpr std::string_view baseURL = "baseURL";
inline constexpr std::string_view email = "email";
inline constexpr std::string_view projectKey = "projectKey";
inline constexpr std::string_view defaultIssueType = "defaultIssueType";
inline constexpr std::string_view monthsBack = "monthsBack";
inline constexpr std::string_view refreshMinutes = "refreshMinutes";
inline constexpr std::string_view autoUpdate = "autoUpdate";
inline constexpr std::string_view updateFeedURL = "updateFeedURL";
// Optional: older versions ignore it, and its absence means on.
inline constexpr std::string_view notifyAssistantChanges = "notifyAssistantChanges";
} // namespace SettingsKey

// The application's saved settings (the API token lives in the Secret Service, see keychain.h).
struct AppSettings
{
    std::string baseURL;
    std::string email;
    std::string projectKey;
    std::string defaultIssueType = "Task";
    int monthsBack = 2;      // calendar months of Done issues shown
    int refreshMinutes = 30; // 0 turns the automatic refresh off
    bool autoUpdate = true;
    std::string updateFeedURL = std::string(kDefaultUpdateFeedURL);
    bool notifyAssistantChanges = true; // a desktop notification for each change an assistant makes

    // Missing or unreadable values take the defaults above; nothing is trimmed or clamped.
    static AppSettings load(const SettingsStore& store);
    static AppSettings from(const SettingsValues& values);

    // Writes all nine keys, exactly as they stand, in one atomic read-modify-write; other keys in the
    // file are kept. Throws SettingsError.
    void save(SettingsStore& store) const;

    bool operator==(const AppSettings&) const = default;
};

// The connection settings exactly as they stand (normalisation is JiraConfig's business).
JiraConfig jiraConfig(const AppSettings& settings, std::string apiToken);

} // namespace taskbell
