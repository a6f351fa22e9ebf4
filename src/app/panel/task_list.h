#pragma once

#include <QTimer>
#include <QWidget>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/panel/task_row.h"
#include "core/jira/task_filter.h"

class QLabel;

namespace taskbell::app {

class AppStore;
class EmptyHint;
class ErrorBanner;
class SectionHeader;

// The scrolling content of the panel: the error banner, then the Backlog, In Progress and Done parts the
// filter shows (headers only on "All", Done grouped by month), all items of one list. Only the items in
// and near the visible part of the enclosing scroll area have widgets: task rows come from a pool that
// grows with the window's height, not with the number of issues, and are re-bound as the list scrolls.
// Each row's height is measured from its texts at the list's width, once per issue version and width, so
// the list has its full height (and the scroll bar its range) from the first frame. Keyboard focus that
// reaches a row near the edge scrolls it into view, which builds the next rows, so Tab and the arrow keys
// walk every issue.
class TaskList : public QWidget
{
    Q_OBJECT

public:
    TaskList(AppStore& store, RowContext context, QWidget* parent = nullptr);

    void setFilter(TaskFilter filter);
    TaskFilter filter() const { return filter_; }
    // Brings the list in line with the store.
    void rebuild();
    // Marks the built rows whose key is busy in the store.
    void updateBusy();
    // Asks for the transitions of the built rows that intersect `visible` (in this widget's coordinates).
    void ensureTransitions(const QRect& visible);
    // The number of tasks the current tab holds.
    std::size_t taskCount() const { return taskCount_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

    // For tests and benchmarks: the widgets currently placed, top to bottom, and the rows ever made.
    const std::vector<QWidget*>& shownWidgets() const { return shown_; }
    std::vector<TaskRow*> shownRows() const;
    std::size_t rowCount() const { return pool_.size(); }

    // The list has been painted once.
    bool isPainted() const { return painted_; }

signals:
    // A row asked for the issue's detail window.
    void taskDetailRequested(const Issue& issue);
    // Just after the list's first frame.
    void firstPainted();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    enum class Kind { error, header, hint, month, row };
    struct Item
    {
        Kind kind;
        QWidget* widget = nullptr; // the fixed widget of a non-row item
        const Issue* issue = nullptr;
        std::string key{}; // a row's section and issue id
        int top = 0;
        int height = 0;
    };
    // A section of the All tab: its header and the hint shown while it is empty, made when first needed.
    struct Part
    {
        QString title;
        const char* symbol;
        SectionHeader* header = nullptr;
        EmptyHint* hint = nullptr;
    };

    void addPart(Part& part, const std::vector<Issue>& issues, std::size_t count, const char* tag,
                 const QString& emptyText);
    void addRows(const std::vector<Issue>& issues, const char* tag);
    void addRows(const std::vector<const Issue*>& issues, const char* tag);
    void addDoneByMonth();
    QLabel* monthLabel(const QString& label);
    // Places the items at `width`, measuring the rows not yet measured at it.
    void measure(int width);
    int place(int width, bool keep, int limit = std::numeric_limits<int>::max());
    int rowHeight(const Item& item, int width);
    void heightChanged();
    // Gives widgets to the items near the visible part, and takes them from the others.
    void placeVisible();
    TaskRow* takeRow(const Issue* issue);
    void placeAtWidth();
    void chainFocus();
    int itemIndexOf(const QWidget* widget) const;
    void focusRow(int index, int step);
    void onFocusChanged(QWidget* now);
    void armDayTimer();
    void refreshDates();

    AppStore& store_;
    RowContext context_;
    TaskFilter filter_ = TaskFilter::inProgress;
    ErrorBanner* error_;
    Part backlog_;
    Part inProgress_;
    Part done_;
    std::vector<Item> items_;
    std::size_t taskCount_ = 0;
    int measuredWidth_ = -1;
    int totalHeight_ = 0;
    bool painted_ = false;                  // the list has been on screen: rows just off it are made too
    bool rebind_ = false;                   // the next placing gives every built row its issue again
    bool stale_ = false;                    // the store changed since the last rebuild: the items point at old issues
    std::vector<TaskRow*> pool_;            // every row made
    std::vector<TaskRow*> free_;            // the rows bound to no item
    std::map<std::string, TaskRow*> bound_; // built rows by item key
    std::unordered_map<std::string, int> heights_; // by issue id, version and width
    std::string heightKey_;
    std::map<QString, QLabel*> monthLabels_;
    std::map<std::string, QString> monthOf_; // a done issue's month, by issue id and version
    std::vector<QWidget*> shown_;
    QTimer dayTimer_;
};

} // namespace taskbell::app
