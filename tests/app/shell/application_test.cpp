#include <QApplication>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/panel_fixture.h"
#include "app/panel/task_list.h"
#include "app/shell/application.h"
#include "app/shell/panel_window.h"
#include "app/shell/tray_item.h"

using namespace taskbell;
using namespace taskbell::app;
using taskbell::test::PanelFixture;

class ApplicationTest : public QObject
{
    Q_OBJECT

private slots:
    void trayShowsTheIconAloneUntilConfigured()
    {
        PanelFixture f(false);
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
        PanelFixture f;
        TaskbellApp app(f.store.get(), f.updater.get());
        app.togglePanel();
        QVERIFY(app.panel().isVisible());
        QVERIFY(QTest::qWaitFor([&] { return f.jira.requests().size() >= 4; }, 10000)); // the first load
        app.windows().showSettings();
        QVERIFY(!app.panel().isVisible());
        QCOMPARE(app.windows().activationMode(), ActivationMode::regular);
        app.windows().settingsWindow()->close();
        QCOMPARE(app.windows().activationMode(), ActivationMode::accessory);
        QTest::qWait(400); // past the grace time in which a tray click only closes the panel
        app.togglePanel();
        QVERIFY(app.panel().isVisible());
        app.togglePanel();
        QVERIFY(!app.panel().isVisible());
    }

    void darkPaletteRebuildsThePanelAsItWas()
    {
        PanelFixture f;
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
};

QTEST_MAIN(ApplicationTest)
#include "application_test.moc"
