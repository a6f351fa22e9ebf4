#pragma once

#include "app/look/segmented_control.h"
#include "core/jira/task_filter.h"

namespace taskbell::app {

// The panel's filter: one segment per TaskFilter, labelled with its title and live count ("In Progress 3").
class FilterTabs : public SegmentedControl
{
    Q_OBJECT

public:
    explicit FilterTabs(QWidget* parent = nullptr);

    void setCounts(std::size_t backlog, std::size_t inProgress, std::size_t done);
    void setFilter(TaskFilter filter);
    TaskFilter filter() const;
    QToolButton* button(TaskFilter filter) const;

    // "In Progress 3".
    static QString label(TaskFilter filter, std::size_t backlog, std::size_t inProgress, std::size_t done);

signals:
    void filterChanged(TaskFilter filter);
};

} // namespace taskbell::app
