#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "app/app_fixture.h"
#include "app/look/error_banner.h"
#include "app/panel/activity_group.h"
#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/task_list.h"
#include "app/shell/application.h"
#include "app/shell/panel_window.h"
#include "app/shell/tray_item.h"
#include "child_process.h"
#include "core/platform/keychain.h"

using namespace taskbell;
using namespace taskbell::app;
using taskbell::test::AppFixture;
using namespace std::chrono_literals;

namespace {

// The app beside a real `taskbell --mcp` server configured for the same fake site, sharing its journal. The
// site's search lags a minute behind writes, so only reconciled searches show an assistant's change.
struct AssistantFixture : AppFixture
{
    test::TempDir home;
    TaskbellApp app{store.get(), updater.get()};

    AssistantFixture()
    {
        test::writeFile(home / "com.quillet.taskbell" / "settings.json",
                        Json{{"baseURL", jira.baseUrl()}, {"email", jira.email()}}.dump());
        Keychain::set(jira.token(), Keychain::kTokenAccount);
        store->activity().watch(Activity::Journal(home / "state" / "taskbell"));
        jira.setSearchLag(60s);
    }
    ~AssistantFixture() { Keychain::set("", Keychain::kTokenAccount); }

    // One tool call through a fresh server process; the answer line.
    std::string call(const std::string& tool, const Json& arguments)
    {
        test::ChildProcess child({TASKBELL_EXE, "--mcp"}, {{"XDG_CONFIG_HOME", home.path().string()},
                                                           {"XDG_STATE_HOME", (home / "state").string()}});
        Json request{{"jsonrpc", "2.0"},
                     {"id", 1},
                     {"method", "tools/call"},
                     {"params", {{"name", tool}, {"arguments", arguments}}}};
        child.write(request.dump() + "\n");
        std::optional<std::string> line = child.readLine();
        child.closeInput();
        child.wait();
        return line.value_or("");
    }

    ActivityGroup* group() { return app.content().findChild<ActivityGroup*>(); }
    // The text of the newest entry, and its action button.
    QString newestText()
    {
        auto* text = group()->findChild<QToolButton*>("activityText");
        return text != nullptr ? text->accessibleName() : QString();
    }
    QToolButton* newestAction(const char* name) { return group()->findChild<QToolButton*>(name); }
};

} // namespace

class ApplicationTest : public QObject
{
    Q_OBJECT

private slots:
    void trayShowsTheIconAloneUntilConfigured()
    {
        AppFixture f(false);
        TaskbellApp app(f.store.get(), f.updater.get());
        QCOMPARE(app.tray().label(), QString());
        f.configure();
        QCOMPARE(app.tray().label(), QStringLiteral("0")); // configured, nothing in progress yet
        f.addIssue("One", "3");
        f.addIssue("Two", "3");
        QVERIFY(f.load());
        QCOMPARE(app.tray().label(), QStringLiteral("2"));
        QCOMPARE(app.tray().toolTip(), QStringLiteral("2"));
    }

    void panelTogglesAndAWindowClosesIt()
    {
        AppFixture f;
        TaskbellApp app(f.store.get(), f.updater.get());
        app.togglePanel();
        QVERIFY(app.panel().isVisible());
        QVERIFY(QTest::qWaitFor([&] { return f.jira.requests().size() >= 4; }, 10000)); // the first load
        app.windows().showSettings();
        QVERIFY(!app.panel().isVisible());
        app.windows().settingsWindow()->close();
        QTest::qWait(400); // past the grace time in which a tray click only closes the panel
        app.togglePanel();
        QVERIFY(app.panel().isVisible());
        app.togglePanel();
        QVERIFY(!app.panel().isVisible());
    }

    void darkPaletteRebuildsThePanelAsItWas()
    {
        AppFixture f;
        for (int i = 0; i < 60; ++i) {
            f.addIssue("Task " + std::to_string(i), "3");
        }
        TaskbellApp app(f.store.get(), f.updater.get());
        app.togglePanel();
        QVERIFY(QTest::qWaitFor([&] { return f.store->inProgress().size() == 60; }, 10000));
        QCoreApplication::processEvents();
        app.content().filterTabs()->button(TaskFilter::all)->toggle();
        QScrollBar* bar = app.content().scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        int position = bar->value();
        auto loads = [&] { return f.jira.requests("GET", "/rest/api/3/myself").size(); }; // one per load
        std::size_t loaded = loads();

        QPointer<ContentView> before = &app.content();
        QPalette saved = QApplication::palette();
        QPalette dark = saved;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
        QApplication::setPalette(dark);
        QVERIFY(QTest::qWaitFor([&] { return before.isNull(); }, 2000)); // replaced by a new one
        QCOMPARE(app.content().parentWidget(), &app.panel());
        QCOMPARE(app.content().palette().color(QPalette::Window), QColor(30, 30, 30));
        QCOMPARE(app.content().filter(), TaskFilter::all);
        QVERIFY(QTest::qWaitFor([&] { return app.content().scrollArea()->verticalScrollBar()->value() == position; },
                                2000));
        QVERIFY(!app.content().taskList()->shownRows().empty());
        QTest::qWait(50);
        QCOMPARE(loads(), loaded); // nothing loaded again
        QApplication::setPalette(saved);
    }

