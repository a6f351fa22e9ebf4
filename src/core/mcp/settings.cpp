#include "core/mcp/settings.h"

#include "core/platform/keychain.h"
#include "core/settings/app_settings.h"

namespace taskbell::MCPServer {

Settings Settings::load(const std::function<void(std::string_view)>& diagnostic)
{
    return load(SettingsStore(), diagnostic);
}

Settings Settings::load(const SettingsStore& store, const std::function<void(std::string_view)>& diagnostic)
{
    // The same keys and fallbacks as the application; the MCP mode needs only some of them.
    AppSettings app = AppSettings::load(store);
    Keychain::ReadResult token = Keychain::read(Keychain::kTokenAccount);
    if (diagnostic && token.status == Keychain::ReadStatus::unreachable) {
        diagnostic("cannot read the API token \u2014 no Secret Service is reachable");
    } else if (diagnostic && token.status == Keychain::ReadStatus::locked) {
        diagnostic("cannot read the API token \u2014 the keyring is locked");
    }
    return Settings{jiraConfig(app, std::move(token.value)), app.projectKey, app.defaultIssueType, app.monthsBack};
}

} // namespace taskbell::MCPServer
