// The writing and acting side of the store: creating tasks, status changes, transitions, the connection
// test, the browser and the clipboard.
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPointer>
#include <QUrl>

#include "app/model/app_store.h"
#include "app/model/background.h"
#include "app/model/text.h"
#include "core/jira/client.h"
#include "core/jira/error_text.h"

namespace taskbell::app {
namespace {

// Blanks only: Unicode space separators and tabs, never line breaks.
bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimBlanks(const QString& value)
{
    qsizetype start = 0;
    qsizetype end = value.size();
    while (start < end && isBlank(value[start])) {
        ++start;
    }
    while (end > start && isBlank(value[end - 1])) {
        --end;
    }
    return value.mid(start, end - start);
}

// What creating a task produced: the new key, and the reason a requested move failed.
struct Created
{
    std::string key;
    std::optional<std::string> moveError;
};

} // namespace

void AppStore::createTask(const QString& projectKey, const QString& summary, const QString& issueType, bool assignToMe,
                          const QString& description, const std::optional<QString>& targetCategory, QObject* context,
                          std::function<void(std::optional<QString>)> done)
{
    setErrorMessage(std::nullopt);
    std::optional<std::string> assignee;
    if (assignToMe && currentUser_) {
        assignee = currentUser_->accountId;
    }
    std::optional<std::string> category;
    if (targetCategory) {
        category = targetCategory->toStdString();
    }
    JiraClient client = this->client(config());
    auto cancel = newCancelFlag();
    auto work = [client, cancel, project = trimBlanks(projectKey).toStdString(),
                 title = trimBlanks(summary).toStdString(), type = trimBlanks(issueType).toStdString(), assignee,
                 text = description.toStdString(), category] {
        Created created{client.createIssue(project, title, type, assignee, text, cancel.get()).key, std::nullopt};
        if (category) {
            try {
                client.move(created.key, *category, cancel.get());
            } catch (const std::exception& error) {
                created.moveError = errorText(error);
            }
        }
        return created;
    };
    auto apply = [this, category, guard = QPointer<QObject>(context), done](Outcome<Created>& outcome) {
        // The new key, or an empty text when nothing was created.
        auto reply = [guard, done](const QString& key) {
            if (guard && done) {
                done(key.isEmpty() ? std::nullopt : std::optional<QString>(key));
            }
        };
        if (!outcome.value) {
            setErrorMessage(qs(errorText(outcome.error)));
            reply(QString());
            return;
        }
        QString key = qs(outcome.value->key);
        if (outcome.value->moveError) {
            // Kept until dismissed: the panel is hidden behind the new-task window when this arrives.
            setErrorMessage(tr("%1 was created but couldn't be moved to %2. %3")
                                .arg(key, qs(categoryLabel(*category)), qs(*outcome.value->moveError)),
                            true);
        }
        load(false, [this, key, reply] {
            scheduleFollowupReload();
            reply(key);
        });
        if (!config().isComplete()) { // no load ran (settings changed meanwhile)
            scheduleFollowupReload();
            reply(key);
        }
    };
    runInPool(*pool_, this, std::move(work), std::move(apply));
}

void AppStore::ensureTransitions(const Issue& issue, std::function<void()> finished)
{
    QString key = qs(issue.key);
    if (!config().isComplete() || transitionsByKey_.count(key) > 0) {
        if (finished) {
            finished();
        }
        return;
    }
    JiraClient client = this->client(config());
    auto cancel = newCancelFlag();
    runInPool(
        *pool_, this, [client, cancel, key = issue.key] { return client.transitions(key, cancel.get()); },
        [this, key, epoch = transitionsEpoch_[key], finished](Outcome<std::vector<Transition>>& outcome) {
            // An answer asked for before a status change of the issue lists moves from its old status.
            if (outcome.value && epoch == transitionsEpoch_[key]) {
                transitionsByKey_[key] = std::move(*outcome.value);
                emit transitionsChanged(key);
            }
            if (finished) {
                finished();
            }
        });
}

void AppStore::applyTransition(const Issue& issue, const QString& transitionId, std::function<void()> finished)
{
    runStatusChange(
        issue,
        [key = issue.key, id = transitionId.toStdString()](const JiraClient& client, const std::atomic<bool>* cancel) {
            client.applyTransition(key, id, cancel);
        },
        std::move(finished));
}

void AppStore::markDone(const Issue& issue, std::function<void()> finished)
{
    runStatusChange(
        issue,
        [key = issue.key](const JiraClient& client, const std::atomic<bool>* cancel) {
            client.move(key, "done", cancel);
        },
        std::move(finished));
}

// The issue is busy from here until the reload after a success, or until the error is shown.
void AppStore::runStatusChange(const Issue& issue,
                               std::function<void(const JiraClient&, const std::atomic<bool>*)> change,
                               std::function<void()> finished)
{
    QString key = qs(issue.key);
    setBusy(key, true);
    JiraClient client = this->client(config());
    auto cancel = newCancelFlag();
    runInPool(
        *pool_, this, [client, cancel, change] { change(client, cancel.get()); },
        [this, key, finished](Outcome<std::monostate>& outcome) {
            if (outcome.error) {
                setErrorMessage(qs(errorText(outcome.error)));
                setBusy(key, false);
                if (finished) {
                    finished();
                }
                return;
            }
            afterStatusChange(key, finished);
        });
}

void AppStore::afterStatusChange(const QString& key, std::function<void()> finished)
{
    ++transitionsEpoch_[key];
    if (transitionsByKey_.erase(key) > 0) {
        emit transitionsChanged(key);
    }
    auto end = [this, key, finished] {
        scheduleFollowupReload();
        setBusy(key, false);
        if (finished) {
            finished();
        }
    };
    if (!config().isComplete()) { // the settings were changed meanwhile: no load can run
        end();
        return;
    }
    load(false, end);
}

void AppStore::testConnection(const JiraConfig& config, QObject* context, std::function<void(QString)> done)
{
    JiraClient client = this->client(config);
    auto cancel = newCancelFlag();
    runInPool(
        *pool_, this, [client, cancel] { return client.myself(cancel.get()); },
        [guard = QPointer<QObject>(context), done](Outcome<JiraUser>& outcome) {
            if (!guard || !done) {
                return;
            }
            if (!outcome.value) {
                done(qs(errorText(outcome.error)));
                return;
            }
            const JiraUser& user = *outcome.value;
            // The presence of a name counts, not its emptiness.
            std::string name = user.displayName ? *user.displayName : user.emailAddress.value_or("user");
            done(tr("Connected as %1.").arg(qs(name)));
        });
}

QString AppStore::browseURL(const Issue& issue) const
{
    return qs(config().normalizedBaseURL()) + "/browse/" + qs(issue.key);
}

void AppStore::openInBrowser(const Issue& issue) const
{
    QUrl url(browseURL(issue), QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty()) {
        QDesktopServices::openUrl(url);
    }
}

QString AppStore::clipboardText(const Issue& issue)
{
    return qs(issue.key) + ": " + qs(issue.summaryText());
}

void AppStore::copyToClipboard(const Issue& issue) const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(clipboardText(issue));
}

std::optional<Issue> AppStore::issue(const QString& key) const
{
    std::string wanted = key.toStdString();
    for (const auto* section : {&backlog_, &inProgress_, &done_}) {
        for (const Issue& candidate : *section) {
            if (candidate.key == wanted) {
                return candidate;
            }
        }
    }
    return std::nullopt;
}

void AppStore::setBusy(const QString& key, bool busy)
{
    bool changed = busy ? busyIssueKeys_.insert(key).second : busyIssueKeys_.erase(key) > 0;
    if (changed) {
        emit stateChanged();
    }
}

} // namespace taskbell::app
