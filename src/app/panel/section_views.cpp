#include "app/panel/section_views.h"

#include <QHBoxLayout>

#include "app/look/look.h"
#include "app/look/widgets.h"

namespace taskbell::app {

SectionHeader::SectionHeader(const QString& title, const QString& symbol, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    QColor secondary = look::secondary(palette());
    layout->addWidget(look::symbolLabel(symbol, secondary, 14));
    title_ = look::textLabel(title, look::FontRole::Subheadline);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    layout->addWidget(title_);
    count_ = look::textLabel(QStringLiteral("0"), look::FontRole::Caption2);
    count_->setStyleSheet(QStringLiteral("QLabel { background: %1; border-radius: 7px; padding: 1px 6px; }")
                              .arg(look::css(look::withOpacity(secondary, 0.15))));
    layout->addWidget(count_);
    layout->addStretch(1);
    setAccessibleName(title);
}

void SectionHeader::setCount(std::size_t count)
{
    count_->setText(QString::number(count));
}

EmptyHint::EmptyHint(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setFont(look::font(look::FontRole::Caption));
    look::setTextColour(this, look::secondary(palette()));
    setContentsMargins(0, 4, 0, 4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

ErrorBanner::ErrorBanner(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("errorBanner"));
    setStyleSheet(QStringLiteral("#errorBanner { background: %1; border-radius: 8px; }")
                      .arg(look::css(look::withOpacity(look::orange(), 0.12))));
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
