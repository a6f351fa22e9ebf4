#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "app/app_fixture.h"
#include "app/look/error_banner.h"
#include "app/look/spinner.h"
#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/section_views.h"
#include "app/panel/task_list.h"
#include "app/panel/update_banner.h"
#include "core/jira/month_group.h"

using namespace taskbell;
using namespace taskbell::app;
using taskbell::test::AppFixture;

namespace {

QStringList visibleTexts(QWidget* root)
{
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty()) {
            texts << label->text();
        }
    }
    return texts;
}

QAbstractButton* button(QWidget* root, const QString& name)
{
    for (QAbstractButton* candidate : root->findChildren<QAbstractButton*>()) {
        if (candidate->accessibleName() == name) {
            return candidate;
        }
    }
    return nullptr;
}

bool shown(QWidget* root, const QString& buttonName)
{
    QAbstractButton* found = button(root, buttonName);
    return found != nullptr && found->isVisibleTo(root);
}

struct Panel
{
    AppFixture fixture;
    QStringList calls;
    ContentView view;

    explicit Panel(bool configured = true) : fixture(configured), view(*fixture.store, *fixture.updater)
    {
        view.resize(560, 870);
        // The requests the view sends up, in order.
        QObject::connect(&view, &ContentView::addTaskRequested, [this] { calls << "addTask"; });
        QObject::connect(&view, &ContentView::settingsRequested, [this] { calls << "settings"; });
        QObject::connect(&view, &ContentView::aboutRequested, [this] { calls << "about"; });
        QObject::connect(&view, &ContentView::quitRequested, [this] { calls << "quit"; });
        QObject::connect(&view, &ContentView::taskDetailRequested,
                         [this](const Issue& issue) { calls << QString::fromStdString("detail " + issue.key); });
    }

    // Shows the panel and waits for its first load.
    bool open()
    {
        QSignalSpy finished(fixture.store.get(), &AppStore::loadFinished);
        view.show();
        return finished.wait(10000);
    }

    void settle()
    {
        QCoreApplication::processEvents();
        view.refresh();
    }
};

} // namespace

class ContentViewTest : public QObject
{
    Q_OBJECT

private slots:
    void unconfiguredShowsOnlyThePrompt()
    {
        Panel panel(false);
        panel.view.show();
        panel.settle();
        QVERIFY(panel.view.findChild<QWidget*>("notConfigured")->isVisibleTo(&panel.view));
        QVERIFY(!panel.view.filterTabs()->isVisibleTo(&panel.view));
        QVERIFY(!panel.view.scrollArea()->isVisibleTo(&panel.view));
        QVERIFY(!shown(&panel.view, "Add task"));
        QVERIFY(!shown(&panel.view, "Refresh"));
        for (const char* name : {"Settings", "Quit", "Open Settings"}) {
            QVERIFY2(shown(&panel.view, name), name);
        }
        QVERIFY(!visibleTexts(&panel.view).join(' ').contains("backlog")); // no footer count
        QVERIFY(panel.fixture.jira.requests().empty());
    }

    void buttonsLeadToTheirActions()
    {
        struct Case
        {
            const char* button;
            const char* call;
        };
        const Case cases[] = {{"Add task", "addTask"}, {"Settings", "settings"}, {"Quit", "quit"}};
        Panel panel;
        QVERIFY(panel.open());
        for (const Case& test : cases) {
            panel.calls.clear();
            button(&panel.view, test.button)->click();
            QCOMPARE(panel.calls, QStringList{test.call});
        }
        QToolButton* version = nullptr;
        for (QToolButton* candidate : panel.view.findChildren<QToolButton*>()) {
            if (candidate->text().startsWith('v')) {
                version = candidate;
            }
        }
        QVERIFY(version != nullptr);
        panel.calls.clear();
        version->click();
        QCOMPARE(panel.calls, QStringList{"about"});
    }

