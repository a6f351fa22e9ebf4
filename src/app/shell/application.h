#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "app/shell/aux_windows.h"
#include "core/activity/entry.h"

namespace taskbell::app {

class AppStore;
class ContentView;
class PanelWindow;
class TrayItem;
class Updater;

// The desktop application: owns the store and the updater for the whole run, the tray item, its panel and
// the window manager, and wires them together.
class TaskbellApp : public QObject
{
    Q_OBJECT

public:
    // Builds the application around an existing store and updater (tests pass their own).
    TaskbellApp(AppStore* store, Updater* updater, QObject* parent = nullptr);
    ~TaskbellApp() override;

    // Shows the tray item; the application then runs in accessory mode until a window opens.
    void start();
    // A later start of the program asked for the panel.
    void showPanel();
    void togglePanel();

    AppStore& store() { return *store_; }
    Updater& updater() { return *updater_; }
    AuxWindows& windows() { return *windows_; }
    TrayItem& tray() { return *tray_; }
    // The panel and its content, made on first use.
    PanelWindow& panel();
    ContentView& content();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeContent();
    void updateTray();
    // A desktop notification for each change an assistant made, while the settings ask for them.
    void notifyActivity(const std::vector<Activity::Entry>& entries);

    AppStore* store_;
    Updater* updater_;
    std::unique_ptr<AuxWindows> windows_;
    TrayItem* tray_;
    std::unique_ptr<PanelWindow> panel_;
    ContentView* content_ = nullptr;
    bool rowResourcesPrepared_ = false;
};

// Runs the desktop application until it quits; returns the process exit status.
int runApplication(int argc, char** argv);

} // namespace taskbell::app
