#include "app/panel/task_row.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include "app/look/look.h"
#include "app/look/spinner.h"
#include "app/look/symbols.h"
#include "app/look/tile_button.h"
#include "app/look/widgets.h"
#include "app/look/wrapped_height.h"
#include "app/model/app_store.h"
#include "app/model/text.h"
#include "app/panel/accessibility.h"
#include "app/panel/issue_actions.h"
#include "app/panel/status_menu.h"
#include "core/jira/date.h"

namespace taskbell::app {

namespace {

// Longer descriptions are cut before layout: the preview shows three lines at most.
constexpr qsizetype kDescriptionPreviewChars = 400;

std::optional<std::string_view> view(const std::optional<std::string>& text)
{
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

} // namespace

RowTexts RowTexts::of(const Issue& issue, std::chrono::system_clock::time_point now)
{
    RowTexts texts;
    texts.key = qs(issue.key);
    texts.summary = qs(issue.summaryText());
    if (issue.fields.priority && issue.fields.priority->name) {
        texts.priority = qs(*issue.fields.priority->name);
    }
    if (auto description = issue.descriptionText()) {
        texts.description = qs(*description).left(kDescriptionPreviewChars);
    }
    texts.helpText = TaskRow::tr("Click to copy \u201C%1: %2\u201D").arg(texts.key, texts.summary);
    texts.dateIsDone = issue.isDone();
    std::optional<JiraDate::TimePoint> date;
    if (texts.dateIsDone) {
        date = issue.finishedDate();
    } else {
        date = JiraDate::parse(view(issue.fields.created));
    }
    if (date) {
        QString line =
            qs(JiraDate::dayLabel(*date)) + QStringLiteral(" \u00B7 ") + qs(JiraDate::relativeDays(*date, now));
        texts.dateLine = texts.dateIsDone ? TaskRow::tr("Done %1").arg(line) : line;
    }
    return texts;
}

CopyArea::CopyArea(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void CopyArea::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit activated();
    }
}

void CopyArea::paintEvent(QPaintEvent*)
{
    if (hasFocus()) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(look::accent(palette()), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    }
}

void CopyArea::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit activated();
        return;
    }
    QWidget::keyPressEvent(event);
}

TaskRow::TaskRow(const Issue& issue, const RowContext& context, QWidget* parent)
    : QWidget(parent), issue_(issue), context_(context), actions_(new IssueActions(*context.store, issue, this))
{
    connect(actions_, &IssueActions::taskDetailRequested, this, &TaskRow::taskDetailRequested);
    connect(actions_->copy(), &QAction::triggered, this, &TaskRow::flashCopied);
    installPanelAccessibility();
    setObjectName(QStringLiteral("taskRow"));
    QColor secondary = look::secondary(palette());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(8);

    copyArea_ = new CopyArea;
    connect(copyArea_, &CopyArea::activated, actions_->copy(), &QAction::trigger);
    auto* info = new QVBoxLayout(copyArea_);
    info->setContentsMargins(0, 0, 0, 0);
    info->setSpacing(3);
    auto* keyLine = new QHBoxLayout;
    keyLine->setSpacing(6);
    key_ = look::textLabel({}, look::FontRole::Caption, look::accent(palette()));
    key_->setFont(look::monospacedFont(look::FontRole::Caption));
    priority_ = look::textLabel({}, look::FontRole::Caption2, secondary);
    keyLine->addWidget(key_);
    keyLine->addWidget(priority_);
    keyLine->addStretch(1);
    keyLine_ = keyLine;
    info->addLayout(keyLine);
    summary_ = look::textLabel({}, look::FontRole::Callout);
    summary_->setWordWrap(true);
    info->addWidget(summary_);
    description_ = look::textLabel({}, look::FontRole::Caption, secondary);
    description_->setWordWrap(true);
    description_->setMaximumHeight(description_->fontMetrics().lineSpacing() * 3 + 1);
    description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    info->addWidget(description_);
    auto* dateLine = new QHBoxLayout;
    dateLine->setSpacing(4);
    dateSymbol_ = new QLabel;
    dateText_ = look::textLabel({}, look::FontRole::Caption2);
    dateLine->addWidget(dateSymbol_);
    dateLine->addWidget(dateText_);
    dateLine->addStretch(1);
    info->addLayout(dateLine);
    row->addWidget(copyArea_, 1, Qt::AlignTop);

    controls_ = new QWidget;
    auto* controls = new QHBoxLayout(controls_);
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(6);
    details_ = new TileButton("text.magnifyingglass", secondary, 0.10, tr("Show full details"));
    connect(details_, &QToolButton::clicked, actions_->details(), &QAction::trigger);
    statusMenu_ = new StatusMenu(issue_, *context_.store, actions_);
    markDone_ = new TileButton("checkmark", look::green(), 0.12, actions_->markDone()->text());
    connect(markDone_, &QToolButton::clicked, actions_->markDone(), &QAction::trigger);
    controls->addWidget(details_);
    controls->addWidget(statusMenu_);
    controls->addWidget(markDone_);
    row->addWidget(controls_, 0, Qt::AlignTop);

    showTexts();
}

void TaskRow::setIssue(const Issue& issue)
{
    if (issue == issue_) {
        showTexts(); // the same issue a day later: the date line moves on
        return;
    }
    bool other = issue.id != issue_.id;
    issue_ = issue;
    actions_->bind(issue_);
    statusMenu_->setIssue(issue_);
    transitionsRequested_ = false;
    if (other) {
        setBusy(context_.store->isBusy(QString::fromStdString(issue_.key)));
        if (copied_ != nullptr) {
            copied_->hide();
        }
    }
    showTexts();
}

