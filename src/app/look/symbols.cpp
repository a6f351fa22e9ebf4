#include "app/look/symbols.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>

// Resources of a static library are registered explicitly, once, before the first lookup.
static void registerLookResources()
{
    Q_INIT_RESOURCE(look);
}

namespace taskbell::app::look {

namespace {

// How a symbol's file is drawn: as its outline, with its first shape filled and the marks inside it cut
// out ("….fill"), or with its inner shape filled and mirrored ("circle.lefthalf.filled").
enum class Fill { Outline, Solid, LeftHalf };

struct SymbolFile
{
    const char* file;
    Fill fill;
};

// The one mapping from symbol names to the vendored icon set.
const QHash<QString, SymbolFile>& symbolTable()
{
    static const QHash<QString, SymbolFile> table{
        {"checklist", {"list-checks", Fill::Outline}},
        {"gearshape", {"settings", Fill::Outline}},
        {"plus.circle.fill", {"circle-plus", Fill::Solid}},
        {"arrow.clockwise", {"rotate-cw", Fill::Outline}},
        {"arrow.down.circle.fill", {"circle-arrow-down", Fill::Solid}},
        {"tray", {"inbox", Fill::Outline}},
        {"circle.dashed", {"circle-dashed", Fill::Outline}},
        {"checkmark.circle", {"circle-check", Fill::Outline}},
        {"checkmark.circle.fill", {"circle-check", Fill::Solid}},
        {"circle.lefthalf.filled", {"contrast", Fill::LeftHalf}},
        {"circle", {"circle", Fill::Outline}},
        {"link.badge.plus", {"link", Fill::Outline}},
        {"exclamationmark.triangle.fill", {"triangle-alert", Fill::Solid}},
        {"text.magnifyingglass", {"text-search", Fill::Outline}},
        {"checkmark", {"check", Fill::Outline}},
        {"doc.on.doc", {"copy", Fill::Outline}},
        {"doc.on.doc.fill", {"copy-check", Fill::Outline}},
        {"safari", {"compass", Fill::Outline}},
        {"chevron.down", {"chevron-down", Fill::Outline}},
        {"calendar", {"calendar", Fill::Outline}},
    };
    return table;
}

QByteArray readSource(const QString& path)
{
    static bool registered = false;
    if (!registered) {
        registerLookResources();
        registered = true;
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray hex(const QColor& colour)
{
    return colour.name(QColor::HexRgb).toLatin1();
}

// The icon files keep one element per line, indented by two blanks, after the <svg …> opening tag.
QByteArray recolour(QByteArray svg, Fill fill, const QColor& tint, const QColor& knockout)
{
    svg.replace("currentColor", hex(tint));
    if (fill == Fill::Outline) {
        return svg;
    }
    QList<QByteArray> lines = svg.split('\n');
    bool first = true;
    for (QByteArray& line : lines) {
        if (!line.startsWith("  <")) {
            continue;
        }
        QByteArray attributes;
        if (fill == Fill::Solid) {
            attributes = first ? " fill=\"" + hex(tint) + "\"" : " stroke=\"" + hex(knockout) + "\"";
        } else if (!first) {
            attributes = " fill=\"" + hex(tint) + "\" transform=\"matrix(-1 0 0 1 24 0)\"";
        }
        int nameEnd = line.indexOf(' ', 3);
        line.insert(nameEnd < 0 ? line.size() : nameEnd, attributes);
        first = false;
    }
    return lines.join('\n');
}

} // namespace

bool hasSymbol(const QString& name)
{
    return symbolTable().contains(name);
}

QString symbolFile(const QString& name)
{
    auto found = symbolTable().constFind(name);
    if (found == symbolTable().constEnd()) {
        return {};
    }
    return QStringLiteral(":/taskbell/icons/%1.svg").arg(QLatin1String(found->file));
}

QPixmap symbolPixmap(const QString& name, const QColor& tint, int pixels, qreal devicePixelRatio,
                     const QColor& knockout)
{
    // Rows draw the same few symbols hundreds of times: render each variant once and share the pixmap.
    static QHash<QString, QPixmap> cache;
    QString key = QStringLiteral("%1|%2|%3|%4|%5")
                      .arg(name, tint.name(QColor::HexArgb))
                      .arg(pixels)
                      .arg(devicePixelRatio)
                      .arg(knockout.isValid() ? knockout.name(QColor::HexArgb) : QString());
    auto cached = cache.constFind(key);
    if (cached != cache.constEnd()) {
        return *cached;
    }
    QPixmap pixmap(QSize(pixels, pixels) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    auto found = symbolTable().constFind(name);
    if (found == symbolTable().constEnd()) {
        return pixmap;
    }
    QColor cut = knockout.isValid() ? knockout : QApplication::palette().color(QPalette::Window);
    QSvgRenderer renderer(recolour(readSource(symbolFile(name)), found->fill, tint, cut));
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    painter.end();
    cache.insert(key, pixmap);
    return pixmap;
}

namespace {

// A symbol's icon draws the symbol at the size and pixel ratio it is asked for, when it is first asked for:
// a screen at 1x never renders the 2x variant.
class SymbolIconEngine : public QIconEngine
{
public:
    SymbolIconEngine(QString name, QColor tint, int pixels, QColor knockout)
        : name_(std::move(name)), tint_(std::move(tint)), pixels_(pixels), knockout_(std::move(knockout))
    {
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, ratioFor(size));
    }

    QPixmap scaledPixmap(const QSize& /*size*/, QIcon::Mode mode, QIcon::State /*state*/, qreal scale) override
    {
        QPixmap normal = symbolPixmap(name_, tint_, pixels_, scale, knockout_);
        if (mode != QIcon::Disabled && mode != QIcon::Selected) {
            return normal;
        }
        QStyleOption option;
        option.palette = QApplication::palette();
        return QApplication::style()->generatedIconPixmap(mode, normal, &option);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, ratio));
    }

    // As an icon holding the 1x and 2x pixmaps would answer: the larger one once the size holds it.
    QSize actualSize(const QSize& size, QIcon::Mode /*mode*/, QIcon::State /*state*/) override
    {
        int side = size.width() >= 2 * pixels_ && size.height() >= 2 * pixels_ ? 2 * pixels_ : pixels_;
        return QSize(side, side).boundedTo(size);
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(*this); }

private:
    // The pixel ratio a pixmap of `size` device pixels has: whole ratios as a screen has them.
    qreal ratioFor(const QSize& size) const
    {
        return std::max<qreal>(1.0, std::round(qreal(std::min(size.width(), size.height())) / pixels_));
    }

    QString name_;
    QColor tint_;
    int pixels_;
    QColor knockout_;
};

} // namespace

QIcon symbolIcon(const QString& name, const QColor& tint, int pixels, const QColor& knockout)
{
    return QIcon(new SymbolIconEngine(name, tint, pixels, knockout));
}

} // namespace taskbell::app::look
