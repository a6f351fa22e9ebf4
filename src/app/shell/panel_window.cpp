#include "app/shell/panel_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace taskbell::app {

namespace {

constexpr int kGap = 4;
// A tray click within this time after the panel hid itself is the click that hid it.
constexpr qint64 kToggleGraceMs = 300;

int clampInto(int value, int low, int high)
{
    return std::max(low, std::min(value, high));
}

} // namespace

QRect panelGeometry(const QRect& available, const QRect& trayIcon, QSize preferred)
{
    QSize size = preferred.boundedTo(available.size());
    QPoint origin;
    if (trayIcon.isValid() && !trayIcon.isEmpty()) {
        bool below = trayIcon.center().y() < available.center().y();
        origin.setX(trayIcon.center().x() - size.width() / 2);
        origin.setY(below ? trayIcon.bottom() + 1 + kGap : trayIcon.top() - kGap - size.height());
    } else {
        origin = QPoint(available.right() + 1 - kGap - size.width(), available.top() + kGap);
    }
    origin.setX(clampInto(origin.x(), available.left(), available.right() + 1 - size.width()));
    origin.setY(clampInto(origin.y(), available.top(), available.bottom() + 1 - size.height()));
    return {origin, size};
}

PanelWindow::PanelWindow(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    setWindowTitle(QStringLiteral("Taskbell"));
    setAccessibleName(QStringLiteral("Taskbell"));
    setObjectName(QStringLiteral("panel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    resize(kPreferredSize);
}

void PanelWindow::setContent(QWidget* content)
{
    layout()->addWidget(content);
}

void PanelWindow::showAt(const QRect& trayIcon)
{
    QScreen* screen = nullptr;
    if (trayIcon.isValid()) {
        screen = QGuiApplication::screenAt(trayIcon.center());
    }
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    QRect available = screen != nullptr ? screen->availableGeometry() : QRect(QPoint(0, 0), kPreferredSize);
    setGeometry(panelGeometry(available, trayIcon, kPreferredSize));
    show();
    raise();
    activateWindow();
}

void PanelWindow::toggle(const QRect& trayIcon)
{
    if (isVisible()) {
        hide();
    } else if (!hiddenSince_.isValid() || hiddenSince_.elapsed() > kToggleGraceMs) {
        showAt(trayIcon);
    }
}

void PanelWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow()) {
        // A menu of the panel itself (a row's status menu) does not count as leaving it.
        QWidget* active = QApplication::activePopupWidget();
        if (active == nullptr) {
            hide();
        }
    }
}

void PanelWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    emit shown();
}

void PanelWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    hiddenSince_.start();
}

} // namespace taskbell::app
