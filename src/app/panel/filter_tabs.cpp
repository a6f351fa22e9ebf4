#include "app/panel/filter_tabs.h"

#include <QLayout>
#include <algorithm>

#include "app/look/look.h"
#include "app/look/style_sheets.h"
#include "app/model/text.h"

namespace taskbell::app {

namespace {

int indexOf(TaskFilter filter)
{
    return static_cast<int>(std::find(kAllTaskFilters.begin(), kAllTaskFilters.end(), filter) -
                            kAllTaskFilters.begin());
}

QStringList titles()
{
    QStringList result;
    for (TaskFilter filter : kAllTaskFilters) {
        result << FilterTabs::label(filter, 0, 0, 0);
    }
    return result;
}

} // namespace

FilterTabs::FilterTabs(QWidget* parent) : SegmentedControl(titles(), indexOf(TaskFilter::inProgress), parent)
{
    setObjectName(QStringLiteral("filterTabs"));
    layout()->setContentsMargins(12, 8, 12, 8);
    setStyleSheet(look::sheet::segments(palette(), QStringLiteral("#filterTabs")));
    for (int i = 0; i < count(); ++i) {
        segment(i)->setFont(look::font(look::FontRole::Callout));
        segment(i)->setFocusPolicy(Qt::TabFocus);
    }
    connect(this, &SegmentedControl::currentChanged, this,
            [this](int index) { emit filterChanged(kAllTaskFilters[static_cast<std::size_t>(index)]); });
}

QString FilterTabs::label(TaskFilter filter, std::size_t backlog, std::size_t inProgress, std::size_t done)
{
    return qs(title(filter)) + QLatin1Char(' ') + QString::number(taskbell::count(filter, backlog, inProgress, done));
}

void FilterTabs::setCounts(std::size_t backlog, std::size_t inProgress, std::size_t done)
{
    for (std::size_t i = 0; i < kAllTaskFilters.size(); ++i) {
        setTitle(static_cast<int>(i), label(kAllTaskFilters[i], backlog, inProgress, done));
    }
}

void FilterTabs::setFilter(TaskFilter filter)
{
    setCurrent(indexOf(filter));
}

TaskFilter FilterTabs::filter() const
{
    return kAllTaskFilters[static_cast<std::size_t>(current())];
}

QToolButton* FilterTabs::button(TaskFilter filter) const
{
    return segment(indexOf(filter));
}

} // namespace taskbell::app
