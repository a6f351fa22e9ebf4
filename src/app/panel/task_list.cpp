#include "app/panel/task_list.h"

#include <QLabel>
#include <QVBoxLayout>
#include <set>

#include "app/look/error_banner.h"
#include "app/look/look.h"
#include "app/look/widgets.h"
#include "app/model/app_store.h"
#include "app/panel/section_views.h"

namespace taskbell::app {

TaskList::TaskList(AppStore& store, RowContext context, QWidget* parent)
    : QWidget(parent), store_(store), context_(std::move(context)), layout_(new QVBoxLayout(this)),
      error_(new ErrorBanner(this))
{
    layout_->setContentsMargins(12, 12, 12, 12);
    layout_->setSpacing(14);
    layout_->setAlignment(Qt::AlignTop);
    backlog_ = {new SectionHeader(tr("Backlog"), "tray", this), new EmptyHint({}, this)};
    inProgress_ = {new SectionHeader(tr("In Progress"), "circle.dashed", this), new EmptyHint({}, this)};
    done_ = {new SectionHeader(tr("Done"), "checkmark.circle", this), new EmptyHint({}, this)};
    for (QWidget* widget :
         {static_cast<QWidget*>(error_), static_cast<QWidget*>(backlog_.header), static_cast<QWidget*>(backlog_.hint),
          static_cast<QWidget*>(inProgress_.header), static_cast<QWidget*>(inProgress_.hint),
          static_cast<QWidget*>(done_.header), static_cast<QWidget*>(done_.hint)}) {
        widget->hide();
    }
    connect(error_, &ErrorBanner::dismissRequested, &store_, &AppStore::dismissError);
}

void TaskList::setFilter(TaskFilter filter)
{
    if (filter != filter_) {
        filter_ = filter;
        rebuild();
    }
}

void TaskList::rebuild()
{
    std::vector<QWidget*> items;
    used_.clear();
    if (store_.errorMessage()) {
        error_->setMessage(*store_.errorMessage());
        error_->setDismissible(store_.isErrorKept());
        items.push_back(error_);
    }
    if (showsBacklog(filter_)) {
        addPart(items, backlog_, store_.backlog(), "b", tr("Nothing in the backlog."));
    }
    if (showsInProgress(filter_)) {
        addPart(items, inProgress_, store_.inProgress(), "p", tr("Nothing in progress right now."));
    }
    if (showsDone(filter_)) {
        addPart(items, done_, {}, "d", tr("No completed tasks in this period."));
        if (!store_.done().empty()) {
            items.pop_back(); // the hint addPart placed for the empty list given to it
            for (const MonthGroup& group : store_.doneByMonth()) {
                items.push_back(monthLabel(QString::fromStdString(group.label)));
                addRows(items, group.issues, "d");
            }
        }
    }
    // Only the rows shown now are kept: hundreds of hidden rows would cost more memory than remaking them
    // on a tab switch costs time.
    for (auto it = rows_.begin(); it != rows_.end();) {
        if (!used_.count(it->first)) {
            it->second->deleteLater();
            it = rows_.erase(it);
        } else {
            ++it;
        }
    }
    apply(std::move(items));
    updateBusy();
}

void TaskList::addPart(std::vector<QWidget*>& items, Part& part, const std::vector<Issue>& issues, const char* tag,
                       const QString& emptyText)
{
    if (filter_ == TaskFilter::all) {
        std::size_t count = tag[0] == 'b'   ? store_.backlog().size()
                            : tag[0] == 'p' ? store_.inProgress().size()
                                            : store_.done().size();
        part.header->setCount(count);
        items.push_back(part.header);
    }
    if (issues.empty()) {
        part.hint->setText(store_.isLoading() ? tr("Loading…") : emptyText);
        items.push_back(part.hint);
        return;
    }
    addRows(items, issues, tag);
}

void TaskList::addRows(std::vector<QWidget*>& items, const std::vector<Issue>& issues, const char* tag)
{
    for (const Issue& issue : issues) {
        std::string key = std::string(tag) + ":" + issue.id;
        while (used_.count(key)) {
            key += "#"; // the same issue twice in one section still gets a row each
        }
        used_[key] = true;
        items.push_back(rowFor(issue, key));
    }
}

TaskRow* TaskList::rowFor(const Issue& issue, const std::string& key)
{
    auto found = rows_.find(key);
    if (found != rows_.end()) {
        found->second->setIssue(issue);
        return found->second;
    }
    auto* row = new TaskRow(issue, context_, this);
    connect(row, &TaskRow::taskDetailRequested, this, &TaskList::taskDetailRequested);
    row->hide();
    rows_.emplace(key, row);
    return row;
}

QLabel* TaskList::monthLabel(const QString& label)
{
    auto found = monthLabels_.find(label);
    if (found != monthLabels_.end()) {
        return found->second;
    }
    QLabel* heading = look::textLabel(label, look::FontRole::Caption, look::secondary(palette()), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->setContentsMargins(0, 2, 0, 0);
    heading->hide();
    monthLabels_.emplace(label, heading);
    return heading;
}

void TaskList::apply(std::vector<QWidget*> items)
{
    if (items == shown_) {
        return;
    }
    setUpdatesEnabled(false);
    std::set<QWidget*> next(items.begin(), items.end());
    while (layout_->count() > 0) {
        delete layout_->takeAt(0);
    }
    for (QWidget* widget : shown_) {
        if (!next.count(widget)) {
            widget->hide();
        }
    }
    for (QWidget* widget : items) {
        layout_->addWidget(widget);
        widget->show();
    }
    shown_ = std::move(items);
    setUpdatesEnabled(true);
}

void TaskList::updateBusy()
{
    for (QWidget* widget : shown_) {
        if (auto* row = qobject_cast<TaskRow*>(widget)) {
            row->setBusy(store_.isBusy(QString::fromStdString(row->issue().key)));
        }
    }
}

void TaskList::ensureTransitions(const QRect& visible)
{
    for (QWidget* widget : shown_) {
        auto* row = qobject_cast<TaskRow*>(widget);
        if (row != nullptr && row->geometry().intersects(visible)) {
            row->ensureTransitions();
        }
    }
}

std::vector<TaskRow*> TaskList::shownRows() const
{
    std::vector<TaskRow*> rows;
    for (QWidget* widget : shown_) {
        if (auto* row = qobject_cast<TaskRow*>(widget)) {
            rows.push_back(row);
        }
    }
    return rows;
}

} // namespace taskbell::app
