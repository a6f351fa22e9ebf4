#include "app/panel/task_list.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <algorithm>
#include <limits>
#include <set>

#include "app/look/error_banner.h"
#include "app/look/look.h"
#include "app/look/widgets.h"
#include "app/model/app_store.h"
#include "app/panel/accessibility.h"
#include "app/panel/section_views.h"
#include "core/jira/month_group.h"

namespace taskbell::app {

namespace {

constexpr int kMargin = 12;
constexpr int kSpacing = 14;

QScrollArea* scrollAreaOf(const QWidget* list)
{
    QWidget* viewport = list->parentWidget();
    return viewport != nullptr ? qobject_cast<QScrollArea*>(viewport->parentWidget()) : nullptr;
}

} // namespace

TaskList::TaskList(AppStore& store, RowContext context, QWidget* parent)
    : QWidget(parent), store_(store), context_(std::move(context)), error_(new ErrorBanner(this))
{
    installPanelAccessibility();
    setObjectName(QStringLiteral("taskList"));
    setAccessibleName(tr("Tasks"));
    // A stop of its own in the focus chain, which passes focus on to the first row on screen; the built
    // rows follow it in the chain, in the list's order.
    setFocusPolicy(Qt::TabFocus);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    backlog_ = {tr("Backlog"), "tray"};
    inProgress_ = {tr("In Progress"), "circle.dashed"};
    done_ = {tr("Done"), "checkmark.circle"};
    error_->hide();
    connect(error_, &ErrorBanner::dismissRequested, &store_, &AppStore::dismissError);
    connect(&store_, &AppStore::tasksChanged, this, [this] { stale_ = true; });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { onFocusChanged(now); });
    dayTimer_.setSingleShot(true);
    connect(&dayTimer_, &QTimer::timeout, this, [this] {
        refreshDates();
        armDayTimer();
    });
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
    stale_ = false;
    rebind_ = true;
    items_.clear();
    if (store_.errorMessage()) {
        error_->setMessage(*store_.errorMessage());
        error_->setDismissible(store_.isErrorKept());
        items_.push_back({Kind::error, error_});
    }
    taskCount_ = 0;
    if (showsBacklog(filter_)) {
        addPart(backlog_, store_.backlog(), store_.backlog().size(), "b", tr("Nothing in the backlog."));
    }
    if (showsInProgress(filter_)) {
        addPart(inProgress_, store_.inProgress(), store_.inProgress().size(), "p",
                tr("Nothing in progress right now."));
    }
    if (showsDone(filter_)) {
        addPart(done_, {}, store_.done().size(), "d", tr("No completed tasks in this period."));
        if (!store_.done().empty()) {
            items_.pop_back(); // the hint addPart placed for the empty list given to it
            addDoneByMonth();
        }
    }
    setAccessibleDescription(taskCount_ == 1 ? tr("1 task") : tr("%1 tasks").arg(taskCount_));
    if (heights_.size() > 4 * (store_.backlog().size() + store_.inProgress().size() + store_.done().size()) + 64) {
        heights_.clear(); // mostly old versions and widths
        monthOf_.clear();
    }
    measuredWidth_ = -1;
    if (isVisible()) {
        measure(width());
        heightChanged();
        placeVisible();
    } else {
        updateGeometry(); // measured and placed when shown, at the width it is shown at
    }
    armDayTimer();
}

void TaskList::addPart(Part& part, const std::vector<Issue>& issues, std::size_t count, const char* tag,
                       const QString& emptyText)
{
    taskCount_ += count;
    if (filter_ == TaskFilter::all) {
        if (part.header == nullptr) {
            part.header = new SectionHeader(part.title, part.symbol, this);
            part.header->hide();
        }
        part.header->setCount(count);
        items_.push_back({Kind::header, part.header});
    }
    if (issues.empty()) {
        if (part.hint == nullptr) {
            part.hint = new EmptyHint({}, this);
            part.hint->hide();
        }
        part.hint->setText(store_.isLoading() ? tr("Loading…") : emptyText);
        items_.push_back({Kind::hint, part.hint});
        return;
    }
    addRows(issues, tag);
}

