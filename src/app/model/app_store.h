#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/model/timing.h"
#include "core/jira/client.h"
#include "core/jira/config.h"
#include "core/jira/models.h"
#include "core/jira/month_group.h"
#include "core/settings/store.h"

class QThreadPool;

namespace taskbell::app {

// The application's one task store: the settings, the signed-in user, the three sections, the busy set
// and the transitions cache, observed by every view. It lives on the GUI thread and is read and written
// only there; Jira work runs on a thread pool and its results are applied back on the GUI thread (never
// to a store that is already gone). No operation fails towards its caller: failures end in
// `errorMessage`, in a returned text, or are dropped by silent background work.
//
// Every member has a getter and a change signal emitted after it changed; the settings members have
// setters, which change only the member (`saveSettings` stores them).
//
// Completion callbacks (`finished`, `done`) run on the GUI thread after the store's state has been
// updated, and only while the store and the given context object (when there is one) still exist.
class AppStore : public QObject
{
    Q_OBJECT

public:
    // Reads the settings from the settings store (the application's XDG folder by default) and the token
    // from the Secret Service, then starts the periodic refresh. Does not load the sections.
    explicit AppStore(Timing timing = {}, QObject* parent = nullptr);
    AppStore(SettingsStore settings, Timing timing, QObject* parent = nullptr);
    ~AppStore() override;

    // Settings (saved by saveSettings).
    const QString& baseURL() const { return baseURL_; }
    const QString& email() const { return email_; }
    const QString& apiToken() const { return apiToken_; }
    const QString& projectKey() const { return projectKey_; }
    const QString& defaultIssueType() const { return defaultIssueType_; }
    int monthsBack() const { return monthsBack_; }
    int refreshMinutes() const { return refreshMinutes_; }
    bool autoUpdate() const { return autoUpdate_; }
    const QString& updateFeedURL() const { return updateFeedURL_; }

    void setBaseURL(const QString& value);
    void setEmail(const QString& value);
    void setApiToken(const QString& value);
    void setProjectKey(const QString& value);
    void setDefaultIssueType(const QString& value);
    void setMonthsBack(int value);
    void setRefreshMinutes(int value);
    void setAutoUpdate(bool value);
    void setUpdateFeedURL(const QString& value);

