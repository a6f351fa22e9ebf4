#pragma once

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace taskbell::app {

// The menu-bar item on a Linux desktop: a status-area icon showing the "checklist" symbol, with the In
// Progress count painted on it as a badge and given as its tooltip. A click toggles the panel.
class TrayItem : public QObject
{
    Q_OBJECT

public:
    explicit TrayItem(QObject* parent = nullptr);
    ~TrayItem() override;

    // Shows the icon; says once on standard error when no status-area host runs yet (the icon appears
    // as soon as one starts).
    void show();
    // The menu-bar label: the In Progress count, or empty for the icon alone; `note` is the tooltip of an
    // icon alone ("Taskbell" when empty).
    void setLabel(const QString& label, const QString& note = {});
    const QString& label() const { return label_; }
    // A desktop notification from the icon (freedesktop Notifications where the desktop has them).
    void notify(const QString& message);
    // The text of the last notification shown; empty before the first.
    const QString& lastNotification() const { return lastNotification_; }
    // Draws the icon again (after the desktop's palette changed).
    void refreshIcon();
    QString toolTip() const;
    // Where the icon is on the screen; empty when the host does not say.
    QRect geometry() const;
    // The icon as drawn for a label, at the given size in pixels.
    static QIcon iconFor(const QString& label);
    static QPixmap pixmapFor(const QString& label, int pixels);

signals:
    void clicked();
    void showSettingsRequested();
    void quitRequested();

private:
    QSystemTrayIcon* icon_;
    QMenu* menu_;
    QString label_;
    QString note_;
    QString lastNotification_;
};

} // namespace taskbell::app
