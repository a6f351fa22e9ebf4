#include "app/look/error_banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include "app/look/look.h"
#include "app/look/style_sheets.h"
#include "app/look/widgets.h"

namespace taskbell::app {

ErrorBanner::ErrorBanner(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("errorBanner"));
    setStyleSheet(look::sheet::tinted(QStringLiteral("#errorBanner"), look::orange(), 0.12, 8));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(look::symbolLabel("exclamationmark.triangle.fill", look::orange(), 14), 0, Qt::AlignTop);
    message_ = look::textLabel({}, look::FontRole::Caption);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message_, 1, Qt::AlignTop);
    auto* dismiss = look::plainButton(tr("Dismiss"), look::FontRole::Caption, look::secondary(palette()));
    dismiss->setAccessibleName(dismiss->text());
    connect(dismiss, &QToolButton::clicked, this, &ErrorBanner::dismissRequested);
    dismiss->hide();
    dismiss_ = dismiss;
    layout->addWidget(dismiss_, 0, Qt::AlignTop);
}

void ErrorBanner::setDismissible(bool dismissible)
{
    dismiss_->setVisible(dismissible);
}

void ErrorBanner::setMessage(const QString& message)
{
    message_->setText(message);
    setAccessibleName(message);
}

} // namespace taskbell::app
