#pragma once

#include <QPushButton>

#include "core/jira/models.h"

class QMenu;

namespace taskbell::app {

class AppStore;

// An issue's status pill that opens the menu of its workflow transitions (as the store has cached them);
// choosing one applies it. A push button with a menu, so assistive technology opens it with Press.
class StatusMenuButton : public QPushButton
{
    Q_OBJECT

public:
    StatusMenuButton(AppStore& store, QWidget* parent = nullptr);

    void setIssue(const Issue& issue);
    const Issue& issue() const { return issue_; }
    QMenu* transitionsMenu() const { return menu_; }

    // "Move to <target>", the transition's own name, or "status".
    static QString itemTitle(const Transition& transition);

private:
    void fillMenu();
    void updateBadge();

    AppStore& store_;
    Issue issue_;
    QMenu* menu_;
};

} // namespace taskbell::app
