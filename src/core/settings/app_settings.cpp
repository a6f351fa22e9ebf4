#include "core/settings/app_settings.h"

#include <limits>
#include <optional>

namespace taskbell {

namespace {

std::optional<int> asInt(std::optional<std::int64_t> value)
{
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

} // namespace

AppSettings AppSettings::load(const SettingsStore& store)
{
    return from(store.load());
}

AppSettings AppSettings::from(const SettingsValues& values)
{
    AppSettings settings;
    settings.baseURL = values.text(SettingsKey::baseURL).value_or("");
    settings.email = values.text(SettingsKey::email).value_or("");
    settings.projectKey = values.text(SettingsKey::projectKey).value_or("");
    // Only a missing key falls back: a stored empty type stays empty.
    settings.defaultIssueType = values.text(SettingsKey::defaultIssueType).value_or("Task");
    // An integer lookup cannot tell a missing key from a stored 0, so 0 never comes out here.
    int months = asInt(values.integer(SettingsKey::monthsBack)).value_or(0);
    settings.monthsBack = months == 0 ? 2 : months;
    // A stored 0 means "off" and must survive; only a non-integer falls back.
    std::optional<Json> refresh = values.object(SettingsKey::refreshMinutes);
    if (refresh && refresh->is_number_integer()) {
        settings.refreshMinutes = asInt(values.integer(SettingsKey::refreshMinutes)).value_or(30);
    }
    std::optional<Json> autoUpdate = values.object(SettingsKey::autoUpdate);
    if (autoUpdate && autoUpdate->is_boolean()) {
        settings.autoUpdate = autoUpdate->get<bool>();
    }
    std::optional<Json> notify = values.object(SettingsKey::notifyAssistantChanges);
    if (notify && notify->is_boolean()) {
        settings.notifyAssistantChanges = notify->get<bool>();
    }
    settings.updateFeedURL = values.text(SettingsKey::updateFeedURL).value_or(std::string(kDefaultUpdateFeedURL));
    return settings;
}

void AppSettings::save(SettingsStore& store) const
{
    store.update([this](SettingsValues& values) {
        values.setText(SettingsKey::baseURL, baseURL);
        values.setText(SettingsKey::email, email);
        values.setText(SettingsKey::projectKey, projectKey);
        values.setText(SettingsKey::defaultIssueType, defaultIssueType);
        values.setInteger(SettingsKey::monthsBack, monthsBack);
        values.setInteger(SettingsKey::refreshMinutes, refreshMinutes);
        values.setBoolean(SettingsKey::autoUpdate, autoUpdate);
        values.setText(SettingsKey::updateFeedURL, updateFeedURL);
        values.setBoolean(SettingsKey::notifyAssistantChanges, notifyAssistantChanges);
    });
}

JiraConfig jiraConfig(const AppSettings& settings, std::string apiToken)
{
    return JiraConfig{settings.baseURL, settings.email, std::move(apiToken)};
}

} // namespace taskbell