void TaskList::addRows(const std::vector<Issue>& issues, const char* tag)
{
    std::vector<const Issue*> rows;
    rows.reserve(issues.size());
    for (const Issue& issue : issues) {
        rows.push_back(&issue);
    }
    addRows(rows, tag);
}

void TaskList::addRows(const std::vector<const Issue*>& issues, const char* tag)
{
    std::set<std::string> keys;
    for (const Issue* issue : issues) {
        Item item{Kind::row, nullptr, issue, std::string(tag) + ":" + issue->id};
        while (!keys.insert(item.key).second) {
            item.key += "#"; // the same issue twice in one section still gets a row each
        }
        items_.push_back(std::move(item));
    }
}

// Done grouped by the calendar month of each issue's date, newest month first, each month's issues in
// their order; the month of an issue version is worked out once.
void TaskList::addDoneByMonth()
{
    struct Month
    {
        std::chrono::system_clock::time_point date;
        QString label;
        std::vector<const Issue*> issues;
    };
    std::vector<Month> months;
    for (const Issue& issue : store_.done()) {
        std::string key = issue.id + '|' + issue.fields.updated.value_or(std::string()) + '|' +
                          issue.fields.resolutiondate.value_or(std::string());
        auto found = monthOf_.find(key);
        if (found == monthOf_.end()) {
            found = monthOf_.emplace(key, QString::fromStdString(JiraDate::monthLabel(issue.sortDate()))).first;
        }
        auto month = std::find_if(months.begin(), months.end(),
                                  [&](const Month& candidate) { return candidate.label == found->second; });
        if (month == months.end()) {
            months.push_back({issue.sortDate(), found->second, {}});
            month = months.end() - 1;
        }
        month->issues.push_back(&issue);
    }
    std::stable_sort(months.begin(), months.end(), [](const Month& a, const Month& b) { return a.date > b.date; });
    for (const Month& month : months) {
        items_.push_back({Kind::month, monthLabel(month.label)});
        addRows(month.issues, "d");
    }
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

void TaskList::measure(int width)
{
    if (width == measuredWidth_ || width <= 0) {
        return;
    }
    measuredWidth_ = width;
    totalHeight_ = place(width, true);
}

// The list's height at `width`, or a height past `limit` once it is taller; with `keep`, each item's place is
// kept for that width.
int TaskList::place(int width, bool keep, int limit)
{
    int inner = width - 2 * kMargin;
    int top = kMargin;
    for (Item& item : items_) {
        int height = 0;
        if (item.kind == Kind::row) {
            height = rowHeight(item, inner);
        } else if (item.widget->hasHeightForWidth()) {
            height = item.widget->heightForWidth(inner);
        } else {
            height = item.widget->sizeHint().height();
        }
        if (keep) {
            item.top = top;
            item.height = height;
        }
        top += height + kSpacing;
        if (top > limit) {
            return top;
        }
    }
    return items_.empty() ? 2 * kMargin : top - kSpacing + kMargin;
}

int TaskList::rowHeight(const Item& item, int width)
{
    const Issue& issue = *item.issue;
    // Asked for every row of the tab on each rebuild: the key is written into one reused buffer.
    std::string& key = heightKey_;
    key.assign(issue.id).append(1, '|');
    if (issue.fields.updated) {
        key.append(*issue.fields.updated);
    }
    key.append(1, '|').append(std::to_string(width));
    auto found = heights_.find(key);
    if (found != heights_.end()) {
        return found->second;
    }
    if (pool_.empty()) {
        free_.push_back(takeRow(nullptr)); // the pool's first row measures for the others
    }
    int height = pool_.front()->heightFor(issue, width);
    heights_.emplace(key, height);
    return height;
}

int TaskList::heightForWidth(int width) const
{
    if (width == measuredWidth_) {
        return totalHeight_;
    }
    // Asked for a width the list is not shown at: the scroll area tries one without its scroll bar, to learn
    // whether the list fits. Measuring stops once the list is taller than its screen; measured rows are
    // cached, and the places stay those of the current width.
    const QScreen* shown = screen();
    int limit = shown != nullptr ? shown->availableGeometry().height() : std::numeric_limits<int>::max();
    return const_cast<TaskList*>(this)->place(width, false, limit);
}

QSize TaskList::sizeHint() const
{
    return {400, totalHeight_};
}

void TaskList::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    placeVisible();
}

