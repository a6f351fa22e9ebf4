#include "app/look/look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QWidget>
#include <algorithm>

namespace taskbell::app::look {

namespace {

qreal basePointSize()
{
    qreal size = QApplication::font().pointSizeF();
    return size > 0 ? size : 10.0;
}

qreal pointSize(FontRole role)
{
    qreal base = basePointSize();
    switch (role) {
    case FontRole::Headline:
    case FontRole::Callout:
        return base;
    case FontRole::Subheadline:
        return base - 1;
    case FontRole::Caption:
        return std::max<qreal>(base - 2, 8);
    case FontRole::Caption2:
        return std::max<qreal>(base - 3, 7);
    }
    return base;
}

} // namespace

QFont font(FontRole role)
{
    QFont result = QApplication::font();
    result.setPointSizeF(pointSize(role));
    result.setBold(role == FontRole::Headline);
    return result;
}

QFont monospacedFont(FontRole role)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPointSizeF(pointSize(role));
    return result;
}

int symbolPixels(int systemSize)
{
    // A symbol "at system size N" is about as tall as text of N points at 96 dpi.
    return std::max(8, systemSize * 4 / 3);
}

QColor accent(const QPalette& palette)
{
    return palette.color(QPalette::Highlight);
}

QColor secondary(const QPalette& palette)
{
    QColor placeholder = palette.color(QPalette::PlaceholderText);
    if (placeholder.isValid() && placeholder != palette.color(QPalette::WindowText)) {
        return placeholder;
    }
    return withOpacity(palette.color(QPalette::WindowText), 0.6);
}

QColor primary(const QPalette& palette)
{
    return palette.color(QPalette::WindowText);
}

QColor green()
{
    return QColor(0x2f, 0xa8, 0x4f);
}

QColor blue()
{
    return QColor(0x2f, 0x80, 0xed);
}

QColor orange()
{
    return QColor(0xf0, 0x8c, 0x12);
}

QColor red()
{
    return QColor(0xe5, 0x48, 0x3e);
}

QColor gray()
{
    return QColor(0x8e, 0x8e, 0x93);
}

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(static_cast<float>(colour.alphaF() * std::clamp(opacity, 0.0, 1.0)));
    return colour;
}

QString css(const QColor& colour)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alpha());
}

void setFont(QWidget* widget, FontRole role)
{
    widget->setFont(font(role));
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
        palette.setColor(role, colour);
    }
    widget->setPalette(palette);
}

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

} // namespace taskbell::app::look
