#include "app/shell/tray_item.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <iostream>

#include "app/look/look.h"
#include "app/look/symbols.h"

namespace taskbell::app {

TrayItem::TrayItem(QObject* parent) : QObject(parent), icon_(new QSystemTrayIcon(this)), menu_(new QMenu)
{
    icon_->setIcon(iconFor({}));
    icon_->setToolTip(toolTip());
    menu_->addAction(tr("Show Tasks"), this, &TrayItem::clicked);
    menu_->addAction(tr("Settings…"), this, &TrayItem::showSettingsRequested);
    menu_->addSeparator();
    menu_->addAction(tr("Quit"), this, &TrayItem::quitRequested);
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            emit clicked();
        }
    });
}

TrayItem::~TrayItem()
{
    delete menu_;
}

void TrayItem::show()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::cerr << "taskbell: no system tray is running yet; the Taskbell icon appears when one starts.\n";
    }
    icon_->show();
}

void TrayItem::setLabel(const QString& label, const QString& note)
{
    if (label == label_ && note == note_) {
        return;
    }
    if (label != label_) {
        icon_->setIcon(iconFor(label));
    }
    label_ = label;
    note_ = note;
    icon_->setToolTip(toolTip());
}

void TrayItem::notify(const QString& message)
{
    lastNotification_ = message;
    icon_->showMessage(QStringLiteral("Taskbell"), message, QSystemTrayIcon::Information);
}

void TrayItem::refreshIcon()
{
    icon_->setIcon(iconFor(label_));
}

QString TrayItem::toolTip() const
{
    if (!label_.isEmpty()) {
        return label_;
    }
    return note_.isEmpty() ? QStringLiteral("Taskbell") : note_;
}

QRect TrayItem::geometry() const
{
    return icon_->geometry();
}

namespace {

// The tray icon drawn at the size the host asks for, when it asks: a start renders only the one it shows.
class TrayIconEngine : public QIconEngine
{
public:
    explicit TrayIconEngine(QString label) : label_(std::move(label)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        int pixels = std::max(1, std::min(size.width(), size.height()));
        auto found = drawn_.constFind(pixels);
        if (found == drawn_.constEnd()) {
            found = drawn_.insert(pixels, TrayItem::pixmapFor(label_, pixels));
        }
        return *found;
    }
    QIconEngine* clone() const override { return new TrayIconEngine(*this); }
    // The sizes a StatusNotifierItem host is sent.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }

private:
    QString label_;
    QHash<int, QPixmap> drawn_;
};

} // namespace

QIcon TrayItem::iconFor(const QString& label)
{
    return QIcon(new TrayIconEngine(label));
}

QPixmap TrayItem::pixmapFor(const QString& label, int pixels)
{
    QPalette palette = QApplication::palette();
    QPixmap pixmap = look::symbolPixmap("checklist", look::primary(palette), pixels);
    if (label.isEmpty()) {
        return pixmap;
    }
    // The count as a badge in the lower right corner, on the accent colour.
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPixelSize(std::max(7, pixels * 9 / 16));
    painter.setFont(font);
    QFontMetrics metrics(font);
    int height = metrics.height();
    int width = std::max(height, metrics.horizontalAdvance(label) + height / 2);
    QRect badge(pixels - width, pixels - height, width, height);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look::accent(palette));
    painter.drawRoundedRect(badge, height / 2.0, height / 2.0);
    painter.setPen(palette.color(QPalette::HighlightedText));
    painter.drawText(badge, Qt::AlignCenter, label);
    return pixmap;
}

} // namespace taskbell::app