void TaskList::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeAtWidth();
}

void TaskList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    placeAtWidth();
}

void TaskList::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!painted_) {
        painted_ = true;
        QTimer::singleShot(0, this, [this] {
            placeVisible(); // the rows just off screen
            emit firstPainted();
        });
    }
}

void TaskList::placeAtWidth()
{
    int before = totalHeight_;
    measure(width());
    if (totalHeight_ != before) {
        heightChanged();
    }
    placeVisible();
}

// The scroll area sizes this widget by its height for the viewport's width, asked again on a layout request.
void TaskList::heightChanged()
{
    updateGeometry();
    if (QScrollArea* area = scrollAreaOf(this); area != nullptr && height() != totalHeight_) {
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(area, &request);
    }
}

// A free row, or a new one made for `issue` (when given) that shows it already.
TaskRow* TaskList::takeRow(const Issue* issue)
{
    if (!free_.empty()) {
        TaskRow* row = free_.back();
        free_.pop_back();
        return row;
    }
    auto* row = new TaskRow(issue != nullptr ? *issue : Issue(), context_, this);
    row->hide();
    connect(row, &TaskRow::taskDetailRequested, this, &TaskList::taskDetailRequested);
    pool_.push_back(row);
    return row;
}

void TaskList::placeVisible()
{
    if (stale_ || width() <= 0) {
        return;
    }
    measure(width());
    // The visible part, in this widget's coordinates, widened by a quarter screen each way once the list
    // has been painted: the first frame waits only for the rows it shows.
    QWidget* viewport = parentWidget();
    int viewTop = viewport != nullptr ? -y() : 0;
    int viewHeight = viewport != nullptr ? viewport->height() : height();
    int margin = painted_ ? viewHeight / 4 : 0;
    int from = viewTop - margin;
    int to = viewTop + viewHeight + margin;
    auto begin = std::partition_point(items_.begin(), items_.end(),
                                      [from](const Item& item) { return item.top + item.height < from; });
    auto end = std::partition_point(begin, items_.end(), [to](const Item& item) { return item.top <= to; });
    // One more row past each end, so focus can always step onto a built row.
    if (begin != items_.begin()) {
        --begin;
    }
    if (end != items_.end()) {
        ++end;
    }

    std::vector<QWidget*> next;
    std::map<std::string, TaskRow*> bound;
    std::vector<Item*> unbound;
    for (auto it = begin; it != end; ++it) {
        if (it->kind != Kind::row) {
            continue;
        }
        auto found = bound_.find(it->key);
        if (found != bound_.end()) {
            bound.emplace(it->key, found->second);
            bound_.erase(found);
        } else {
            unbound.push_back(&*it);
        }
    }
    for (auto& [key, row] : bound_) {
        row->hide();
        free_.push_back(row);
    }
    std::set<TaskRow*> fresh; // rows to give their issue
    std::set<TaskRow*> made;  // rows made for their issue just now
    for (Item* item : unbound) {
        std::size_t before = pool_.size();
        TaskRow* row = takeRow(item->issue);
        bound.emplace(item->key, row);
        (pool_.size() > before ? made : fresh).insert(row);
    }
    bound_ = std::move(bound);
    int width = measuredWidth_ - 2 * kMargin;
    for (auto it = begin; it != end; ++it) {
        QWidget* widget = it->widget;
        if (it->kind == Kind::row) {
            auto* row = bound_.at(it->key);
            // A row kept across a scroll shows its issue already; after a rebuild every row takes its
            // issue again (a reload may have changed it, and the date line follows the clock).
            if ((rebind_ && made.count(row) == 0) || fresh.count(row) != 0) {
                row->setIssue(*it->issue);
            }
            row->setBusy(store_.isBusy(QString::fromStdString(it->issue->key)));
            widget = row;
        }
        widget->setGeometry(kMargin, it->top, width, it->height);
        next.push_back(widget);
    }
    for (QWidget* widget : shown_) {
        if (qobject_cast<TaskRow*>(widget) == nullptr && std::find(next.begin(), next.end(), widget) == next.end()) {
            widget->hide();
        }
    }
    for (QWidget* widget : next) {
        widget->show();
    }
    rebind_ = false;
    bool changed = next != shown_;
    shown_ = std::move(next);
    if (changed) {
        chainFocus();
    }
}

