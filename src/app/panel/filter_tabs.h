#pragma once

#include <QToolButton>
#include <QWidget>
#include <array>

#include "core/jira/task_filter.h"

class QButtonGroup;

namespace taskbell::app {

// One segment of the filter: a checkable button that assistive technology sees as a radio button.
class FilterTab : public QToolButton
{
    Q_OBJECT

public:
    using QToolButton::QToolButton;
};

// The segmented filter: one checkable button per TaskFilter, labelled with its title and live count
// ("In Progress 3"). It reacts to `toggled`, so assistive technology's Toggle action switches tabs too.
class FilterTabs : public QWidget
{
    Q_OBJECT

public:
    explicit FilterTabs(QWidget* parent = nullptr);

    void setCounts(std::size_t backlog, std::size_t inProgress, std::size_t done);
    void setFilter(TaskFilter filter);
    TaskFilter filter() const { return filter_; }
    QToolButton* button(TaskFilter filter) const;

    // "In Progress 3".
    static QString label(TaskFilter filter, std::size_t backlog, std::size_t inProgress, std::size_t done);

signals:
    void filterChanged(TaskFilter filter);

private:
    std::array<QToolButton*, kAllTaskFilters.size()> buttons_{};
    QButtonGroup* group_;
    TaskFilter filter_ = TaskFilter::inProgress;
};

} // namespace taskbell::app