void TaskRow::showTexts()
{
    RowTexts texts = RowTexts::of(issue_, context_.now());
    key_->setText(texts.key);
    priority_->setText(texts.priority);
    priority_->setVisible(!texts.priority.isEmpty());
    summary_->setText(texts.summary);
    description_->setText(texts.description);
    description_->setVisible(!texts.description.isEmpty());
    copyArea_->setAccessibleName(texts.helpText);
    look::setHelpText(copyArea_, texts.helpText);
    dateSymbol_->setVisible(!texts.dateLine.isEmpty());
    dateText_->setVisible(!texts.dateLine.isEmpty());
    if (!texts.dateLine.isEmpty()) {
        // A re-bound row mostly keeps its kind of date line: the symbol and colour are set only when it changes.
        if (dateIsDone_ != texts.dateIsDone) {
            dateIsDone_ = texts.dateIsDone;
            QColor colour = texts.dateIsDone ? look::green() : look::secondary(palette());
            look::setSymbol(dateSymbol_, texts.dateIsDone ? "checkmark.circle" : "calendar", colour, 12);
            look::setTextColour(dateText_, colour);
        }
        dateText_->setText(texts.dateLine);
    }
    markDone_->setVisible(!texts.dateIsDone);
    setAccessibleName(texts.key + QStringLiteral(": ") + texts.summary);
}

int TaskRow::heightFor(const Issue& issue, int width) const
{
    const QMargins margins = layout()->contentsMargins();
    int textWidth = width - margins.left() - margins.right() - layout()->spacing() - controls_->sizeHint().width();
    auto wrapped = [textWidth](std::unique_ptr<look::WrappedHeight>& fit, const QLabel* label, const QString& text,
                               int limit) {
        if (!fit || fit->font() != label->font()) {
            fit = std::make_unique<look::WrappedHeight>(label->font());
        }
        return (*fit)(text, textWidth, limit);
    };
    constexpr int kInfoSpacing = 3;
    int info = std::max(key_->sizeHint().height(), priority_->sizeHint().height());
    info += kInfoSpacing + wrapped(summaryFit_, summary_, QString::fromStdString(issue.summaryText()), INT_MAX);
    if (auto description = issue.descriptionText(); description && !description->empty()) {
        QString preview = QString::fromStdString(*description).left(kDescriptionPreviewChars);
        info += kInfoSpacing + wrapped(descriptionFit_, description_, preview, description_->maximumHeight());
    }
    bool dated =
        issue.isDone() ? issue.finishedDate().has_value() : JiraDate::parse(view(issue.fields.created)).has_value();
    if (dated) {
        info += kInfoSpacing + std::max(12, dateText_->fontMetrics().height());
    }
    return margins.top() + margins.bottom() + std::max(info, controls_->sizeHint().height());
}

std::vector<QWidget*> TaskRow::focusStops() const
{
    return {copyArea_, details_, statusMenu_, markDone_};
}

void TaskRow::setBusy(bool busy)
{
    if (busy == busy_) {
        return;
    }
    busy_ = busy;
    if (busyBox_ == nullptr) {
        // Made on first use: most rows are never busy, and hundreds of rows are shown at once.
        busyBox_ = new QWidget;
        busyBox_->setMinimumWidth(80);
        auto* busyLayout = new QHBoxLayout(busyBox_);
        busyLayout->setContentsMargins(0, 0, 0, 0);
        busyLayout->addStretch(1);
        busyLayout->addWidget(new look::Spinner(16));
        static_cast<QHBoxLayout*>(layout())->addWidget(busyBox_, 0, Qt::AlignTop);
    }
    controls_->setVisible(!busy_);
    busyBox_->setVisible(busy_);
}

void TaskRow::ensureTransitions()
{
    if (transitionsRequested_ || context_.store->transitions(QString::fromStdString(issue_.key))) {
        return;
    }
    transitionsRequested_ = true;
    QPointer<TaskRow> self(this);
    context_.store->ensureTransitions(issue_, [self] {
        if (self) {
            self->transitionsRequested_ = false;
        }
    });
}

void TaskRow::copy()
{
    actions_->copy()->trigger();
}

void TaskRow::flashCopied()
{
    if (copied_ == nullptr) {
        QColor secondary = look::secondary(palette());
        copied_ = new QWidget;
        auto* copiedLayout = new QHBoxLayout(copied_);
        copiedLayout->setContentsMargins(0, 0, 0, 0);
        copiedLayout->setSpacing(3);
        copiedLayout->addWidget(look::symbolLabel("doc.on.doc.fill", secondary, 11));
        copiedLayout->addWidget(look::textLabel(tr("Copied"), look::FontRole::Caption2, secondary));
        keyLine_->insertWidget(2, copied_);
    }
    copied_->show();
    // Each copy hides the flash after its own delay; the first delay to end hides it.
    QTimer::singleShot(context_.copiedFlash, copied_, [copied = copied_] { copied->hide(); });
}

bool TaskRow::isCopiedShown() const
{
    return copied_ != nullptr && !copied_->isHidden();
}

void TaskRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look::withOpacity(look::secondary(palette()), 0.06));
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

} // namespace taskbell::app
