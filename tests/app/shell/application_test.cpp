#include <QApplication>
#include <QPointer>
#include <QTest>

#include "app/panel/content_view.h"
#include "app/panel/panel_fixture.h"
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

    void darkPaletteRebuildsThePanel()
    {
        PanelFixture f(false);
        TaskbellApp app(f.store.get(), f.updater.get());
        QPointer<ContentView> before = &app.content();
        QPalette saved = QApplication::palette();
        QPalette dark = saved;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
        QApplication::setPalette(dark);
        QVERIFY(QTest::qWaitFor([&] { return before.isNull(); }, 2000)); // replaced by a new one
        QCOMPARE(app.content().parentWidget(), &app.panel());
        QApplication::setPalette(saved);
    }
};

QTEST_MAIN(ApplicationTest)
#include "application_test.moc"