    void freshSiteShowsLoadingThenTheHints()
    {
        Panel panel;
        panel.fixture.jira.setDelay(std::chrono::milliseconds(300));
        panel.view.show();
        panel.settle();
        QCOMPARE(panel.view.filter(), TaskFilter::inProgress);
        QVERIFY(visibleTexts(panel.view.taskList()).contains(QStringLiteral("Loading…")));
        QVERIFY(!shown(&panel.view, "Refresh"));
        QVERIFY(panel.view.findChild<look::Spinner*>()->isVisibleTo(&panel.view));
        QSignalSpy finished(panel.fixture.store.get(), &AppStore::loadFinished);
        QVERIFY(finished.wait(10000));
        panel.settle();
        QCOMPARE(visibleTexts(panel.view.taskList()), QStringList{"Nothing in progress right now."});
        QVERIFY(shown(&panel.view, "Refresh"));

        std::size_t requests = panel.fixture.jira.requests().size();
        panel.view.filterTabs()->button(TaskFilter::all)->toggle();
        QStringList all = visibleTexts(panel.view.taskList());
        for (const char* text : {"Backlog", "In Progress", "Done", "Nothing in the backlog.",
                                 "Nothing in progress right now.", "No completed tasks in this period."}) {
            QVERIFY2(all.contains(text), text);
        }
        QCOMPARE(all.count("0"), 3);
        QCOMPARE(panel.fixture.jira.requests().size(), requests); // switching tabs never loads
    }

    void sectionsTabsAndFooterCount()
    {
        Panel panel;
        AppFixture& f = panel.fixture;
        f.addIssue("Backlog one", "10000");
        f.addIssue("Backlog two", "10000");
        for (int i = 0; i < 3; ++i) {
            f.addIssue("Active " + std::to_string(i), "3");
        }
        auto now = std::chrono::system_clock::now();
        auto millis = [](auto time) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
        };
        test::FakeIssue earlier;
        earlier.resolutiondate = f.jira.timestamp(millis(now - std::chrono::hours(24 * 35)));
        f.addIssue("Finished earlier", "10002", earlier);
        f.addIssue("Finished now", "10002");
        QVERIFY(panel.open());
        panel.settle();

