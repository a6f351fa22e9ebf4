#include "app/look/tile_button.h"

#include <QPainter>

#include "app/look/look.h"
#include "app/look/symbols.h"
#include "app/look/widgets.h"

namespace taskbell::app {

TileButton::TileButton(const QString& symbol, const QColor& tint, double fillOpacity, const QString& helpText,
                       QWidget* parent)
    : QToolButton(parent), fill_(look::withOpacity(tint, fillOpacity))
{
    setIcon(look::symbolIcon(symbol, tint, 14));
    setIconSize(QSize(14, 14));
    setFixedSize(24, 24);
    setAccessibleName(helpText);
    look::setHelpText(this, helpText);
    setCursor(Qt::PointingHandCursor);
}

void TileButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(hasFocus() ? QPen(look::accent(palette()), 1.5) : QPen(Qt::NoPen));
    QColor fill = fill_;
    if (isDown() || underMouse()) {
        fill.setAlphaF(std::min(1.0f, fill.alphaF() * 2));
    }
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 6, 6);
    QRect target(QPoint(0, 0), iconSize());
    target.moveCenter(rect().center());
    icon().paint(&painter, target);
}

} // namespace taskbell::app
