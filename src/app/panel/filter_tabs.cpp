#include "app/panel/filter_tabs.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

#include "app/look/look.h"
#include "app/panel/accessibility.h"

namespace taskbell::app {

FilterTabs::FilterTabs(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this))
{
    installPanelAccessibility();
    setObjectName(QStringLiteral("filterTabs"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(0);
    group_->setExclusive(true);
    QColor accent = look::accent(palette());
    setStyleSheet(QStringLiteral("#filterTabs QToolButton { border: 1px solid %1; padding: 3px 6px; }"
                                 "#filterTabs QToolButton:checked { background: %2; }"
                                 "#filterTabs QToolButton:focus { border: 1px solid %3; }")
                      .arg(look::css(look::withOpacity(look::secondary(palette()), 0.35)),
                           look::css(look::withOpacity(accent, 0.25)), look::css(accent)));
    for (std::size_t i = 0; i < kAllTaskFilters.size(); ++i) {
        TaskFilter filter = kAllTaskFilters[i];
        auto* button = new FilterTab;
        button->setCheckable(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFont(look::font(look::FontRole::Callout));
        button->setChecked(filter == filter_);
        group_->addButton(button);
        layout->addWidget(button);
        buttons_[i] = button;
        connect(button, &QToolButton::toggled, this, [this, filter](bool checked) {
            if (checked && filter != filter_) {
                filter_ = filter;
                emit filterChanged(filter_);
            }
        });
    }
    setCounts(0, 0, 0);
}

QString FilterTabs::label(TaskFilter filter, std::size_t backlog, std::size_t inProgress, std::size_t done)
{
    return QString::fromUtf8(title(filter).data(), static_cast<qsizetype>(title(filter).size())) + QLatin1Char(' ') +
           QString::number(count(filter, backlog, inProgress, done));
}

void FilterTabs::setCounts(std::size_t backlog, std::size_t inProgress, std::size_t done)
{
    for (std::size_t i = 0; i < kAllTaskFilters.size(); ++i) {
        QString text = label(kAllTaskFilters[i], backlog, inProgress, done);
        if (buttons_[i]->text() != text) {
            buttons_[i]->setText(text);
            buttons_[i]->setAccessibleName(text);
        }
    }
}

void FilterTabs::setFilter(TaskFilter filter)
{
    button(filter)->setChecked(true);
}

QToolButton* FilterTabs::button(TaskFilter filter) const
{
    for (std::size_t i = 0; i < kAllTaskFilters.size(); ++i) {
        if (kAllTaskFilters[i] == filter) {
            return buttons_[i];
        }
    }
    return nullptr;
}

} // namespace taskbell::app
