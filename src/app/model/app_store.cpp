#include "app/model/app_store.h"

#include <QThreadPool>

namespace taskbell::app {

AppStore::AppStore(Timing timing, QObject* parent) : AppStore(SettingsStore(), std::move(timing), parent) {}

AppStore::AppStore(SettingsStore settings, Timing timing, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), timing_(std::move(timing)), pool_(new QThreadPool(this))
{
}

AppStore::~AppStore() = default;

void AppStore::setBaseURL(const QString&) {}
void AppStore::setEmail(const QString&) {}
void AppStore::setApiToken(const QString&) {}
void AppStore::setProjectKey(const QString&) {}
void AppStore::setDefaultIssueType(const QString&) {}
void AppStore::setMonthsBack(int) {}
void AppStore::setRefreshMinutes(int) {}
void AppStore::setAutoUpdate(bool) {}
void AppStore::setUpdateFeedURL(const QString&) {}

std::optional<std::vector<Transition>> AppStore::transitions(const QString&) const
{
    return std::nullopt;
}

bool AppStore::isAutoRefreshing() const
{
    return false;
}

bool AppStore::saveSettings()
{
    return false;
}

JiraConfig AppStore::config() const
{
    return {};
}

void AppStore::load(bool, std::function<void()>) {}
void AppStore::startAutoRefresh() {}
void AppStore::scheduleFollowupReload() {}

std::vector<MonthGroup> AppStore::doneByMonth() const
{
    return {};
}

QString AppStore::menuBarLabel() const
{
    return {};
}

void AppStore::createTask(const QString&, const QString&, const QString&, bool, const QString&,
                          const std::optional<QString>&, QObject*, std::function<void(std::optional<QString>)>)
{
}

void AppStore::ensureTransitions(const Issue&, std::function<void()>) {}
void AppStore::applyTransition(const Issue&, const QString&, std::function<void()>) {}
void AppStore::markDone(const Issue&, std::function<void()>) {}
void AppStore::testConnection(QObject*, std::function<void(QString)>) {}
void AppStore::openInBrowser(const Issue&) const {}
void AppStore::copyToClipboard(const Issue&) const {}

std::optional<Issue> AppStore::issue(const QString&) const
{
    return std::nullopt;
}

QString AppStore::browseURL(const Issue&) const
{
    return {};
}

QString AppStore::clipboardText(const Issue&)
{
    return {};
}

} // namespace taskbell::app
