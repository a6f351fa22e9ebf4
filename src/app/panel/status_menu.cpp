#include "app/panel/status_menu.h"

#include <QAction>
#include <QHash>
#include <QMenu>
#include <QPainter>

#include "app/look/look.h"
#include "app/look/symbols.h"
#include "app/look/widgets.h"
#include "app/model/app_store.h"
#include "app/panel/issue_actions.h"

namespace taskbell::app {

namespace {

std::optional<std::string> categoryOf(const std::optional<StatusCategory>& category)
{
    return category ? category->key : std::nullopt;
}

} // namespace

QString statusCategorySymbol(const std::optional<std::string>& categoryKey)
{
    if (categoryKey == "done") {
        return QStringLiteral("checkmark.circle.fill");
    }
    if (categoryKey == "indeterminate") {
        return QStringLiteral("circle.lefthalf.filled");
    }
    return QStringLiteral("circle");
}

QString transitionLabel(const Transition& transition)
{
    std::string target = "status";
    if (transition.to && transition.to->name) {
        target = *transition.to->name;
    } else if (transition.name) {
        target = *transition.name;
    }
    return StatusMenu::tr("Move to %1").arg(QString::fromStdString(target));
}

StatusMenu::StatusMenu(const Issue& issue, AppStore& store, IssueActions* actions, QWidget* parent)
    : QPushButton(parent), issue_(issue), store_(store), actions_(actions), badge_(new StatusBadge(this))
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    QString help = tr("Change status");
    setAccessibleName(help);
    look::setHelpText(this, help);
    // The menu is made when it is first opened: a panel shows hundreds of rows, few menus are ever opened.
    connect(this, &QPushButton::pressed, this, [this] {
        if (menu_ == nullptr) {
            ensureMenu();
            showMenu();
        }
    });
    connect(&store_, &AppStore::transitionsChanged, this, [this](const QString& key) {
        if (menu_ != nullptr && menu_->isVisible() && key.toStdString() == issue_.key) {
            rebuildMenu();
        }
    });
    updateLabel();
}

QMenu* StatusMenu::ensureMenu()
{
    if (menu_ == nullptr) {
        menu_ = new QMenu(this);
        connect(menu_, &QMenu::aboutToShow, this, [this] {
            rebuildMenu();
            store_.ensureTransitions(issue_);
        });
        setMenu(menu_);
    }
    return menu_;
}

void StatusMenu::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QPixmap chevron =
        look::symbolPixmap("chevron.down", look::secondary(palette()), kChevronPixels, devicePixelRatioF());
    painter.drawPixmap(width() - kChevronPixels, (height() - kChevronPixels) / 2, chevron);
    if (hasFocus()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(look::accent(palette()), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    }
}

void StatusMenu::setIssue(const Issue& issue)
{
    if (issue == issue_) {
        return;
    }
    issue_ = issue;
    updateLabel();
}

QString StatusMenu::statusName(const Issue& issue)
{
    const auto& status = issue.fields.status;
    return status && status->name ? QString::fromStdString(*status->name) : tr("Unknown");
}

QSize StatusMenu::badgeSize(const QString& name) const
{
    // What the badge's own size hint gives: its one line of text within its margins. A list asks for
    // every issue's status, and a site has a few status names: the text sizes are kept per font.
    static QFont measured;
    static QHash<QString, QSize> textSizes;
    if (measured != badge_->font() || textSizes.size() > 256) {
        measured = badge_->font();
        textSizes.clear();
    }
    auto text = textSizes.constFind(name);
    if (text == textSizes.constEnd()) {
        text = textSizes.insert(name, QFontMetrics(measured).size(Qt::TextSingleLine, name));
    }
    QMargins margins = badge_->contentsMargins();
    return {text->width() + margins.left() + margins.right(), text->height() + margins.top() + margins.bottom()};
}

QSize StatusMenu::sizeFor(const Issue& issue) const
{
    QSize badge = badgeSize(statusName(issue));
    return {badge.width() + kChevronPixels, badge.height()};
}

void StatusMenu::updateLabel()
{
    const auto& status = issue_.fields.status;
    QString name = statusName(issue_);
    badge_->setStatus(name, status ? categoryOf(status->statusCategory) : std::nullopt);
    badge_->setGeometry(QRect(QPoint(0, 0), badgeSize(name)));
    setFixedSize(sizeFor(issue_));
}

void StatusMenu::rebuildMenu()
{
    ensureMenu();
    menu_->clear();
    auto transitions = store_.transitions(QString::fromStdString(issue_.key));
    if (!transitions) {
        menu_->addAction(tr("Loading…"));
    } else if (transitions->empty()) {
        menu_->addAction(tr("No status changes available"))->setEnabled(false);
    } else {
        QColor knockout = menu_->palette().color(QPalette::Base);
        for (const Transition& transition : *transitions) {
            auto category = transition.to ? categoryOf(transition.to->statusCategory) : std::nullopt;
            QIcon icon = look::symbolIcon(statusCategorySymbol(category), statusCategoryColour(category), 16, knockout);
            QString id = QString::fromStdString(transition.id);
            QString label = transitionLabel(transition).replace(QLatin1Char('&'), QLatin1String("&&"));
            menu_->addAction(icon, label, this, [this, id] { store_.applyTransition(issue_, id); });
        }
    }
    if (actions_ != nullptr) {
        QColor tint = look::primary(menu_->palette());
        menu_->addSeparator();
        const std::pair<QAction*, const char*> extras[] = {{actions_->details(), "text.magnifyingglass"},
                                                           {actions_->copy(), "doc.on.doc"},
                                                           {actions_->openInBrowser(), "safari"}};
        for (const auto& [action, symbol] : extras) {
            action->setIcon(look::symbolIcon(symbol, tint));
            menu_->addAction(action);
        }
    }
}

} // namespace taskbell::app
