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

#include "app/model/activity_log.h"
#include "app/model/timing.h"
#include "core/activity/entry.h"
#include "core/jira/client.h"
#include "core/jira/config.h"
#include "core/jira/models.h"
#include "core/jira/month_group.h"
#include "core/jira/recent_writes.h"
#include "core/platform/keychain.h"
#include "core/settings/app_settings.h"
#include "core/settings/store.h"

class QThreadPool;

namespace taskbell::app {

// The application's one task store: the saved settings and the API token, the signed-in user, the three
// sections, the busy set and the transitions cache, observed by every view. It lives on the GUI thread and
// is read and written only there; Jira work runs on a thread pool and its results are applied back on the
// GUI thread (never to a store that is already gone). No operation fails towards its caller: failures end
// in `errorMessage`, `saveError`, a returned text, or are dropped by silent background work.
//
// A few coarse signals tell what changed: the settings (and the token), the tasks, the state (loading,
// error, busy marks, save error, token reading), one issue's transitions, and the end of each load.
//
// Completion callbacks (`finished`, `done`) run on the GUI thread after the store's state has been
// updated, and only while the store and the given context object (when there is one) still exist.
class AppStore : public QObject
{
    Q_OBJECT

public:
    // When the token is read from the Secret Service: before the constructor returns, or on the pool, so that
    // a slow or stalled keyring does not hold up the caller (the application's tray icon).
    enum class TokenRead { atOnce, inBackground };

    // Reads the settings from the settings store and the token from the Secret Service, then starts the
    // periodic refresh. Does not load the sections, not even when a token read in the background arrives.
    AppStore(SettingsStore settings, Timing timing, QObject* parent = nullptr);
    AppStore(SettingsStore settings, Timing timing, TokenRead read, QObject* parent = nullptr);
    // With the token already known: the Secret Service is not asked.
    AppStore(SettingsStore settings, Timing timing, const QString& token, QObject* parent = nullptr);
    ~AppStore() override;

    // The saved settings, and the token with how reading it went.
    const AppSettings& settings() const { return settings_; }
    const QString& apiToken() const { return apiToken_; }
    Keychain::ReadStatus tokenStatus() const { return tokenStatus_; }
    // The token is stored but could not be read (keyring locked, Secret Service slow or absent).
    bool tokenUnreadable() const;
    // A token read (the first one, or a retryToken) is under way.
    bool isReadingToken() const { return readingToken_; }
    // The site and e-mail are saved and the token is still being read for the first time: whether the
    // store is configured is not known yet.
    bool isTokenPending() const;
    // The connection settings as saved.
    JiraConfig config() const;

    // Writes the settings and, when `token` is given (the user edited it), the token; then restarts the
    // periodic refresh. Nothing is written to the keyring without a token: one that could not be read is
    // never overwritten. On a failure `saveError` holds the text, false is returned, and the store keeps
    // its saved state: when the settings file cannot be written nothing changes; when the token cannot be
    // stored the settings stay saved and the old token stays in use.
    bool saveSettings(const AppSettings& values, const std::optional<QString>& token);
    // The text of the last failed saveSettings; absent after a successful one.
    const std::optional<QString>& saveError() const { return saveError_; }
    // Reads the token again on the pool (after the keyring was unlocked or its service came up); when
    // the settings are then complete, the periodic refresh restarts and a visible load runs.
    void retryToken();

