#include "app/windows/status_menu_button.h"

#include <QMenu>

#include "app/look/look.h"
#include "app/look/symbols.h"
#include "app/model/app_store.h"

namespace taskbell::app {

namespace {

std::optional<std::string> categoryKey(const std::optional<StatusCategory>& category)
{
    return category ? category->key : std::nullopt;
}

QColor categoryColour(const std::optional<std::string>& key)
{
    if (key == "done") {
        return look::green();
    }
    if (key == "indeterminate") {
        return look::blue();
    }
    return look::gray();
}

QString categoryIcon(const std::optional<std::string>& key)
{
    if (key == "done") {
        return "checkmark.circle.fill";
    }
    if (key == "indeterminate") {
        return "circle.lefthalf.filled";
    }
    return "circle";
}

} // namespace

StatusMenuButton::StatusMenuButton(AppStore& store, QWidget* parent)
    : QPushButton(parent), store_(store), menu_(new QMenu(this))
{
    setObjectName("statusMenu");
    setToolTip("Change status");
    setAccessibleName("Change status");
    setAccessibleDescription("Change status");
    setMenu(menu_);
    setLayoutDirection(Qt::RightToLeft); // the chevron follows the status name
    look::setFont(this, look::FontRole::Caption2);
    connect(menu_, &QMenu::aboutToShow, this, &StatusMenuButton::fillMenu);
    connect(&store_, &AppStore::transitionsByKeyChanged, this, [this] {
        if (menu_->isVisible()) {
            fillMenu();
        }
    });
}

void StatusMenuButton::setIssue(const Issue& issue)
{
    issue_ = issue;
    updateBadge();
}

QString StatusMenuButton::itemTitle(const Transition& transition)
{
    if (transition.to && transition.to->name) {
        return "Move to " + QString::fromStdString(*transition.to->name);
    }
    return "Move to " + QString::fromStdString(transition.name.value_or("status"));
}

void StatusMenuButton::updateBadge()
{
    const auto& status = issue_.fields.status;
    const QString name = status && status->name ? QString::fromStdString(*status->name) : QStringLiteral("Unknown");
    const QColor colour = categoryColour(status ? categoryKey(status->statusCategory) : std::nullopt);
    setText(name);
    setIcon(look::symbolIcon("chevron.down", look::secondary(palette()), look::symbolPixels(8)));
    setIconSize(QSize(look::symbolPixels(8), look::symbolPixels(8)));
    setStyleSheet("QPushButton { color: " + look::css(colour) +
                  "; background: " + look::css(look::withOpacity(colour, 0.18)) +
                  "; border: none; border-radius: 8px; padding: 1px 6px; }"
                  "QPushButton::menu-indicator { image: none; width: 0; }");
}

void StatusMenuButton::fillMenu()
{
    menu_->clear();
    const auto transitions = store_.transitions(QString::fromStdString(issue_.key));
    if (!transitions) {
        menu_->addAction(QStringLiteral("Loading…"));
        return;
    }
    if (transitions->empty()) {
        menu_->addAction("No status changes available")->setEnabled(false);
        return;
    }
    for (const Transition& transition : *transitions) {
        const auto key = transition.to ? categoryKey(transition.to->statusCategory) : std::nullopt;
        QAction* action =
            menu_->addAction(look::symbolIcon(categoryIcon(key), categoryColour(key)), itemTitle(transition));
        const QString id = QString::fromStdString(transition.id);
        connect(action, &QAction::triggered, this, [this, id] { store_.applyTransition(issue_, id); });
    }
}

} // namespace taskbell::app
