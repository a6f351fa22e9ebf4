#include "app/windows/task_detail_view.h"

#include <QBoxLayout>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayoutItem>
#include <QPushButton>
#include <QScrollArea>

#include "app/look/spinner.h"
#include "app/model/app_store.h"
#include "app/panel/status_menu.h"
#include "app/windows/form_parts.h"
#include "core/jira/date.h"

namespace taskbell::app {

namespace {

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

QPushButton* borderlessButton(const QString& title, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setObjectName(objectName);
    button->setFlat(true);
    button->setFont(look::font(look::FontRole::Caption));
    form::describe(button, title);
    return button;
}

bool inDoneCategory(const Issue& issue)
{
    const auto& status = issue.fields.status;
    return status && status->statusCategory && status->statusCategory->key == "done";
}

} // namespace

TaskDetailView::TaskDetailView(AppStore& store, Issue issue, std::function<void()> onClose, QWidget* parent)
    : QWidget(parent), store_(store), initial_(std::move(issue)), onClose_(std::move(onClose)),
      now_([] { return Clock::now(); })
{
    setObjectName("taskDetailView");
    setMinimumSize(420, 320);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeHeader());
    column->addWidget(form::divider(this));
    column->addWidget(makeBody(), 1);
    column->addWidget(form::divider(this));
    column->addWidget(makeFooter());
    keys_ = WindowKeys(close_, close_);

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
    statusMenu_ = new StatusMenu(initial_, store_, {}, header); // no extra items here
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
    QLabel* title = form::label("Description", look::FontRole::Subheadline, true, content);
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
    copySummary_ = borderlessButton("Copy key + summary", "copySummary", footer);
    connect(copySummary_, &QPushButton::clicked, this, [this] { store_.copyToClipboard(current()); });
    row->addWidget(copySummary_);
    copyDescription_ = borderlessButton("Copy description", "copyDescription", footer);
    connect(copyDescription_, &QPushButton::clicked, this, [this] {
        if (auto text = current().descriptionText()) {
            QGuiApplication::clipboard()->setText(qs(*text));
        }
    });
    row->addWidget(copyDescription_);
    row->addStretch(1);
    openInBrowser_ = borderlessButton("Open in browser", "openInBrowser", footer);
    connect(openInBrowser_, &QPushButton::clicked, this, [this] { store_.openInBrowser(current()); });
    row->addWidget(openInBrowser_);
    close_ = new QPushButton("Close", footer);
    close_->setObjectName("detailClose");
    close_->setDefault(true);
    form::describe(close_, "Close");
    connect(close_, &QPushButton::clicked, this, [this] { onClose_(); });
    row->addWidget(close_);
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

    const bool busy = store_.isBusy(qs(issue.key));
    busy_->setVisible(busy);
    statusMenu_->setVisible(!busy);
    statusMenu_->setIssue(issue);

    summary_->setText(fields.summary ? qs(*fields.summary) : QStringLiteral("(no summary)"));
    const auto description = issue.descriptionText();
    description_->setText(description ? qs(*description) : QStringLiteral("No description."));
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
    rows.emplace_back("Status", qs(statusName.value_or("Unknown")));
    if (fields.project && fields.project->key) {
        rows.emplace_back("Project", qs(*fields.project->key));
    }
    if (fields.assignee && fields.assignee->displayName) {
        rows.emplace_back("Assignee", qs(*fields.assignee->displayName));
    }
    if (auto created = JiraDate::parse(fields.created)) {
        rows.emplace_back("Created", dateText(*created, now));
    }
    const auto updated = JiraDate::parse(fields.updated);
    if (updated) {
        rows.emplace_back("Updated", dateText(*updated, now));
    }
    if (inDoneCategory(issue)) {
        auto finished = JiraDate::parse(fields.resolutiondate);
        if (!finished) {
            finished = updated;
        }
        if (finished) {
            rows.emplace_back("Done", dateText(*finished, now));
        }
    }
    return rows;
}

void TaskDetailView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    store_.ensureTransitions(current());
    // Keys reach this view through a focused child, so the window never opens without one.
    if (!focusWidget()) {
        close_->setFocus();
    }
}

void TaskDetailView::keyPressEvent(QKeyEvent* event)
{
    if (!keys_.handle(event)) {
        QWidget::keyPressEvent(event);
    }
}

} // namespace taskbell::app
