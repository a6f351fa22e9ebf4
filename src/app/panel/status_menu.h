#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "app/look/status_badge.h"
#include "core/jira/models.h"

class QMenu;

namespace taskbell::app {

class AppStore;
class IssueActions;

// The symbol of a transition into a category: "checkmark.circle.fill", "circle.lefthalf.filled", "circle".
QString statusCategorySymbol(const std::optional<std::string>& categoryKey);
// "Move to " + the target's name, else the transition's own name, else "status".
QString transitionLabel(const Transition& transition);

// The status menu of an issue: a borderless button showing the issue's status badge and a chevron that
// opens the workflow transitions the store has cached for the issue, followed (when given) by the issue's
// details, copy and browser actions. Choosing a transition applies it through the store.
class StatusMenu : public QPushButton
{
    Q_OBJECT

public:
    StatusMenu(const Issue& issue, AppStore& store, IssueActions* actions = nullptr, QWidget* parent = nullptr);

    void setIssue(const Issue& issue);
    // The size the button takes for `issue`: its badge and chevron, whichever issue it shows now.
    QSize sizeFor(const Issue& issue) const;
    const Issue& issue() const { return issue_; }
    StatusBadge* badge() const { return badge_; }
    // The button's menu, made on first use.
    QMenu* ensureMenu();
    // Fills the menu from the store's cache as it stands (done on every opening and whenever the cache
    // changes while the menu is open).
    void rebuildMenu();

protected:
    // Only the badge and the chevron show: no bevel and no menu indicator of the platform's own.
    void paintEvent(QPaintEvent* event) override;

private:
    static QString statusName(const Issue& issue);
    QSize badgeSize(const QString& name) const;
    void updateLabel();

    Issue issue_;
    AppStore& store_;
    IssueActions* actions_;
    static constexpr int kChevronPixels = 10;

    QMenu* menu_ = nullptr;
    StatusBadge* badge_;
};

} // namespace taskbell::app
