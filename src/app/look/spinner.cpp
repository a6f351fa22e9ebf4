#include "app/look/spinner.h"

#include <QPainter>
#include <QTimerEvent>

#include "app/look/look.h"

namespace taskbell::app::look {

Spinner::Spinner(int pixels, QWidget* parent) : QWidget(parent), pixels_(pixels)
{
    setFixedSize(pixels, pixels);
    setAccessibleName(tr("Loading…"));
}

QSize Spinner::sizeHint() const
{
    return {pixels_, pixels_};
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    qreal width = std::max(1.5, pixels_ / 8.0);
    QPen pen(secondary(palette()), width, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    QRectF box = QRectF(rect()).adjusted(width, width, -width, -width);
    painter.drawArc(box, -angle_ * 16, 270 * 16);
}

void Spinner::showEvent(QShowEvent*)
{
    timer_.start(60, this);
}

void Spinner::hideEvent(QHideEvent*)
{
    timer_.stop();
}

void Spinner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timer_.timerId()) {
        return;
    }
    angle_ = (angle_ + 30) % 360;
    update();
}

} // namespace taskbell::app::look