        struct Tab
        {
            TaskFilter filter;
            const char* label;
            int rows;
            int headers;
        };
        const Tab tabs[] = {{TaskFilter::all, "All 7", 7, 3},
                            {TaskFilter::backlog, "Backlog 2", 2, 0},
                            {TaskFilter::inProgress, "In Progress 3", 3, 0},
                            {TaskFilter::done, "Done 2", 2, 0}};
        for (const Tab& tab : tabs) {
            QToolButton* segment = panel.view.filterTabs()->button(tab.filter);
            segment->toggle();
            // A radio button to assistive technology, named with its label, checked now.
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(segment);
            QCOMPARE(accessible->role(), QAccessible::RadioButton);
            QCOMPARE(accessible->text(QAccessible::Name), QString(tab.label));
            QVERIFY(accessible->state().checked);
            QCOMPARE(int(panel.view.taskList()->shownRows().size()), tab.rows);
            int headers = 0;
            for (QWidget* widget : panel.view.taskList()->shownWidgets()) {
                headers += qobject_cast<SectionHeader*>(widget) != nullptr;
            }
            QCOMPARE(headers, tab.headers);
        }
        QVERIFY(!panel.view.filterTabs()->button(TaskFilter::all)->isChecked()); // one tab checked at a time
        // Done is grouped by month, newest first, each group's label before its rows.
        auto groups = f.store->doneByMonth();
        QCOMPARE(groups.size(), std::size_t(2));
        QStringList order;
        for (QWidget* widget : panel.view.taskList()->shownWidgets()) {
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                order << label->text();
            } else if (auto* row = qobject_cast<TaskRow*>(widget)) {
                order << QString::fromStdString(*row->issue().fields.summary);
            }
        }
        QCOMPARE(order, (QStringList{QString::fromStdString(groups[0].label), "Finished now",
                                     QString::fromStdString(groups[1].label), "Finished earlier"}));
        QVERIFY(visibleTexts(&panel.view).contains(QStringLiteral("2 backlog \u00B7 3 active \u00B7 2 done")));
        QVERIFY(visibleTexts(&panel.view).contains(QStringLiteral("Ana Pereira")));
    }

    void rowsAreMadeOnlyNearTheViewport()
    {
        Panel panel;
        for (int i = 0; i < 200; ++i) {
            panel.fixture.addIssue("Task " + std::to_string(i), "3");
        }
        QVERIFY(panel.open());
        panel.settle();
        TaskList* list = panel.view.taskList();
        const std::vector<Issue>& issues = panel.fixture.store->inProgress();
        std::size_t made = list->rowCount();
        QVERIFY2(made > 0 && made < 40, QByteArray::number(qulonglong(made)));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(list);
        QCOMPARE(accessible->role(), QAccessible::List);
        QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("200 tasks"));

        // The scroll range spans every row from the first frame; its end shows the last issue.
        QScrollBar* bar = panel.view.scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QCOMPARE(list->shownRows().back()->issue().key, issues.back().key);
        QVERIFY(list->shownRows().back()->isVisibleTo(&panel.view));
        QCOMPARE(list->rowCount(), made);

        // A reload keeps the position and the rows on screen.
        bar->setValue(bar->maximum() / 2);
        std::vector<TaskRow*> before = list->shownRows();
        QVERIFY(panel.fixture.load(true));
        panel.settle();
        QCOMPARE(bar->value(), bar->maximum() / 2);
        QCOMPARE(list->shownRows(), before);
    }

    void keyboardReachesEveryIssue()
    {
        Panel panel;
        for (int i = 0; i < 60; ++i) {
            panel.fixture.addIssue("Task " + std::to_string(i), "3");
        }
        QVERIFY(panel.open());
        panel.settle();
        QApplication::setActiveWindow(&panel.view);
        QVERIFY(QTest::qWaitForWindowActive(&panel.view));
        TaskList* list = panel.view.taskList();
        const std::vector<Issue>& issues = panel.fixture.store->inProgress();
        auto focusedKey = [] {
            for (QWidget* widget = QApplication::focusWidget(); widget != nullptr; widget = widget->parentWidget()) {
                if (auto* row = qobject_cast<TaskRow*>(widget)) {
                    return row->issue().key;
                }
            }
            return std::string();
        };
        struct Case
        {
            const char* name;
            Qt::Key key;
            int pressesPerRow;
        };
        for (const Case& test : {Case{"Tab", Qt::Key_Tab, 4}, Case{"Down", Qt::Key_Down, 1}}) {
            panel.view.scrollArea()->verticalScrollBar()->setValue(0);
            // Tab from the last tab enters the list at its first row.
            QWidget* lastTab = panel.view.filterTabs()->button(TaskFilter::done);
            lastTab->setFocus(Qt::TabFocusReason);
            QTest::keyClick(lastTab, Qt::Key_Tab);
            QCOMPARE(focusedKey(), issues.front().key);
            std::vector<std::string> reached{focusedKey()};
            for (int press = 0; press < int(issues.size()) * test.pressesPerRow; ++press) {
                QTest::keyClick(QApplication::focusWidget(), test.key);
                if (focusedKey() != reached.back() && !focusedKey().empty()) {
                    reached.push_back(focusedKey());
                }
            }
            QCOMPARE(int(reached.size()), int(issues.size()));
            QCOMPARE(reached.back(), issues.back().key);
            QVERIFY2(list->rowCount() < issues.size() / 2, test.name);
        }
    }

    void dateLineFollowsReloadsAndTheDayChange()
    {
        AppFixture f;
        auto at = [](int day, int hour, int minute, int second, int ms) {
            qint64 epoch = QDateTime(QDate(2026, 3, day), QTime(hour, minute, second, ms)).toMSecsSinceEpoch();
            return std::chrono::system_clock::time_point(std::chrono::milliseconds(epoch));
        };
        test::FakeIssue dated;
        dated.created = f.jira.timestamp(
            std::chrono::duration_cast<std::chrono::milliseconds>(at(10, 12, 0, 0, 0).time_since_epoch()).count());
        f.addIssue("Dated", "3", dated);
        QVERIFY(f.load());
        auto now = std::make_shared<std::chrono::system_clock::time_point>(at(10, 23, 59, 59, 950));
        RowContext context;
        context.store = f.store.get();
        context.now = [now] { return *now; };
        QScrollArea area;
        auto* list = new TaskList(*f.store, context);
        area.setWidget(list);
        area.setWidgetResizable(true);
        area.resize(560, 600);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        list->rebuild();
        auto dateLine = [list] {
            if (list->shownRows().empty()) {
                return QString();
            }
            for (QLabel* label : list->shownRows().front()->findChildren<QLabel*>()) {
                if (label->text().contains(u'\u00B7')) {
                    return label->text();
                }
            }
            return QString();
        };
        QVERIFY2(dateLine().endsWith(" today"), qPrintable(dateLine()));
        *now = at(11, 0, 30, 0, 0); // midnight passes with the panel open
        QVERIFY(QTest::qWaitFor([&] { return dateLine().endsWith(" yesterday"); }, 2000));
        *now = at(12, 9, 0, 0, 0); // a reload of the unchanged issue the next morning
        QVERIFY(f.load(true));
        list->rebuild();
        QVERIFY2(dateLine().endsWith(" 2 days ago"), qPrintable(dateLine()));
    }

    void errorBannerStaysUntilASilentLoadSucceeds()
    {
        Panel panel;
        panel.fixture.addIssue("Kept on screen", "3");
        QVERIFY(panel.open());
        panel.fixture.revokeToken(true);
        QVERIFY(panel.fixture.load(false));
        panel.settle();
        auto* banner = panel.view.findChild<ErrorBanner*>();
        QVERIFY(banner->isVisibleTo(&panel.view));
        QCOMPARE(banner->message(), *panel.fixture.store->errorMessage());
        QCOMPARE(panel.view.taskList()->shownRows().size(), std::size_t(1));

        // A manual refresh leaves it, a silent failure changes nothing at all, a silent success clears it.
        panel.fixture.revokeToken(false);
        QVERIFY(panel.fixture.load(false));
        panel.settle();
        QVERIFY(banner->isVisibleTo(&panel.view));
        panel.fixture.revokeToken(true);
        QSignalSpy state(panel.fixture.store.get(), &AppStore::stateChanged);
        QSignalSpy tasks(panel.fixture.store.get(), &AppStore::tasksChanged);
        QVERIFY(panel.fixture.load(true));
        QCOMPARE(state.count() + tasks.count(), 0);
        panel.fixture.revokeToken(false);
        QVERIFY(panel.fixture.load(true));
        panel.settle();
        QVERIFY(!banner->isVisibleTo(&panel.view));
    }

    void updateBannerFollowsTheOfferAndLater()
    {
        Panel panel;
        QVERIFY(panel.open());
        panel.settle();
        UpdateBanner* banner = panel.view.updateBanner();
        QVERIFY(!banner->isVisibleTo(&panel.view));
        QVERIFY(panel.fixture.offerUpdate("9.9.9"));
        panel.settle();
        QVERIFY(banner->isVisibleTo(&panel.view));
        QCOMPARE(banner->title()->text(), QStringLiteral("Version 9.9.9 is available"));
        QVERIFY(banner->installButton()->isEnabled());
        QVERIFY(shown(banner, "What's new"));
        panel.calls.clear();
        button(banner, "What's new")->click();
        QCOMPARE(panel.calls, QStringList{"about"});

        button(banner, "Later")->click();
        panel.settle();
        QVERIFY(!banner->isVisibleTo(&panel.view));
        QVERIFY(panel.fixture.offerUpdate("9.9.9"));
        panel.settle();
        QVERIFY(!banner->isVisibleTo(&panel.view)); // the dismissed version stays hidden
    }
};

QTEST_MAIN(ContentViewTest)
#include "content_view_test.moc"