    // Loaded state.
    const std::optional<JiraUser>& currentUser() const { return currentUser_; }
    const std::vector<Issue>& backlog() const { return backlog_; }
    const std::vector<Issue>& inProgress() const { return inProgress_; }
    const std::vector<Issue>& done() const { return done_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    const std::set<QString>& busyIssueKeys() const { return busyIssueKeys_; }
    const std::map<QString, std::vector<Transition>>& transitionsByKey() const { return transitionsByKey_; }
    bool isBusy(const QString& issueKey) const { return busyIssueKeys_.count(issueKey) > 0; }
    // The cached transitions of the issue; nothing when none were fetched yet.
    std::optional<std::vector<Transition>> transitions(const QString& issueKey) const;

    // The text of the last failed saveSettings; absent after a successful one.
    const std::optional<QString>& saveError() const { return saveError_; }
    // Whether a periodic refresh is armed (complete settings and refreshMinutes >= 1).
    bool isAutoRefreshing() const;

    // Writes the eight settings and the token, then restarts the periodic refresh. When the settings file
    // cannot be written (disk full, read-only folder) nothing else happens: the typed values stay in the
    // store, the token is not written, the refresh is not restarted, `saveError` holds the text and false
    // is returned.
    bool saveSettings();
    // The connection settings exactly as they stand now (edited but unsaved values included).
    JiraConfig config() const;

    // Loads the user and the three sections: four concurrent requests, applied together or not at all.
    // A visible load shows isLoading and sets errorMessage on failure; a silent one shows neither and
    // clears errorMessage when it succeeds. Does nothing (and calls nothing) with incomplete settings.
    void load(bool silent, std::function<void()> finished = {});
    void startAutoRefresh();
    // Three silent loads, 1.5, 3.0 and 5.0 s apart; never cancelled, and none runs after the store is gone.
    void scheduleFollowupReload();
    // Done grouped by calendar month, newest first, labelled "LLLL yyyy" in the user's locale.
    std::vector<MonthGroup> doneByMonth() const;
    // The In Progress count in decimal when the settings are complete; otherwise empty.
    QString menuBarLabel() const;

    // Creates the issue, moves it into targetCategory ("indeterminate", "done") when one is given, reloads
    // and schedules the follow-up reloads. `done` receives the new key, or nothing when creation failed
    // (errorMessage then holds the reason); it is not called when `context` is gone.
    void createTask(const QString& projectKey, const QString& summary, const QString& issueType, bool assignToMe,
                    const QString& description, const std::optional<QString>& targetCategory, QObject* context,
                    std::function<void(std::optional<QString>)> done);
    // Fetches the issue's transitions unless they are cached; failures are dropped.
    void ensureTransitions(const Issue& issue, std::function<void()> finished = {});
    void applyTransition(const Issue& issue, const QString& transitionId, std::function<void()> finished = {});
    void markDone(const Issue& issue, std::function<void()> finished = {});
    // "Connected as <name>." or the error text; the store is not changed.
    void testConnection(QObject* context, std::function<void(QString)> done);
    void openInBrowser(const Issue& issue) const;
    void copyToClipboard(const Issue& issue) const;
    // First issue with exactly this key in Backlog, In Progress, Done.
    std::optional<Issue> issue(const QString& key) const;

    // The URL openInBrowser opens, and the text copyToClipboard writes.
    QString browseURL(const Issue& issue) const;
    static QString clipboardText(const Issue& issue);

signals:
    void baseURLChanged();
    void emailChanged();
    void apiTokenChanged();
    void projectKeyChanged();
    void defaultIssueTypeChanged();
    void monthsBackChanged();
    void refreshMinutesChanged();
    void autoUpdateChanged();
    void updateFeedURLChanged();
    void currentUserChanged();
    void backlogChanged();
    void inProgressChanged();
    void doneChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void busyIssueKeysChanged();
    void transitionsByKeyChanged();
    void saveErrorChanged();
    // After every load that got past the settings check, on the GUI thread.
    void loadFinished(bool silent, bool succeeded);

private:
    struct LoadResult;

    void readSettings();
    std::shared_ptr<std::atomic<bool>> newCancelFlag();
    void arrive(const std::shared_ptr<LoadResult>& state, std::size_t slot, std::exception_ptr error);
    void applyLoad(LoadResult& result);
    void followup(std::size_t step);
    void setErrorMessage(std::optional<QString> message);
    void setIsLoading(bool value);
    void setBusy(const QString& key, bool busy);
    // The end of a successful status change: forget the issue's transitions, reload visibly, schedule the
    // follow-up reloads, then clear the busy mark.
    void afterStatusChange(const QString& key, std::function<void()> finished);
    void runStatusChange(const Issue& issue, std::function<void(const JiraClient&, const std::atomic<bool>*)> change,
                         std::function<void()> finished);

    SettingsStore settings_;
    Timing timing_;
    QThreadPool* pool_;

    QString baseURL_;
    QString email_;
    QString apiToken_;
    QString projectKey_;
    QString defaultIssueType_;
    int monthsBack_ = 2;
    int refreshMinutes_ = 30;
    bool autoUpdate_ = true;
    QString updateFeedURL_;

    std::optional<JiraUser> currentUser_;
    std::vector<Issue> backlog_;
    std::vector<Issue> inProgress_;
    std::vector<Issue> done_;
    bool isLoading_ = false;
    std::optional<QString> errorMessage_;
    std::set<QString> busyIssueKeys_;
    std::map<QString, std::vector<Transition>> transitionsByKey_;
    std::optional<QString> saveError_;

    QTimer* refreshTimer_ = nullptr; // the running periodic refresh, when armed
    unsigned refreshGeneration_ = 0; // tells a replaced refresh loop to stop
    // Flags of running work, set when the store goes away.
    std::vector<std::weak_ptr<std::atomic<bool>>> cancels_;
};

} // namespace taskbell::app
