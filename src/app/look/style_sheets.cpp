#include "app/look/style_sheets.h"

#include "app/look/look.h"

namespace taskbell::app::look::sheet {

QString tinted(const QString& selector, const QColor& colour, double opacity, int radius)
{
    QString corner = radius > 0 ? QStringLiteral(" border-radius: %1px;").arg(radius) : QString();
    return QStringLiteral("%1 { background: %2;%3 }").arg(selector, css(withOpacity(colour, opacity)), corner);
}

QString capsule(const QPalette& palette)
{
    return QStringLiteral("QLabel { background: %1; border-radius: 7px; padding: 1px 6px; }")
        .arg(css(withOpacity(secondary(palette), 0.15)));
}

QString accentButton(const QPalette& palette)
{
    return QStringLiteral("QPushButton { background: %1; color: %2; border-radius: 6px; padding: 5px "
                          "14px; border: none; } QPushButton:focus { border: 1px solid %2; }")
        .arg(css(accent(palette)), css(palette.color(QPalette::HighlightedText)));
}

QString linkButton(const QPalette& palette)
{
    return "QPushButton { border: none; padding: 0; text-align: left; color: " + css(accent(palette)) + "; }";
}

QString bareToolButton()
{
    return QStringLiteral("QToolButton { border: none; padding: 2px 0; }");
}

QString fieldBorder(const QPalette& palette)
{
    return "QPlainTextEdit { border: 1px solid " + css(withOpacity(secondary(palette), 0.3)) +
           "; border-radius: 6px; }";
}

QString codeBlock(const QPalette& palette)
{
    return "QLabel { padding: 6px; border-radius: 5px; background: " + css(palette.color(QPalette::Base)) +
           "; border: 1px solid " + css(palette.color(QPalette::Mid)) + "; }";
}

QString segments(const QPalette& palette, const QString& selector)
{
    QColor tint = accent(palette);
    return QStringLiteral("%1 QToolButton { border: 1px solid %2; padding: 3px 6px; }"
                          "%1 QToolButton:checked { background: %3; }"
                          "%1 QToolButton:focus { border: 1px solid %4; }")
        .arg(selector, css(withOpacity(secondary(palette), 0.35)), css(withOpacity(tint, 0.25)), css(tint));
}

} // namespace taskbell::app::look::sheet