    // Loaded state.
    const std::optional<JiraUser>& currentUser() const { return currentUser_; }
    const std::vector<Issue>& backlog() const { return backlog_; }
    const std::vector<Issue>& inProgress() const { return inProgress_; }
    const std::vector<Issue>& done() const { return done_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    // The error message stays until dismissed or replaced by a later visible action: silent loads leave it.
    bool isErrorKept() const { return errorKept_; }
    void dismissError();
    const std::set<QString>& busyIssueKeys() const { return busyIssueKeys_; }
    bool isBusy(const QString& issueKey) const { return busyIssueKeys_.count(issueKey) > 0; }
    // The cached transitions of the issue; nothing when none were fetched yet.
    std::optional<std::vector<Transition>> transitions(const QString& issueKey) const;
    // Whether a periodic refresh is armed (complete settings and refreshMinutes >= 1).
    bool isAutoRefreshing() const;

    // Loads the user and the three sections: four concurrent requests, applied together or not at all.
    // A visible load shows isLoading and sets errorMessage on failure; a silent one shows neither and
    // clears errorMessage when it succeeds (unless it is kept). Does nothing (and calls nothing) with
    // incomplete settings.
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
    // (errorMessage then holds the reason); it is not called when `context` is gone. A failed move is
    // reported in errorMessage and kept there.
    void createTask(const QString& projectKey, const QString& summary, const QString& issueType, bool assignToMe,
                    const QString& description, const std::optional<QString>& targetCategory, QObject* context,
                    std::function<void(std::optional<QString>)> done);
    // Fetches the issue's transitions unless they are cached; failures are dropped, and so is an answer
    // that a status change of the issue made stale.
    void ensureTransitions(const Issue& issue, std::function<void()> finished = {});
    void applyTransition(const Issue& issue, const QString& transitionId, std::function<void()> finished = {});
    void markDone(const Issue& issue, std::function<void()> finished = {});
    // "Connected as <name>." or the error text, for the given connection settings; the store is not changed.
    void testConnection(const JiraConfig& config, QObject* context, std::function<void(QString)> done);
    void openInBrowser(const Issue& issue) const;
    void copyToClipboard(const Issue& issue) const;
    // First issue with exactly this key in Backlog, In Progress, Done.
    std::optional<Issue> issue(const QString& key) const;

    // What assistants changed (empty until it watches a journal). Its new entries start a silent load, and
    // every read feeds the registry of recent writes that each client the store builds carries.
    ActivityLog& activity() { return *activity_; }
    const ActivityLog& activity() const { return *activity_; }
    // Undoes an assistant's change: the issue is busy meanwhile, a refusal or failure lands in errorMessage,
    // a success marks the entry undone and reloads.
    void undo(const Activity::Entry& entry, std::function<void()> finished = {});

    // The URL openInBrowser opens, and the text copyToClipboard writes.
    QString browseURL(const Issue& issue) const;
    static QString clipboardText(const Issue& issue);

signals:
    // The saved settings, the token or its status changed.
    void settingsChanged();
    // The user or the sections changed.
    void tasksChanged();
    // Loading, the error message, the busy marks, the save error or the token reading changed.
    void stateChanged();
    // The cached transitions of this issue were fetched or forgotten.
    void transitionsChanged(const QString& issueKey);
    // After every load that got past the settings check, on the GUI thread.
    void loadFinished(bool silent, bool succeeded);

private:
    struct LoadResult;

    void connectActivity();
    // A client for these settings that records its writes in, and reconciles searches with, recentWrites_.
    JiraClient client(const JiraConfig& config) const;
    // Reads the token on the pool; a result that a saved token has overtaken meanwhile is dropped.
    void readToken(std::function<void()> then);
    void applyToken(const Keychain::ReadResult& result);
    std::shared_ptr<std::atomic<bool>> newCancelFlag();
    void arrive(const std::shared_ptr<LoadResult>& state, std::size_t slot, std::exception_ptr error);
    void applyLoad(LoadResult& result);
    void followup(std::size_t step);
    void setErrorMessage(std::optional<QString> message, bool kept = false);
    void setIsLoading(bool value);
    void setSaveError(std::optional<QString> message);
    void setBusy(const QString& key, bool busy);
    // The end of a successful status change: forget the issue's transitions, reload visibly, schedule the
    // follow-up reloads, then clear the busy mark.
    void afterStatusChange(const QString& key, std::function<void()> finished);
    void runStatusChange(const Issue& issue, std::function<void(const JiraClient&, const std::atomic<bool>*)> change,
                         std::function<void()> finished);

    SettingsStore settingsStore_;
    Timing timing_;
    QThreadPool* pool_;
    std::shared_ptr<RecentWrites> recentWrites_ = std::make_shared<RecentWrites>(timing_.now);
    ActivityLog* activity_ = new ActivityLog(recentWrites_, timing_.now, this);

    AppSettings settings_;
    QString apiToken_;
    Keychain::ReadStatus tokenStatus_ = Keychain::ReadStatus::notStored;
    bool readingToken_ = false;
    bool tokenRead_ = false;       // a read has finished (or the token was given or saved)
    unsigned tokenGeneration_ = 0; // counts saved tokens

    std::optional<JiraUser> currentUser_;
    std::vector<Issue> backlog_;
    std::vector<Issue> inProgress_;
    std::vector<Issue> done_;
    bool isLoading_ = false;
    std::optional<QString> errorMessage_;
    bool errorKept_ = false;
    std::set<QString> busyIssueKeys_;
    std::map<QString, std::vector<Transition>> transitionsByKey_;
    // How often each issue's transitions were forgotten; an answer asked for before the last time is stale.
    std::map<QString, unsigned> transitionsEpoch_;
    std::optional<QString> saveError_;

    QTimer* refreshTimer_ = nullptr; // the running periodic refresh, when armed
    unsigned refreshGeneration_ = 0; // tells a replaced refresh loop to stop
    // Flags of running work, set when the store goes away.
    std::vector<std::weak_ptr<std::atomic<bool>>> cancels_;
};

} // namespace taskbell::app
