#include "app/panel/section_views.h"

#include <QHBoxLayout>

#include "app/look/look.h"
#include "app/look/style_sheets.h"
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
    count_->setStyleSheet(look::sheet::capsule(palette()));
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

} // namespace taskbell::app
