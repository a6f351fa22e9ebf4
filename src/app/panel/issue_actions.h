#pragma once

#include <QObject>

#include "core/jira/models.h"

class QAction;

namespace taskbell::app {

class AppStore;

// The commands on one issue, each a QAction made once and used by the row's buttons, the status menu's
// extra items and the detail window alike: "Show full details" (a request for the detail window),
// "Copy KEY + summary", "Open KEY in browser" and "Move to Done". Binding another issue keeps the actions
// and renames them, so a row widget can be reused for any issue.
class IssueActions : public QObject
{
    Q_OBJECT

public:
    IssueActions(AppStore& store, const Issue& issue, QObject* parent = nullptr);

    void bind(const Issue& issue);
    const Issue& issue() const { return issue_; }

    QAction* details() const { return details_; }
    QAction* copy() const { return copy_; }
    QAction* openInBrowser() const { return openInBrowser_; }
    QAction* markDone() const { return markDone_; }

signals:
    void taskDetailRequested(const Issue& issue);

private:
    AppStore& store_;
    Issue issue_;
    QAction* details_;
    QAction* copy_;
    QAction* openInBrowser_;
    QAction* markDone_;
};

} // namespace taskbell::app
