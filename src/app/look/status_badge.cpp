#include "app/look/status_badge.h"

#include <QPainter>

#include "app/look/look.h"

namespace taskbell::app {

QColor statusCategoryColour(const std::optional<std::string>& categoryKey)
{
    if (categoryKey == "done") {
        return look::green();
    }
    if (categoryKey == "indeterminate") {
        return look::blue();
    }
    return look::gray();
}

StatusBadge::StatusBadge(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFont(look::font(look::FontRole::Caption2));
    setContentsMargins(6, 1, 6, 1);
}

void StatusBadge::setStatus(const QString& name, const std::optional<std::string>& categoryKey)
{
    QColor colour = statusCategoryColour(categoryKey);
    setText(name);
    if (colour != colour_) { // a re-bound row's badge mostly keeps its colour; a palette change costs
        colour_ = colour;
        look::setTextColour(this, colour_);
    }
}

void StatusBadge::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look::withOpacity(colour_, 0.18));
    qreal radius = height() / 2.0;
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
    painter.end();
    QLabel::paintEvent(event);
}

} // namespace taskbell::app
