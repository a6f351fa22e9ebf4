#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

#include "app/look/window_sizes.h"

namespace taskbell::app {

// Where the panel goes: its preferred size clamped to the screen's available area, centred under the
// tray icon (above it when the icon sits in the lower half of the screen), or in the top-right corner when
// the icon's geometry is unknown, always inside the available area.
QRect panelGeometry(const QRect& available, const QRect& trayIcon, QSize preferred);

// The window of the menu-bar panel: frameless, without a taskbar entry (a tool window, so assistive
// technology sees it as a child of the application), titled "Taskbell". It hides again when it loses
// activation or Escape is pressed.
class PanelWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize kPreferredSize = windowSize::panel;

    explicit PanelWindow(QWidget* parent = nullptr);

    void setContent(QWidget* content);
    // Shows the panel placed for the tray icon at `trayIcon` (empty when unknown) and activates it.
    void showAt(const QRect& trayIcon);
    // What a click on the tray icon does: hide when shown, show otherwise. A click that itself took the
    // activation away (and so hid the panel a moment ago) does not open it again.
    void toggle(const QRect& trayIcon);

signals:
    // Every time the panel is shown.
    void shown();

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QElapsedTimer hiddenSince_;
};

} // namespace taskbell::app