    // An assistant's move reaches the tray, the panel and a notification without a refresh; Undo moves it back
    // and the entry stays "Undone" for a later run. Notifications follow the setting.
    void assistantMoveShowsAtOnceAndUndoes()
    {
        AssistantFixture f;
        std::string key = f.addIssue("Write notes", "10000");
        QVERIFY(f.load());
        QVERIFY(f.group()->isHidden());
        f.call("set_status", {{"issueKey", key}, {"status", "in_progress"}});
        QTRY_COMPARE_WITH_TIMEOUT(f.app.tray().label(), QStringLiteral("1"), 5000);
        QVERIFY(!f.group()->isHidden());
        QString moved = QString::fromStdString("Moved " + key + " to In Progress");
        QCOMPARE(f.newestText(), moved);
        QCOMPARE(f.group()->findChild<QLabel*>("activityAge")->text(), QStringLiteral("just now"));
        QCOMPARE(f.app.tray().lastNotification(),
                 QString::fromStdString("Your assistant moved " + key + " to In Progress"));

        f.newestAction("activityUndo")->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.app.tray().label(), QStringLiteral("0"), 5000);
        QCOMPARE(f.jira.issue(key)->statusId, std::string("10000"));
        QTRY_VERIFY(f.group()->findChild<QLabel*>("activityUndone") != nullptr);
        AppStore later(f.settings(), Timing{}, QString::fromStdString(f.jira.token()));
        later.activity().watch(*f.store->activity().journal());
        QVERIFY(later.activity().shown().front().undone);

        AppSettings quiet = f.siteSettings();
        quiet.notifyAssistantChanges = false;
        QVERIFY(f.store->saveSettings(quiet, std::nullopt));
        f.call("set_status", {{"issueKey", key}, {"status", "done"}});
        QTRY_COMPARE_WITH_TIMEOUT(f.newestText(), QString::fromStdString("Moved " + key + " to Done"), 5000);
        QCOMPARE(f.app.tray().lastNotification(),
                 QString::fromStdString("Your assistant moved " + key + " to In Progress"));

        f.group()->findChild<QToolButton*>("clearActivity")->click();
        QVERIFY(f.group()->isHidden());
    }

    // Undo of an edit restores what the assistant overwrote, but never over a later edit by someone else.
    void assistantEditUndoes()
    {
        AssistantFixture f;
        std::string key = f.addIssue("Write notes", "3");
        QVERIFY(f.load());
        f.call("update_task", {{"issueKey", key}, {"summary", "Assistant's title"}});
        QString changed = QString::fromStdString("Changed the summary of " + key);
        QTRY_COMPARE_WITH_TIMEOUT(f.newestText(), changed, 5000);
        f.newestAction("activityUndo")->click();
        QTRY_VERIFY(f.group()->findChild<QLabel*>("activityUndone") != nullptr);
        QCOMPARE(f.jira.issue(key)->summary, std::string("Write notes"));
        f.group()->findChild<QToolButton*>("activityText")->click(); // the text opens the detail window
        QVERIFY(f.app.windows().detailWindow(QString::fromStdString(key)) != nullptr);

        f.call("update_task", {{"issueKey", key}, {"summary", "Assistant's title"}});
        QTRY_VERIFY_WITH_TIMEOUT(f.newestAction("activityUndo") != nullptr, 5000);
        JiraClient{f.store->config()}.updateIssue(key, "Someone's title", std::nullopt);
        f.newestAction("activityUndo")->click();
        auto* banner = f.app.content().findChild<ErrorBanner*>();
        QTRY_COMPARE(banner->message(),
                     QString::fromStdString(key + " changed since the assistant's edit; nothing was undone."));
        QCOMPARE(f.jira.issue(key)->summary, std::string("Someone's title"));
    }
};

QTEST_MAIN(ApplicationTest)
#include "application_test.moc"
