// The store's side of assistant activity: the registry of recent writes every client carries, the silent
// load a new journal entry starts, and undoing an entry.
#include <QThreadPool>

#include "app/model/app_store.h"
#include "app/model/background.h"
#include "app/model/text.h"
#include "core/activity/undo.h"
#include "core/jira/error_text.h"

namespace taskbell::app {

void AppStore::connectActivity()
{
    // An assistant wrote to Jira: show it now rather than at the next periodic refresh. The journal fed the
    // registry first, so the searches reconcile the issues just written.
    connect(activity_, &ActivityLog::entriesAdded, this, [this] { load(true); });
}

JiraClient AppStore::client(const JiraConfig& config) const
{
    JiraClient client{config};
    client.recentWrites = recentWrites_;
    return client;
}

void AppStore::undo(const Activity::Entry& entry, std::function<void()> finished)
{
    const auto& journal = activity_->journal();
    QString key = qs(entry.issueKey);
    if (!journal || !config().isComplete() || isBusy(key)) {
        if (finished) {
            finished();
        }
        return;
    }
    setErrorMessage(std::nullopt);
    setBusy(key, true);
    JiraClient client = this->client(config());
    auto cancel = newCancelFlag();
    runInPool(
        *pool_, this,
        [client, cancel, journal = *journal, entry] { return Activity::undo(client, journal, entry, cancel.get()); },
        [this, key, id = entry.id, finished](Outcome<Activity::UndoResult>& outcome) {
            if (!outcome.value) {
                setErrorMessage(qs(errorText(outcome.error)));
                setBusy(key, false);
                if (finished) {
                    finished();
                }
                return;
            }
            // The undo record is in the journal (read now, not when the watcher reports it), or it could not
            // be written and the entry reads as undone for this run only.
            if (outcome.value->recorded) {
                activity_->reread();
            } else {
                activity_->markUndone(id);
            }
            afterStatusChange(key, finished);
        });
}

} // namespace taskbell::app
