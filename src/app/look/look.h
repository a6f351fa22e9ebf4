#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QWidget;

namespace taskbell::app::look {

// Text roles of the interface, derived from the application font's point size P: headline = P bold,
// callout = P, subheadline = P - 1, caption = P - 2 (at least 8), caption2 = P - 3 (at least 7).
enum class FontRole { Headline, Callout, Subheadline, Caption, Caption2 };

QFont font(FontRole role);
// The system's fixed-pitch font at the role's size.
QFont monospacedFont(FontRole role);
// The font of a symbol drawn "at system size N": the point size of the symbol's box.
int symbolPixels(int systemSize);

// Colours that follow the desktop palette.
QColor accent(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor primary(const QPalette& palette);

// The five fixed colours, readable on light and dark palettes alike.
QColor green();
QColor blue();
QColor orange();
QColor red();
QColor gray();

// The colour at `opacity` (0..1) of its own alpha: "green at 12 %" is withOpacity(green(), 0.12).
QColor withOpacity(QColor colour, double opacity);
// "rgba(r, g, b, a)" for style sheets.
QString css(const QColor& colour);

// Applies a role's font and a text colour to a widget (labels, buttons).
void setFont(QWidget* widget, FontRole role);
void setTextColour(QWidget* widget, const QColor& colour);

// Whether the palette is a dark one (light text on a dark window).
bool isDark(const QPalette& palette);

} // namespace taskbell::app::look
