#include "app/windows/about_view.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>

#include "app/look/symbols.h"
#include "app/look/window_sizes.h"
#include "app/model/text.h"
#include "app/windows/form_parts.h"
#include "core/base/app_info.h"
#include "core/platform/executable.h"

namespace taskbell::app {

namespace {

QWidget* changelogBlock(const ChangelogEntry& entry, QWidget* parent)
{
    auto* block = new QWidget(parent);
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    QLabel* version = form::label(QStringLiteral("v") + qs(entry.version), look::FontRole::Callout, false, block);
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

AboutView::AboutView(QWidget* parent) : FormDialog("aboutView", parent)
{
    setFixedSize(windowSize::about);
    auto* buttons = new QDialogButtonBox(this);
    done_ = addButton(buttons, tr("Done"), QDialogButtonBox::AcceptRole, "aboutDone");
    done_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    setParts(titleBar(makeIdentity(), buttons), makeChangelog());
}

QString AboutView::versionLine(const QString& version, const QString& build)
{
    return tr("Version %1 (build %2)").arg(version, build);
}

// The icon, the name and the version line.
QWidget* AboutView::makeIdentity()
{
    auto* identity = new QWidget(this);
    auto* row = new QHBoxLayout(identity);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    auto* icon = new QLabel(identity);
    const int pixels = look::symbolPixels(26);
    icon->setPixmap(look::symbolPixmap("checklist", look::accent(palette()), pixels, devicePixelRatioF()));
    icon->setFixedSize(pixels, pixels);
    icon->setAccessibleName(QStringLiteral("Taskbell"));
    row->addWidget(icon, 0, Qt::AlignVCenter);

    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    QLabel* name = form::label(QStringLiteral("Taskbell"), look::FontRole::Headline, false, identity);
    name->setObjectName("aboutName");
    names->addWidget(name);
    QLabel* version = form::label(versionLine(qs(platform::runningVersion()), qs(platform::runningBuild())),
                                  look::FontRole::Caption, true, identity);
    version->setObjectName("aboutVersion");
    form::makeSelectable(version);
    names->addWidget(version);
    row->addLayout(names);
    return identity;
}

QWidget* AboutView::makeChangelog()
{
    auto* area = new QScrollArea(this);
    area->setObjectName("aboutChangelog");
    QBoxLayout* column = form::scrollingColumn(area, 16, 12);
    QLabel* title = form::label(tr("Changelog"), look::FontRole::Subheadline, true, area->widget());
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
    FormDialog::showEvent(event);
    // Keys reach this view through a focused child, so the window never opens without one.
    if (!focusWidget()) {
        done_->setFocus();
    }
}

} // namespace taskbell::app
