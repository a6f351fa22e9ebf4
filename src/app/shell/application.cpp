#include "app/shell/application.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <iostream>
#include <optional>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/model/app_store.h"
#include "app/model/text.h"
#include "app/model/updater.h"
#include "app/panel/content_view.h"
#include "app/panel/task_row.h"
#include "app/shell/display_check.h"
#include "app/shell/panel_window.h"
#include "app/shell/single_instance.h"
#include "app/shell/tray_item.h"
#include "app/windows/window_contents.h"

namespace taskbell::app {

TaskbellApp::TaskbellApp(AppStore* store, Updater* updater, QObject* parent)
    : QObject(parent), store_(store), updater_(updater), tray_(new TrayItem(this))
{
    windows_ = std::make_unique<AuxWindows>(windowContents(*store_, *updater_));

    connect(tray_, &TrayItem::clicked, this, &TaskbellApp::togglePanel);
    connect(tray_, &TrayItem::showSettingsRequested, windows_.get(), &AuxWindows::showSettings);
    connect(tray_, &TrayItem::quitRequested, qApp, &QCoreApplication::quit);
    for (auto signal : {&AppStore::tasksChanged, &AppStore::settingsChanged, &AppStore::stateChanged}) {
        connect(store_, signal, this, &TaskbellApp::updateTray);
    }
    connect(&store_->activity(), &ActivityLog::entriesAdded, this, &TaskbellApp::notifyActivity);
    updateTray();
    qApp->installEventFilter(this);
#if defined(__GLIBC__)
    // A load decodes hundreds of issues on pool threads; hand the freed arenas back to the system once the
    // panel has been rebuilt, so the idle application stays small.
    connect(store_, &AppStore::loadFinished, this, [] { QTimer::singleShot(0, [] { malloc_trim(0); }); });
#endif
    // Once issues are loaded and while the panel has never been opened, what its first frame draws is
    // prepared, so that opening it is quick.
    connect(store_, &AppStore::loadFinished, this, [this](bool, bool succeeded) {
        if (succeeded && !panel_ && !rowResourcesPrepared_) {
            rowResourcesPrepared_ = true;
            QTimer::singleShot(0, this, [this] {
                if (!panel_) {
                    prepareRowResources(*store_);
                }
            });
        }
    });
}

TaskbellApp::~TaskbellApp() = default;

// The panel is made when it is first wanted: a start shows the tray icon alone.
PanelWindow& TaskbellApp::panel()
{
    if (!panel_) {
        panel_ = std::make_unique<PanelWindow>();
        windows_->setMenuBarPanel(panel_.get());
        // Each showing of the panel (re)arms the updater with the saved feed and flag.
        connect(panel_.get(), &PanelWindow::shown, this,
                [this] { updater_->start(qs(store_->settings().updateFeedURL), store_->settings().autoUpdate); });
        makeContent();
    }
    return *panel_;
}

ContentView& TaskbellApp::content()
{
    panel();
    return *content_;
}

void TaskbellApp::makeContent()
{
    std::optional<ContentView::State> state;
    if (content_ != nullptr) {
        state = content_->state();
    }
    delete content_;
    content_ = new ContentView(*store_, *updater_);
    if (state) {
        content_->restore(*state);
    }
    // What the panel asks for, in one place with the tray item's requests above.
    AuxWindows* windows = windows_.get();
    connect(content_, &ContentView::addTaskRequested, windows, &AuxWindows::showAddTask);
    connect(content_, &ContentView::settingsRequested, windows, &AuxWindows::showSettings);
    connect(content_, &ContentView::aboutRequested, windows, &AuxWindows::showAbout);
    connect(content_, &ContentView::taskDetailRequested, windows, &AuxWindows::showTaskDetail);
    connect(content_, &ContentView::quitRequested, qApp, &QCoreApplication::quit);
    panel_->setContent(content_);
}

bool TaskbellApp::eventFilter(QObject* watched, QEvent* event)
{
    // The desktop switched between light and dark: colours and tinted symbols are chosen when the panel is
    // built, so it is built again, on the same tab and scroll position, without loading again.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        QTimer::singleShot(0, this, [this] {
            if (panel_) {
                makeContent();
            }
            tray_->refreshIcon();
        });
    }
    return QObject::eventFilter(watched, event);
}

void TaskbellApp::start()
{
    tray_->show();
}

void TaskbellApp::showPanel()
{
    panel().showAt(tray_->geometry());
}

void TaskbellApp::togglePanel()
{
    panel().toggle(tray_->geometry());
}

void TaskbellApp::updateTray()
{
    // While the token is still on its way the icon stands alone, but does not say it is not configured.
    tray_->setLabel(store_->menuBarLabel(),
                    store_->isTokenPending() ? tr("Taskbell — reading your API token…") : QString());
}

void TaskbellApp::notifyActivity(const std::vector<Activity::Entry>& entries)
{
    if (!store_->settings().notifyAssistantChanges) {
        return;
    }
    for (const Activity::Entry& entry : entries) {
        tray_->notify(qs(Activity::notificationText(entry)));
    }
}

int runApplication(int argc, char** argv)
{
    if (auto reason = missingDisplayReason()) {
        std::cerr << "taskbell: " << reason->toStdString() << ".\n";
        return 1;
    }
    QApplication application(argc, argv);
    // The name is the tray item's title in StatusNotifierItem hosts (KDE, AppIndicator, waybar).
    QApplication::setApplicationName(QStringLiteral("Taskbell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Taskbell"));
    QApplication::setOrganizationDomain(QStringLiteral("quillet.com"));
    QApplication::setDesktopFileName(QStringLiteral("com.quillet.taskbell"));
    // The texts come from the catalogue of the user's language where there is one (English is built in).
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("taskbell"), QStringLiteral("_"), QStringLiteral(":/i18n"))) {
        QApplication::installTranslator(&translator);
    }
    // Closing the last window leaves the tray item running.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (!instance.claim()) {
        return 0; // the running instance shows its panel
    }
    // The token is read on the pool: a slow or stalled keyring must not hold up the tray icon.
    AppStore store(SettingsStore(), Timing{}, AppStore::TokenRead::inBackground);
    store.activity().watch(Activity::Journal());
    Updater updater;
    TaskbellApp app(&store, &updater);
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, &TaskbellApp::showPanel);
    app.start();
    return QApplication::exec();
}

} // namespace taskbell::app
