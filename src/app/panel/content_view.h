#pragma once

#include <QTimer>
#include <QWidget>

#include "app/panel/task_row.h"
#include "core/jira/task_filter.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;

namespace taskbell::app {

class AppStore;
class FilterTabs;
class TaskList;
class UpdateBanner;
class Updater;

// The panel's content: header, update banner, filter tabs and sections (or the not-configured prompt),
// and the footer. It follows the store and the updater; changes arriving together are shown together,
// once per turn of the event loop. What the user asks for beyond the store's actions leaves as a request
// signal, which the application connects.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    ContentView(AppStore& store, Updater& updater, QWidget* parent = nullptr);

    // Brings every part in line with the store and the updater now (normally done once per event-loop turn
    // after a change).
    void refresh();

    TaskFilter filter() const;

    // What a replacement view takes over (the panel is made again when the desktop switches between light
    // and dark): the tab, the scroll position and whether the first load was made.
    struct State
    {
        TaskFilter filter = TaskFilter::inProgress;
        int scroll = 0;
        bool loaded = false;
    };
    State state() const;
    void restore(const State& state);
    FilterTabs* filterTabs() const { return tabs_; }
    TaskList* taskList() const { return list_; }
    UpdateBanner* updateBanner() const { return banner_; }
    QScrollArea* scrollArea() const { return scroll_; }

signals:
    void addTaskRequested();
    void settingsRequested();
    void aboutRequested();
    void taskDetailRequested(const Issue& issue);
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makePrompt();
    QWidget* makeKeyringPrompt();
    void addPage(QWidget* page);
    QWidget* makeFooter();
    void scheduleRefresh();
    void considerFirstLoad();
    void ensureVisibleTransitions();

    AppStore& store_;
    Updater& updater_;
    bool hasLoaded_ = false;
    QTimer refreshTimer_;
    QTimer transitionsTimer_;
    int pendingScroll_ = -1; // a restored position, set once the list is that tall

    QLabel* userName_ = nullptr;
    QToolButton* add_ = nullptr;
    QToolButton* refresh_ = nullptr;
    QWidget* refreshBusy_ = nullptr;
    UpdateBanner* banner_ = nullptr;
    QWidget* bannerDivider_ = nullptr;
    FilterTabs* tabs_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    TaskList* list_ = nullptr;
    QWidget* prompt_ = nullptr;
    QWidget* keyringPrompt_ = nullptr;
    QLabel* keyringText_ = nullptr;
    QPushButton* retryToken_ = nullptr;
    QLabel* counts_ = nullptr;
};

} // namespace taskbell::app