void TaskList::chainFocus()
{
    QWidget* previous = this;
    for (QWidget* widget : shown_) {
        if (auto* row = qobject_cast<TaskRow*>(widget)) {
            for (QWidget* stop : row->focusStops()) {
                QWidget::setTabOrder(previous, stop);
                previous = stop;
            }
        }
    }
}

void TaskList::updateBusy()
{
    for (QWidget* widget : shown_) {
        if (auto* row = qobject_cast<TaskRow*>(widget)) {
            row->setBusy(store_.isBusy(QString::fromStdString(row->issue().key)));
        }
    }
}

void TaskList::refreshDates()
{
    for (QWidget* widget : shown_) {
        if (auto* row = qobject_cast<TaskRow*>(widget)) {
            row->setIssue(row->issue()); // the texts, the date line with them, follow the clock
        }
    }
}

// Fires just after the next local midnight by the row clock, when "today" becomes "yesterday".
void TaskList::armDayTimer()
{
    auto now = context_.now();
    qint64 nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    QDateTime midnight = QDateTime::fromMSecsSinceEpoch(nowMs).date().addDays(1).startOfDay();
    qint64 wait = std::clamp<qint64>(midnight.toMSecsSinceEpoch() - nowMs + 1, 0, qint64(24) * 3600 * 1000);
    dayTimer_.start(std::chrono::milliseconds(wait));
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

int TaskList::itemIndexOf(const QWidget* widget) const
{
    while (widget != nullptr && widget->parentWidget() != this) {
        widget = widget->parentWidget();
    }
    if (widget == nullptr) {
        return -1;
    }
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].widget == widget ||
            (items_[i].kind == Kind::row && bound_.count(items_[i].key) && bound_.at(items_[i].key) == widget)) {
            return int(i);
        }
    }
    return -1;
}

// Moves focus to the copy area of the first row from `index` on in direction `step`, building it first.
void TaskList::focusRow(int index, int step)
{
    for (int i = index; i >= 0 && i < int(items_.size()); i += step) {
        if (items_[i].kind != Kind::row) {
            continue;
        }
        if (!bound_.count(items_[i].key)) {
            if (QScrollArea* area = scrollAreaOf(this)) {
                area->ensureVisible(0, items_[i].top + items_[i].height / 2, 0, items_[i].height / 2 + kSpacing);
            }
            placeVisible();
        }
        auto found = bound_.find(items_[i].key);
        if (found != bound_.end()) {
            found->second->focusStops().front()->setFocus(Qt::OtherFocusReason);
        }
        return;
    }
}

void TaskList::keyPressEvent(QKeyEvent* event)
{
    int step = event->key() == Qt::Key_Down ? 1 : event->key() == Qt::Key_Up ? -1 : 0;
    int current = itemIndexOf(QApplication::focusWidget());
    if (step != 0 && current >= 0) {
        focusRow(current + step, step);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TaskList::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    if (event->reason() == Qt::BacktabFocusReason) {
        focusPreviousChild(); // coming back from below: on to what precedes the list
        return;
    }
    // Coming in: the first row on screen, or past the list when it has none.
    int top = parentWidget() != nullptr ? -y() : 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].kind == Kind::row && items_[i].top + items_[i].height > top) {
            focusRow(int(i), 1);
            return;
        }
    }
    focusNextChild();
}

void TaskList::onFocusChanged(QWidget* now)
{
    if (now == nullptr || now == this || !isAncestorOf(now)) {
        return;
    }
    int index = itemIndexOf(now);
    if (index < 0) {
        return;
    }
    // Brings the whole row into view; scrolling builds the rows beyond it.
    const Item& item = items_[index];
    if (QScrollArea* area = scrollAreaOf(this)) {
        area->ensureVisible(0, item.top + item.height / 2, 0, item.height / 2 + kSpacing);
    }
}

} // namespace taskbell::app
