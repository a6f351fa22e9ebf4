#include "app/panel/issue_actions.h"

#include <QAction>

#include "app/model/app_store.h"

namespace taskbell::app {

IssueActions::IssueActions(AppStore& store, const Issue& issue, QObject* parent)
    : QObject(parent), store_(store), details_(new QAction(tr("Show full details"), this)), copy_(new QAction(this)),
      openInBrowser_(new QAction(this)), markDone_(new QAction(tr("Move to Done"), this))
{
    connect(details_, &QAction::triggered, this, [this] { emit taskDetailRequested(issue_); });
    connect(copy_, &QAction::triggered, this, [this] { store_.copyToClipboard(issue_); });
    connect(openInBrowser_, &QAction::triggered, this, [this] { store_.openInBrowser(issue_); });
    connect(markDone_, &QAction::triggered, this, [this] { store_.markDone(issue_); });
    bind(issue);
}

void IssueActions::bind(const Issue& issue)
{
    issue_ = issue;
    QString key = QString::fromStdString(issue_.key);
    copy_->setText(tr("Copy %1 + summary").arg(key));
    openInBrowser_->setText(tr("Open %1 in browser").arg(key));
}

} // namespace taskbell::app
