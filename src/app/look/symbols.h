#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace taskbell::app::look {

// Symbols are named as the interface names them ("checklist", "gearshape", "plus.circle.fill", ...) and
// drawn from the vendored icon set, tinted to the colour of their role. Unknown names draw nothing.
bool hasSymbol(const QString& name);
// The resource path of the icon file behind a symbol name; empty for an unknown name.
QString symbolFile(const QString& name);

// The symbol as a square pixmap of `pixels` logical pixels at the given device pixel ratio.
// `knockout` is the colour of the marks inside a filled symbol (normally the window colour).
QPixmap symbolPixmap(const QString& name, const QColor& tint, int pixels, qreal devicePixelRatio = 1.0,
                     const QColor& knockout = QColor());
// The symbol as an icon, rendered at the pixel ratio it is drawn at when first drawn so.
QIcon symbolIcon(const QString& name, const QColor& tint, int pixels = 16, const QColor& knockout = QColor());

} // namespace taskbell::app::look
