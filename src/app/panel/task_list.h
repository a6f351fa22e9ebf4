#pragma once

#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "app/panel/task_row.h"
#include "core/jira/task_filter.h"

class QLabel;
class QVBoxLayout;

namespace taskbell::app {

class AppStore;
class EmptyHint;
class ErrorBanner;
class SectionHeader;

// The scrolling content of the panel: the error banner, then the Backlog, In Progress and Done parts the
// filter shows (headers only on "All", Done grouped by month). The rows shown are kept per issue and
// section and reused across reloads, so a refresh that changes nothing changes no widget, and the scroll
// position stays where it was.
class TaskList : public QWidget
{
    Q_OBJECT

public:
    TaskList(AppStore& store, RowContext context, QWidget* parent = nullptr);

    void setFilter(TaskFilter filter);
    TaskFilter filter() const { return filter_; }
    // Brings the shown widgets in line with the store.
    void rebuild();
    // Marks the rows whose key is busy in the store.
    void updateBusy();
    // Asks for the transitions of the rows that intersect `visible` (in this widget's coordinates).
    void ensureTransitions(const QRect& visible);

    // For tests and benchmarks: the widgets currently laid out, top to bottom.
    const std::vector<QWidget*>& shownWidgets() const { return shown_; }
    std::vector<TaskRow*> shownRows() const;
    std::size_t rowCount() const { return rows_.size(); }

signals:
    // A row asked for the issue's detail window.
    void taskDetailRequested(const Issue& issue);

private:
    struct Part
    {
        SectionHeader* header;
        EmptyHint* hint;
    };

    void addPart(std::vector<QWidget*>& items, Part& part, const std::vector<Issue>& issues, const char* tag,
                 const QString& emptyText);
    void addRows(std::vector<QWidget*>& items, const std::vector<Issue>& issues, const char* tag);
    TaskRow* rowFor(const Issue& issue, const std::string& key);
    QLabel* monthLabel(const QString& label);
    void apply(std::vector<QWidget*> items);

    AppStore& store_;
    RowContext context_;
    TaskFilter filter_ = TaskFilter::inProgress;
    QVBoxLayout* layout_;
    ErrorBanner* error_;
    Part backlog_;
    Part inProgress_;
    Part done_;
    std::map<std::string, TaskRow*> rows_; // by section and issue id
    std::map<std::string, bool> used_;     // the row keys the current rebuild placed
    std::map<QString, QLabel*> monthLabels_;
    std::vector<QWidget*> shown_;
};

} // namespace taskbell::app
