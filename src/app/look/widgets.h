#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <QToolButton>

#include "app/look/look.h"

namespace taskbell::app::look {

// A label showing a symbol tinted to `tint`, `pixels` logical pixels square.
QLabel* symbolLabel(const QString& symbol, const QColor& tint, int pixels, QWidget* parent = nullptr);
void setSymbol(QLabel* label, const QString& symbol, const QColor& tint, int pixels);

// A text label in a font role and colour (an invalid colour keeps the palette's text colour).
QLabel* textLabel(const QString& text, FontRole role, const QColor& colour = QColor(), QWidget* parent = nullptr);

// A plain (borderless) button showing only a symbol; its help text is its tooltip, accessible name and
// description.
QToolButton* symbolButton(const QString& symbol, const QColor& tint, int pixels, const QString& helpText,
                          QWidget* parent = nullptr);

// A plain (borderless) text button in a font role and colour.
QToolButton* plainButton(const QString& text, FontRole role, const QColor& colour = QColor(),
                         QWidget* parent = nullptr);

// Help text: tooltip and accessible description.
void setHelpText(QWidget* widget, const QString& helpText);

} // namespace taskbell::app::look
