#include "app/windows/task_detail_view.h"

#include <QAction>
#include <QBoxLayout>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLayoutItem>
#include <QPushButton>
#include <QScrollArea>

#include "app/look/spinner.h"
#include "app/look/window_sizes.h"
#include "app/model/app_store.h"
#include "app/model/text.h"
#include "app/panel/issue_actions.h"
#include "app/panel/status_menu.h"
#include "app/windows/form_parts.h"
#include "core/jira/date.h"

namespace taskbell::app {

namespace {

QPushButton* borderlessButton(const QString& title, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setObjectName(objectName);
    button->setFlat(true);
    button->setFont(look::font(look::FontRole::Caption));
    form::describe(button, title);
    return button;
}

} // namespace

TaskDetailView::TaskDetailView(AppStore& store, Issue issue, QWidget* parent)
    : FormDialog("taskDetailView", parent), store_(store), initial_(std::move(issue)),
      now_([] { return Clock::now(); }), actions_(new IssueActions(store_, initial_, this))
{
    setMinimumSize(windowSize::detailMinimum);
    setParts(makeHeader(), makeBody(), makeFooter());

    for (auto signal : {&AppStore::tasksChanged, &AppStore::stateChanged}) {
        connect(&store_, signal, this, &TaskDetailView::refresh);
    }
    refresh();
}

Issue TaskDetailView::current() const
{
    return store_.issue(qs(initial_.key)).value_or(initial_);
}

void TaskDetailView::setClock(std::function<Clock::time_point()> now)
{
    now_ = std::move(now);
    refresh();
}

QWidget* TaskDetailView::makeHeader()
{
    auto* header = new QWidget(this);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(6);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    key_ = new QLabel(header);
    key_->setObjectName("detailKey");
    key_->setTextFormat(Qt::PlainText);
    key_->setFont(look::monospacedFont(look::FontRole::Callout));
    look::setTextColour(key_, look::accent(palette()));
    form::makeSelectable(key_);
    row->addWidget(key_);
    type_ = form::label({}, look::FontRole::Caption, true, header);
    type_->setObjectName("detailType");
    form::makeSelectable(type_);
    row->addWidget(type_);
    priority_ = form::label({}, look::FontRole::Caption, true, header);
    priority_->setObjectName("detailPriority");
    form::makeSelectable(priority_);
    row->addWidget(priority_);
    row->addStretch(1);
    busy_ = new look::Spinner(12, header);
    busy_->setObjectName("detailBusy");
    row->addWidget(busy_);
    statusMenu_ = new StatusMenu(initial_, store_, nullptr, header); // no extra items here
    row->addWidget(statusMenu_);
    column->addLayout(row);

    summary_ = form::wrappingLabel({}, look::FontRole::Headline, false, header);
    summary_->setObjectName("detailSummary");
    QFont title = look::font(look::FontRole::Headline);
    title.setPointSizeF(title.pointSizeF() * 1.25);
    title.setWeight(QFont::DemiBold);
    summary_->setFont(title);
    form::makeSelectable(summary_);
    column->addWidget(summary_);
    return header;
}

QWidget* TaskDetailView::makeBody()
{
    auto* area = new QScrollArea(this);
    QBoxLayout* column = form::scrollingColumn(area, 16, 14);
    QWidget* content = area->widget();

    auto* block = new QVBoxLayout;
    block->setSpacing(6);
    QLabel* title = form::label(tr("Description"), look::FontRole::Subheadline, true, content);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    block->addWidget(title);
    description_ = form::wrappingLabel({}, look::FontRole::Callout, false, content);
    description_->setObjectName("detailDescription");
    form::makeSelectable(description_);
    block->addWidget(description_);
    column->addLayout(block);
    column->addWidget(form::divider(content));

    detailsBox_ = new QWidget(content);
    details_ = new QGridLayout(detailsBox_);
    details_->setContentsMargins(0, 0, 0, 0);
    details_->setHorizontalSpacing(8);
    details_->setVerticalSpacing(6);
    details_->setColumnStretch(1, 1);
    column->addWidget(detailsBox_);
    column->addStretch(1);
    return area;
}

QWidget* TaskDetailView::makeFooter()
{
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(10);
    copySummary_ = borderlessButton(tr("Copy key + summary"), "copySummary", footer);
    connect(copySummary_, &QPushButton::clicked, actions_->copy(), &QAction::trigger);
    row->addWidget(copySummary_);
    copyDescription_ = borderlessButton(tr("Copy description"), "copyDescription", footer);
    connect(copyDescription_, &QPushButton::clicked, this, [this] {
        if (auto text = current().descriptionText()) {
            QGuiApplication::clipboard()->setText(qs(*text));
        }
    });
    row->addWidget(copyDescription_);
    row->addStretch(1);
    openInBrowser_ = borderlessButton(tr("Open in browser"), "openInBrowser", footer);
    connect(openInBrowser_, &QPushButton::clicked, actions_->openInBrowser(), &QAction::trigger);
    row->addWidget(openInBrowser_);
    auto* buttons = new QDialogButtonBox(footer);
    close_ = addButton(buttons, tr("Close"), QDialogButtonBox::RejectRole, "detailClose");
    close_->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    row->addWidget(buttons);
    return footer;
}

void TaskDetailView::refresh()
{
    const Issue issue = current();
    const IssueFields& fields = issue.fields;
    key_->setText(qs(issue.key));
    const auto typeName = fields.issuetype ? fields.issuetype->name : std::nullopt;
    type_->setText(qs(typeName.value_or("")));
    type_->setVisible(typeName.has_value());
    const auto priorityName = fields.priority ? fields.priority->name : std::nullopt;
    priority_->setText("· " + qs(priorityName.value_or("")));
    priority_->setVisible(priorityName.has_value());

    actions_->bind(issue);
    const bool busy = store_.isBusy(qs(issue.key));
    busy_->setVisible(busy);
    statusMenu_->setVisible(!busy);
    statusMenu_->setIssue(issue);

    summary_->setText(qs(issue.summaryText()));
    const auto description = issue.descriptionText();
    description_->setText(description ? qs(*description) : tr("No description."));
    look::setTextColour(description_, description ? palette().color(QPalette::WindowText) : look::secondary(palette()));
    copyDescription_->setVisible(description.has_value());
    fillDetails(issue);
}

void TaskDetailView::fillDetails(const Issue& issue)
{
    while (QLayoutItem* item = details_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    int row = 0;
    for (const auto& [label, value] : detailRows(issue, now_())) {
        // Made with their parent, so they show at once rather than on the next turn of the event loop.
        QLabel* name = form::label(label, look::FontRole::Caption, true, detailsBox_);
        name->setFixedWidth(70);
        name->setObjectName("detailLabel-" + label);
        QLabel* text = form::wrappingLabel(value, look::FontRole::Callout, false, detailsBox_);
        text->setObjectName("detailValue-" + label);
        text->setAccessibleName(label + ": " + value);
        form::makeSelectable(text);
        details_->addWidget(name, row, 0, Qt::AlignTop | Qt::AlignLeading);
        details_->addWidget(text, row, 1, Qt::AlignTop);
        ++row;
    }
}

QString TaskDetailView::dateText(Clock::time_point date, Clock::time_point now)
{
    return qs(JiraDate::dayLabel(date)) + QStringLiteral(" · ") + qs(JiraDate::relativeDays(date, now));
}

std::vector<std::pair<QString, QString>> TaskDetailView::detailRows(const Issue& issue, Clock::time_point now)
{
    const IssueFields& fields = issue.fields;
    std::vector<std::pair<QString, QString>> rows;
    const auto statusName = fields.status ? fields.status->name : std::nullopt;
    rows.emplace_back(tr("Status"), (statusName ? qs(*statusName) : tr("Unknown")));
    if (fields.project && fields.project->key) {
        rows.emplace_back(tr("Project"), qs(*fields.project->key));
    }
    if (fields.assignee && fields.assignee->displayName) {
        rows.emplace_back(tr("Assignee"), qs(*fields.assignee->displayName));
    }
    if (auto created = JiraDate::parse(fields.created)) {
        rows.emplace_back(tr("Created"), dateText(*created, now));
    }
    const auto updated = JiraDate::parse(fields.updated);
    if (updated) {
        rows.emplace_back(tr("Updated"), dateText(*updated, now));
    }
    if (issue.isDone()) {
        if (auto finished = issue.finishedDate()) {
            rows.emplace_back(tr("Done"), dateText(*finished, now));
        }
    }
    return rows;
}

void TaskDetailView::showEvent(QShowEvent* event)
{
    FormDialog::showEvent(event);
    store_.ensureTransitions(current());
    // Keys reach this view through a focused child, so the window never opens without one.
    if (!focusWidget()) {
        close_->setFocus();
    }
}

} // namespace taskbell::app
