#include "app/look/widgets.h"

#include <QTextDocument>

#include "app/look/symbols.h"

namespace taskbell::app::look {

QLabel* symbolLabel(const QString& symbol, const QColor& tint, int pixels, QWidget* parent)
{
    auto* label = new QLabel(parent);
    setSymbol(label, symbol, tint, pixels);
    return label;
}

void setSymbol(QLabel* label, const QString& symbol, const QColor& tint, int pixels)
{
    qreal ratio = label->devicePixelRatioF();
    label->setPixmap(
        symbolPixmap(symbol, tint, pixels, ratio < 1 ? 1 : ratio, label->palette().color(QPalette::Window)));
    label->setFixedSize(pixels, pixels);
}

QLabel* textLabel(const QString& text, FontRole role, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font(role));
    if (colour.isValid()) {
        setTextColour(label, colour);
    }
    return label;
}

QToolButton* symbolButton(const QString& symbol, const QColor& tint, int pixels, const QString& helpText,
                          QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(symbolIcon(symbol, tint, pixels));
    button->setIconSize(QSize(pixels, pixels));
    button->setAccessibleName(helpText);
    setHelpText(button, helpText);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QToolButton* plainButton(const QString& text, FontRole role, const QColor& colour, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setText(text);
    button->setAccessibleName(text);
    button->setFont(font(role));
    if (colour.isValid()) {
        setTextColour(button, colour);
    }
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void setHelpText(QWidget* widget, const QString& helpText)
{
    // A tooltip that might be markup is shown as markup: a help text quoting an issue's summary is plain.
    widget->setToolTip(Qt::mightBeRichText(helpText) ? Qt::convertFromPlainText(helpText, Qt::WhiteSpaceNormal)
                                                     : helpText);
    widget->setAccessibleDescription(helpText);
}

} // namespace taskbell::app::look
