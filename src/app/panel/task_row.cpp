#include "app/panel/task_row.h"

#include <QAction>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>

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
#include "core/jira/month_group.h"

namespace taskbell::app {

namespace {

// Longer descriptions are cut before layout: the preview shows three lines at most.
constexpr qsizetype kDescriptionPreviewChars = 400;
constexpr int kRowMargin = 8;
constexpr int kColumnGap = 8; // between the information block and the controls
constexpr int kLineGap = 3;   // between the lines of the information block
constexpr int kKeyGap = 6;    // between the key, the priority and the "Copied" flash
constexpr int kButtonGap = 6;
constexpr int kDateSymbolPixels = 12;

std::optional<std::string_view> view(const std::optional<std::string>& text)
{
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

// Gives `widget` its place within a parent `parentWidth` wide, mirrored when it runs right to left.
void place(QWidget* widget, const QRect& area, int parentWidth)
{
    widget->setGeometry(
        QStyle::visualRect(widget->layoutDirection(), QRect(0, 0, parentWidth, area.bottom() + 1), area));
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
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    QColor secondary = look::secondary(palette());

    // The row places its parts itself (arrange()), from the same measures heightFor() uses: a list
    // shows many rows, and box layouts would lay every wrapped text out several times over.
    copyArea_ = new CopyArea(this);
    connect(copyArea_, &CopyArea::activated, actions_->copy(), &QAction::trigger);
    key_ = look::textLabel({}, look::FontRole::Caption, look::accent(palette()), copyArea_);
    key_->setFont(look::monospacedFont(look::FontRole::Caption));
    priority_ = look::textLabel({}, look::FontRole::Caption2, secondary, copyArea_);
    summary_ = look::textLabel({}, look::FontRole::Callout, {}, copyArea_);
    summary_->setWordWrap(true);
    description_ = look::textLabel({}, look::FontRole::Caption, secondary, copyArea_);
    description_->setWordWrap(true);
    description_->setMaximumHeight(description_->fontMetrics().lineSpacing() * 3 + 1);
    description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    dateSymbol_ = new QLabel(copyArea_);
    dateText_ = look::textLabel({}, look::FontRole::Caption2, {}, copyArea_);

    controls_ = new QWidget(this);
    details_ = new TileButton("text.magnifyingglass", secondary, 0.10, tr("Show full details"), controls_);
    connect(details_, &QToolButton::clicked, actions_->details(), &QAction::trigger);
    statusMenu_ = new StatusMenu(issue_, *context_.store, actions_, controls_);
    markDone_ = new TileButton("checkmark", look::green(), 0.12, actions_->markDone()->text(), controls_);
    connect(markDone_, &QToolButton::clicked, actions_->markDone(), &QAction::trigger);
    // Placed by arrange(), not sized to their hints when first shown.
    for (QWidget* part : {key_, priority_, summary_, description_, dateText_}) {
        part->setAttribute(Qt::WA_Resized);
    }

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
            look::setSymbol(dateSymbol_, texts.dateIsDone ? "checkmark.circle" : "calendar", colour, kDateSymbolPixels);
            look::setTextColour(dateText_, colour);
        }
        dateText_->setText(texts.dateLine);
    }
    markDone_->setVisible(!texts.dateIsDone);
    setAccessibleName(texts.key + QStringLiteral(": ") + texts.summary);
    if (testAttribute(Qt::WA_Resized)) { // else placed when it is first given a size
        arrange();
    }
}

TaskRow::Placement TaskRow::placementFor(const Issue& issue, int width) const
{
    Placement placement;
    placement.controls = controlsSizeFor(issue);
    placement.textWidth = std::max(0, width - 2 * kRowMargin - kColumnGap - placement.controls.width());
    auto wrapped = [&placement](const QLabel* label, const QString& text, int limit) {
        return look::WrappedHeight::shared(label->font())(text, placement.textWidth, limit);
    };
    auto lineHeight = [](const QLabel* label) { return look::WrappedHeight::shared(label->font()).lineHeight(); };
    placement.keyLine = std::max(lineHeight(key_), lineHeight(priority_));
    placement.summary = wrapped(summary_, QString::fromStdString(issue.summaryText()), INT_MAX);
    int info = placement.keyLine + kLineGap + placement.summary;
    if (auto description = issue.descriptionText(); description && !description->empty()) {
        QString preview = QString::fromStdString(*description).left(kDescriptionPreviewChars);
        placement.description = wrapped(description_, preview, description_->maximumHeight());
        info += kLineGap + placement.description;
    }
    bool dated =
        issue.isDone() ? issue.finishedDate().has_value() : JiraDate::parse(view(issue.fields.created)).has_value();
    if (dated) {
        placement.dateLine = std::max(kDateSymbolPixels, lineHeight(dateText_));
        info += kLineGap + placement.dateLine;
    }
    placement.info = info;
    placement.height = 2 * kRowMargin + std::max(info, placement.controls.height());
    return placement;
}

QSize TaskRow::controlsSizeFor(const Issue& issue) const
{
    QSize menu = statusMenu_->sizeFor(issue);
    int width = details_->width() + kButtonGap + menu.width();
    if (!issue.isDone()) {
        width += kButtonGap + markDone_->width();
    }
    return {width, std::max({details_->height(), markDone_->height(), menu.height()})};
}

int TaskRow::heightFor(const Issue& issue, int width) const
{
    return placementFor(issue, width).height;
}

int TaskRow::heightForWidth(int width) const
{
    return heightFor(issue_, width);
}

QSize TaskRow::sizeHint() const
{
    constexpr int kWidth = 400;
    return {kWidth, heightFor(issue_, kWidth)};
}

void TaskRow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    arrange();
}

