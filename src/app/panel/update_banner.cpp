#include "app/panel/update_banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/look/look.h"
#include "app/look/style_sheets.h"
#include "app/look/widgets.h"
#include "app/model/updater.h"

namespace taskbell::app {

UpdateBanner::UpdateBanner(Updater& updater, QWidget* parent) : QFrame(parent), updater_(updater)
{
    setObjectName(QStringLiteral("updateBanner"));
    setStyleSheet(look::sheet::tinted(QStringLiteral("#updateBanner"), look::green(), 0.10, 0));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(8);
    layout->addWidget(look::symbolLabel("arrow.down.circle.fill", look::green(), 18));
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    title_ = look::textLabel({}, look::FontRole::Callout);
    QFont medium = title_->font();
    medium.setWeight(QFont::Medium);
    title_->setFont(medium);
    detail_ = look::textLabel({}, look::FontRole::Caption);
    detail_->setWordWrap(true);
    detail_->setMaximumHeight(detail_->fontMetrics().lineSpacing() * 3 + 1);
    column->addWidget(title_);
    column->addWidget(detail_);
    layout->addLayout(column, 1);
    QToolButton* whatsNew = look::plainButton(tr("What's new"), look::FontRole::Caption);
    connect(whatsNew, &QToolButton::clicked, this, &UpdateBanner::aboutRequested);
    QToolButton* later = look::plainButton(tr("Later"), look::FontRole::Caption);
    connect(later, &QToolButton::clicked, this, [this] { updater_.dismiss(); });
    // "&&": a single ampersand would turn the next letter into a mnemonic.
    install_ = new QPushButton(tr("Update && Relaunch"));
    install_->setAccessibleName(tr("Update & Relaunch"));
    install_->setDefault(true);
    connect(install_, &QPushButton::clicked, this, [this] { updater_.install(); });
    // Return is the default action while the banner shows.
    auto* returnKey = new QShortcut(QKeySequence(Qt::Key_Return), this, nullptr, nullptr, Qt::WindowShortcut);
    connect(returnKey, &QShortcut::activated, install_, [this] {
        if (isVisible() && install_->isEnabled()) {
            install_->click();
        }
    });
    layout->addWidget(whatsNew);
    layout->addWidget(later);
    layout->addWidget(install_);
    refresh();
}

void UpdateBanner::refresh()
{
    QString version = updater_.available() ? QString::fromStdString(updater_.available()->version) : QString();
    title_->setText(tr("Version %1 is available").arg(version));
    if (updater_.status()) {
        detail_->setText(*updater_.status());
        look::setTextColour(detail_, look::secondary(palette()));
    } else if (updater_.errorMessage()) {
        detail_->setText(*updater_.errorMessage());
        look::setTextColour(detail_, look::red());
    } else {
        detail_->clear();
    }
    detail_->setVisible(!detail_->text().isEmpty());
    install_->setEnabled(!updater_.isChecking());
}

} // namespace taskbell::app
