#include "app/windows/add_task_view.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>

#include "app/look/error_banner.h"
#include "app/look/segmented_control.h"
#include "app/look/spinner.h"
#include "app/look/style_sheets.h"
#include "app/look/window_sizes.h"
#include "app/model/app_store.h"
#include "app/model/text.h"
#include "app/windows/form_parts.h"
#include "core/jira/task_filter.h"

namespace taskbell::app {

namespace {

constexpr auto kDefaultTarget = CreateTarget::inProgress;

// Only spaces and tabs count as blanks here; the store trims the values it sends itself.
bool hasContent(const QString& text)
{
    for (QChar c : text) {
        if (c != ' ' && c != '\t') {
            return true;
        }
    }
    return false;
}

QLineEdit* lineEdit(const QString& objectName, const QString& placeholder, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setPlaceholderText(placeholder);
    return edit;
}

int indexOf(CreateTarget target)
{
    for (std::size_t i = 0; i < kAllCreateTargets.size(); ++i) {
        if (kAllCreateTargets[i] == target) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

} // namespace

AddTaskView::AddTaskView(AppStore& store, QWidget* parent) : FormDialog("addTaskView", parent), store_(store)
{
    setFixedSize(windowSize::addTask);
    auto* buttons = new QDialogButtonBox(this);
    cancel_ = addButton(buttons, tr("Cancel"), QDialogButtonBox::RejectRole, "addTaskCancel");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setParts(titleBar(headline(tr("New Task")), buttons), makeForm(), makeFooter());

    // Tab order follows the visual order: header, the form top to bottom, footer.
    QWidget* order[] = {cancel_,
                        projectKey_,
                        summary_,
                        description_,
                        issueType_,
                        target_->segment(0),
                        target_->segment(1),
                        target_->segment(2),
                        assignToMe_,
                        create_};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    updateState();
}

QWidget* AddTaskView::makeForm()
{
    auto* area = new QScrollArea(this);
    QBoxLayout* column = form::scrollingColumn(area, 14, 12);
    QWidget* content = area->widget();

    projectKey_ = lineEdit("projectKey", tr("e.g. QLT"), content);
    column->addWidget(form::titled(tr("Project key"), projectKey_, content));
    summary_ = lineEdit("summary", tr("What needs doing?"), content);
    column->addWidget(form::titled(tr("Summary"), summary_, content));

    description_ = new QPlainTextEdit(content);
    description_->setObjectName("description");
    description_->setFixedHeight(90);
    description_->setTabChangesFocus(true);
    description_->setFont(look::font(look::FontRole::Callout));
    description_->setStyleSheet(look::sheet::fieldBorder(palette()));
    column->addWidget(form::titled(tr("Description (optional)"), description_, content));

    issueType_ = lineEdit("issueType", tr("Task"), content);
    column->addWidget(form::titled(tr("Issue type"), issueType_, content));

    QStringList titles;
    for (CreateTarget target : kAllCreateTargets) {
        titles << qs(title(target));
    }
    target_ = new SegmentedControl(titles, indexOf(kDefaultTarget), content);
    target_->setObjectName("target");
    column->addWidget(form::titled(tr("Add to"), target_, content));

    assignToMe_ = new QCheckBox(tr("Assign to me"), content);
    assignToMe_->setObjectName("assignToMe");
    assignToMe_->setChecked(true);
    assignToMe_->setFont(look::font(look::FontRole::Callout));
    form::describe(assignToMe_, tr("Assign to me"));
    column->addWidget(assignToMe_);

    errorBanner_ = new ErrorBanner(content);
    errorBanner_->hide();
    column->addWidget(errorBanner_);
    column->addStretch(1);

    for (QLineEdit* edit : {projectKey_, summary_}) {
        connect(edit, &QLineEdit::textChanged, this, &AddTaskView::updateState);
    }
    return area;
}

QWidget* AddTaskView::makeFooter()
{
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 12, 12, 12);
    row->addStretch(1);
    auto* buttons = new QDialogButtonBox(footer);
    create_ = addButton(buttons, tr("Create task"), QDialogButtonBox::AcceptRole, "createTask");
    create_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddTaskView::submit);
    // The spinner takes the title's place on the button while the request runs.
    auto* inside = new QHBoxLayout(create_);
    inside->setContentsMargins(0, 0, 0, 0);
    spinner_ = new look::Spinner(12, create_);
    spinner_->hide();
    inside->addWidget(spinner_, 0, Qt::AlignCenter);
    create_->setMinimumWidth(create_->sizeHint().width());
    row->addWidget(buttons);
    return footer;
}

bool AddTaskView::canSubmit() const
{
    return hasContent(projectKey_->text()) && hasContent(summary_->text()) && !submitting_;
}

void AddTaskView::updateState()
{
    create_->setEnabled(canSubmit());
    create_->setText(submitting_ ? QString() : tr("Create task"));
    spinner_->setVisible(submitting_);
    errorBanner_->setVisible(error_.has_value());
    errorBanner_->setMessage(error_.value_or(QString()));
}

void AddTaskView::showEvent(QShowEvent* event)
{
    FormDialog::showEvent(event);
    if (shownBefore_) {
        return;
    }
    shownBefore_ = true;
    if (projectKey_->text().isEmpty()) {
        projectKey_->setText(QString::fromStdString(store_.settings().projectKey));
    }
    if (issueType_->text().isEmpty()) {
        issueType_->setText(QString::fromStdString(store_.settings().defaultIssueType));
    }
    (projectKey_->text().isEmpty() ? projectKey_ : summary_)->setFocus();
}

void AddTaskView::submit()
{
    if (!canSubmit()) {
        return;
    }
    submitting_ = true;
    error_.reset();
    updateState();
    const QString issueType = issueType_->text().isEmpty() ? QStringLiteral("Task") : issueType_->text();
    std::optional<QString> category;
    if (auto key = statusCategory(kAllCreateTargets[static_cast<std::size_t>(target_->current())])) {
        category = qs(*key);
    }
    store_.createTask(projectKey_->text(), summary_->text(), issueType, assignToMe_->isChecked(),
                      description_->toPlainText(), category, this,
                      [this](std::optional<QString> createdKey) { finish(createdKey); });
}

void AddTaskView::finish(const std::optional<QString>& createdKey)
{
    submitting_ = false;
    if (createdKey) {
        updateState();
        accept();
        return;
    }
    error_ = store_.errorMessage().value_or(tr("Could not create the task."));
    updateState();
}

} // namespace taskbell::app
