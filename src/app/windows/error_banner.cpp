#include "app/windows/error_banner.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "app/look/look.h"
#include "app/look/symbols.h"
#include "app/windows/form_parts.h"

namespace taskbell::app {

ErrorBanner::ErrorBanner(QWidget* parent) : QWidget(parent)
{
    setObjectName("errorBanner");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(6);
    icon_ = new QLabel(this);
    const int pixels = look::symbolPixels(11);
    icon_->setPixmap(look::symbolPixmap("exclamationmark.triangle.fill", look::orange(), pixels, devicePixelRatioF()));
    icon_->setFixedSize(pixels, pixels);
    row->addWidget(icon_, 0, Qt::AlignTop);
    text_ = form::wrappingLabel({}, look::FontRole::Caption, false, this);
    text_->setObjectName("errorBannerText");
    form::makeSelectable(text_);
    row->addWidget(text_, 1);
}

void ErrorBanner::setMessage(const QString& message)
{
    text_->setText(message);
    setAccessibleName(message);
}

QString ErrorBanner::message() const
{
    return text_->text();
}

void ErrorBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath band;
    band.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(band, look::withOpacity(look::orange(), 0.12));
}

} // namespace taskbell::app
