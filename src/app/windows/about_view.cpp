#include "app/windows/about_view.h"

#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>

#include "app/look/symbols.h"
#include "app/windows/form_parts.h"
#include "core/base/app_info.h"
#include "core/platform/executable.h"

namespace taskbell::app {

namespace {

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

QWidget* changelogBlock(const ChangelogEntry& entry, QWidget* parent)
{
    auto* block = new QWidget(parent);
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    QLabel* version = form::label("v" + qs(entry.version), look::FontRole::Callout, false, block);
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    titleRow->addWidget(version);
    titleRow->addWidget(form::label(qs(entry.date), look::FontRole::Caption, true, block));
    titleRow->addStretch(1);
    column->addLayout(titleRow);

    for (const std::string& change : entry.changes) {
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        QLabel* bullet = form::label(QStringLiteral("•"), look::FontRole::Callout, true, block);
        row->addWidget(bullet, 0, Qt::AlignTop);
        QLabel* text = form::wrappingLabel(qs(change), look::FontRole::Callout, false, block);
        form::makeSelectable(text);
        row->addWidget(text, 1);
        column->addLayout(row);
    }
    return block;
}

} // namespace

AboutView::AboutView(std::function<void()> onClose, QWidget* parent) : QWidget(parent), onClose_(std::move(onClose))
{
    setObjectName("aboutView");
    setFixedSize(420, 440);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeHeader());
    column->addWidget(form::divider(this));
    column->addWidget(makeChangelog(), 1);
    keys_ = WindowKeys(done_, done_);
}

QString AboutView::versionLine(const QString& version, const QString& build)
{
    return "Version " + version + " (build " + build + ")";
}

QWidget* AboutView::makeHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(10);

    auto* icon = new QLabel(header);
    const int pixels = look::symbolPixels(26);
    icon->setPixmap(look::symbolPixmap("checklist", look::accent(palette()), pixels, devicePixelRatioF()));
    icon->setFixedSize(pixels, pixels);
    icon->setAccessibleName("Taskbell");
    row->addWidget(icon, 0, Qt::AlignVCenter);

    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    QLabel* name = form::label("Taskbell", look::FontRole::Headline, false, header);
    name->setObjectName("aboutName");
    names->addWidget(name);
    QLabel* version = form::label(versionLine(qs(platform::runningVersion()), qs(platform::runningBuild())),
                                  look::FontRole::Caption, true, header);
    version->setObjectName("aboutVersion");
    form::makeSelectable(version);
    names->addWidget(version);
    row->addLayout(names);
    row->addStretch(1);

    done_ = new QPushButton("Done", header);
    done_->setObjectName("aboutDone");
    done_->setDefault(true);
    form::describe(done_, "Done");
    connect(done_, &QPushButton::clicked, this, [this] { onClose_(); });
    row->addWidget(done_, 0, Qt::AlignVCenter);
    return header;
}

QWidget* AboutView::makeChangelog()
{
    auto* area = new QScrollArea(this);
    area->setObjectName("aboutChangelog");
    QBoxLayout* column = form::scrollingColumn(area, 16, 12);
    QLabel* title = form::label("Changelog", look::FontRole::Subheadline, true, area->widget());
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    column->addWidget(title);
    for (const ChangelogEntry& entry : AppInfo::changelog()) {
        QWidget* block = changelogBlock(entry, area->widget());
        block->setObjectName("changelog-" + qs(entry.version));
        column->addWidget(block);
    }
    column->addStretch(1);
    return area;
}

void AboutView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Keys reach this view through a focused child, so the window never opens without one.
    if (!focusWidget()) {
        done_->setFocus();
    }
}

void AboutView::keyPressEvent(QKeyEvent* event)
{
    if (!keys_.handle(event)) {
        QWidget::keyPressEvent(event);
    }
}

} // namespace taskbell::app
