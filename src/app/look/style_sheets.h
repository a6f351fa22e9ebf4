#pragma once

#include <QPalette>
#include <QString>

// The application's style sheets, made in one place from the palette and the look's colours.
namespace taskbell::app::look::sheet {

// A frame tinted in a colour at `opacity`, with rounded corners of `radius` pixels (0: square).
QString tinted(const QString& selector, const QColor& colour, double opacity, int radius);
// A capsule behind a count ("12").
QString capsule(const QPalette& palette);
// A filled button in the accent colour (the panel's "Open Settings").
QString accentButton(const QPalette& palette);
// A push button that reads as a link.
QString linkButton(const QPalette& palette);
// A tool button without frame (a disclosure triangle and its title).
QString bareToolButton();
// A thin rounded frame around a text field.
QString fieldBorder(const QPalette& palette);
// A text shown as a code block.
QString codeBlock(const QPalette& palette);
// Segments inside `selector`: framed, the chosen one tinted, the focused one outlined.
QString segments(const QPalette& palette, const QString& selector);

} // namespace taskbell::app::look::sheet
