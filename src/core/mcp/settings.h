#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/jira/config.h"
#include "core/settings/store.h"

namespace taskbell::MCPServer {

// What a tool call needs from the application's saved settings, read afresh for every call so that a
// change saved in the settings window applies at the next call.
struct Settings
{
    JiraConfig config;
    std::string projectKey;
    std::string defaultIssueType;
    int monthsBack = 2;

    // The application's settings file and the API token from the Secret Service. `diagnostic` receives
    // one line when the token cannot be read because no Secret Service is reachable or the keyring is
    // locked (not when no token is stored).
    static Settings load(const std::function<void(std::string_view)>& diagnostic = {});
    static Settings load(const SettingsStore& store, const std::function<void(std::string_view)>& diagnostic = {});
};

} // namespace taskbell::MCPServer