// Places the parts for the row's issue at its width: the information block at the leading side, top to
// bottom, the controls (or the progress indicator) at the top of the trailing side.
void TaskRow::arrange()
{
    if (width() <= 0) {
        return;
    }
    const Placement placement = placementFor(issue_, width());
    const int textWidth = placement.textWidth;
    place(copyArea_, {kRowMargin, kRowMargin, textWidth, placement.info}, width());
    int x = 0;
    for (QWidget* part : {static_cast<QWidget*>(key_), static_cast<QWidget*>(priority_), copied_}) {
        if (part != nullptr && !part->isHidden()) {
            int partWidth = std::min(part->sizeHint().width(), std::max(0, textWidth - x));
            place(part, {x, 0, partWidth, placement.keyLine}, textWidth);
            x += partWidth + kKeyGap;
        }
    }
    int y = placement.keyLine + kLineGap;
    place(summary_, {0, y, textWidth, placement.summary}, textWidth);
    y += placement.summary + kLineGap;
    if (placement.description > 0) {
        place(description_, {0, y, textWidth, placement.description}, textWidth);
        y += placement.description + kLineGap;
    }
    if (placement.dateLine > 0) {
        place(dateSymbol_, {0, y + (placement.dateLine - kDateSymbolPixels) / 2, kDateSymbolPixels, kDateSymbolPixels},
              textWidth);
        constexpr int kDateTextLeft = kDateSymbolPixels + 4;
        // Right to left, the text takes only its own width, so that it stays beside its symbol.
        int dateWidth = std::max(0, textWidth - kDateTextLeft);
        if (isRightToLeft()) {
            dateWidth = std::min(dateText_->sizeHint().width(), dateWidth);
        }
        place(dateText_, {kDateTextLeft, y, dateWidth, placement.dateLine}, textWidth);
    }

    const QSize controls = placement.controls;
    place(controls_, {width() - kRowMargin - controls.width(), kRowMargin, controls.width(), controls.height()},
          width());
    x = 0;
    for (QWidget* button :
         {static_cast<QWidget*>(details_), static_cast<QWidget*>(statusMenu_), static_cast<QWidget*>(markDone_)}) {
        if (!button->isHidden()) {
            place(button, {QPoint(x, (controls.height() - button->height()) / 2), button->size()}, controls.width());
            x += button->width() + kButtonGap;
        }
    }
    if (busyBox_ != nullptr) {
        constexpr int kBusyWidth = 80;
        place(busyBox_, {width() - kRowMargin - kBusyWidth, kRowMargin, kBusyWidth, controls.height()}, width());
    }
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
        busyBox_ = new QWidget(this);
        auto* busyLayout = new QHBoxLayout(busyBox_);
        busyLayout->setContentsMargins(0, 0, 0, 0);
        busyLayout->addStretch(1);
        busyLayout->addWidget(new look::Spinner(16));
        arrange();
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
        copied_ = new QWidget(copyArea_);
        auto* copiedLayout = new QHBoxLayout(copied_);
        copiedLayout->setContentsMargins(0, 0, 0, 0);
        copiedLayout->setSpacing(3);
        copiedLayout->addWidget(look::symbolLabel("doc.on.doc.fill", secondary, 11));
        copiedLayout->addWidget(look::textLabel(tr("Copied"), look::FontRole::Caption2, secondary));
    }
    copied_->show();
    arrange();
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

void prepareRowResources(AppStore& store)
{
    RowContext context;
    context.store = &store;
    for (const auto* section : {&store.inProgress(), &store.backlog(), &store.done()}) {
        if (section->empty()) {
            continue;
        }
        TaskRow row(section->front(), context);
        row.resize(row.sizeHint());
        qreal ratio = row.devicePixelRatioF(); // the screen's, as the panel's rows have it
        QImage frame(row.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(ratio);
        row.render(&frame);
    }
    if (!store.done().empty()) {
        (void)JiraDate::monthLabel(store.done().front().sortDate()); // the Done months' labels
    }
}

} // namespace taskbell::app
