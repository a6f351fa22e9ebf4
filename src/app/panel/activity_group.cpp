#include "app/panel/activity_group.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/look/look.h"
#include "app/look/widgets.h"
#include "app/model/app_store.h"
#include "app/model/text.h"
#include "app/panel/accessibility.h"
#include "core/activity/undo.h"

namespace taskbell::app {
namespace {

// Entry texts are cut to one line of this width; the whole text stays the name and the tooltip.
constexpr int kTextWidth = 230;

} // namespace

ActivityGroup::ActivityGroup(AppStore& store, QWidget* parent) : QWidget(parent), store_(store)
{
    installPanelAccessibility(); // before the name below makes assistive technology ask for this widget
    setObjectName(QStringLiteral("activityGroup"));
    QString title = tr("Changed by your assistant");
    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(2);
    auto* header = new QHBoxLayout;
    header->addWidget(look::textLabel(title, look::FontRole::Caption, look::secondary(palette())));
    header->addStretch(1);
    QToolButton* clear = look::plainButton(tr("Clear"), look::FontRole::Caption, look::accent(palette()));
    clear->setObjectName(QStringLiteral("clearActivity"));
    connect(clear, &QToolButton::clicked, this, [this] { store_.activity().clear(); });
    header->addWidget(clear);
    layout->addLayout(header);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(0);
    layout->addLayout(rows_);
    more_ = look::textLabel({}, look::FontRole::Caption2, look::secondary(palette()));
    more_->setObjectName(QStringLiteral("moreActivity"));
    layout->addWidget(more_);

    ticker_ = new QTimer(this);
    ticker_->setInterval(std::chrono::seconds(30));
    connect(ticker_, &QTimer::timeout, this, &ActivityGroup::refresh);
    connect(&store_.activity(), &ActivityLog::changed, this, &ActivityGroup::refresh);
    connect(&store_, &AppStore::stateChanged, this, &ActivityGroup::refresh);
    refresh();
}

void ActivityGroup::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh(); // the ages moved on while the panel was closed
    ticker_->start();
}

void ActivityGroup::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    ticker_->stop();
}

void ActivityGroup::refresh()
{
    std::vector<Activity::Entry> entries = store_.activity().shown();
    auto now = store_.activity().now();
    std::size_t count = std::min(entries.size(), kShown);
    QStringList state;
    for (std::size_t i = 0; i < count; ++i) {
        const Activity::Entry& entry = entries[i];
        state << qs(entry.id) + (entry.undone ? "u" : "") + (store_.isBusy(qs(entry.issueKey)) ? "b" : "") +
                     agoText(now - entry.time);
    }
    state << QString::number(entries.size());
    setVisible(!entries.empty());
    if (state == shownState_) {
        return;
    }
    shownState_ = state;
    // Later: the click that changed the state may still be running in one of these rows' buttons.
    for (QWidget* row : rowWidgets_) {
        row->hide();
        row->setParent(nullptr);
        row->deleteLater();
    }
    rowWidgets_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        QWidget* row = makeRow(entries[i], agoText(now - entries[i].time));
        rows_->addWidget(row);
        rowWidgets_.push_back(row);
    }
    more_->setVisible(entries.size() > kShown);
    more_->setText(tr("%1 more").arg(entries.size() - count));
}

QWidget* ActivityGroup::makeRow(const Activity::Entry& entry, const QString& age)
{
    QString text = qs(Activity::entryText(entry));
    auto* row = new QWidget;
    row->setAccessibleName(text);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    QToolButton* open = look::plainButton(text, look::FontRole::Caption);
    open->setObjectName(QStringLiteral("activityText"));
    open->setText(open->fontMetrics().elidedText(text, Qt::ElideRight, kTextWidth));
    open->setToolTip(text);
    connect(open, &QToolButton::clicked, this, [this, entry] { emit taskDetailRequested(issueOf(entry)); });
    layout->addWidget(open, 1, Qt::AlignLeading);
    layout->addStretch(0);
    QLabel* time = look::textLabel(age, look::FontRole::Caption2, look::secondary(palette()));
    time->setObjectName(QStringLiteral("activityAge"));
    layout->addWidget(time);
    layout->addWidget(makeAction(entry));
    return row;
}

// "Undone" once undone, "Open" (in the browser) for a creation, "Undo" for what can be undone.
QWidget* ActivityGroup::makeAction(const Activity::Entry& entry)
{
    if (entry.undone) {
        QLabel* undone = look::textLabel(tr("Undone"), look::FontRole::Caption2, look::secondary(palette()));
        undone->setObjectName(QStringLiteral("activityUndone"));
        return undone;
    }
    if (entry.tool == Activity::Entry::Tool::createTask) {
        QToolButton* open = look::plainButton(tr("Open"), look::FontRole::Caption, look::accent(palette()));
        open->setObjectName(QStringLiteral("activityOpen"));
        connect(open, &QToolButton::clicked, this, [this, entry] { store_.openInBrowser(issueOf(entry)); });
        return open;
    }
    if (!Activity::canUndo(entry)) {
        return new QWidget; // a change too large to keep, or a move from an unknown status
    }
    QToolButton* undo = look::plainButton(tr("Undo"), look::FontRole::Caption, look::accent(palette()));
    undo->setObjectName(QStringLiteral("activityUndo"));
    undo->setEnabled(!store_.isBusy(qs(entry.issueKey)));
    connect(undo, &QToolButton::clicked, this, [this, entry] { store_.undo(entry); });
    return undo;
}

// The store's copy when the issue is in a section, otherwise what the entry knows of it.
Issue ActivityGroup::issueOf(const Activity::Entry& entry) const
{
    if (auto loaded = store_.issue(qs(entry.issueKey))) {
        return *loaded;
    }
    Issue issue;
    issue.id = entry.issueId;
    issue.key = entry.issueKey;
    issue.fields.summary = entry.summary;
    return issue;
}

} // namespace taskbell::app
