#include <QApplication>
#include <QTest>

#include "app/app_fixture.h"
#include "app/model/updater.h"
#include "app/windows/window_contents.h"

using namespace taskbell;
using namespace taskbell::app;

// The four contents in the real window manager: titles and sizes of the window table, and the keys that
// close a window doing so through the manager's bookkeeping.
class HostedWindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void windowsTakeTheirTitlesAndSizesAndCloseByKey();
};

void HostedWindowsTest::windowsTakeTheirTitlesAndSizesAndCloseByKey()
{
    test::AppFixture fixture;
    Updater updater;
    AuxWindows windows(windowContents(*fixture.store, updater));
    struct Case
    {
        std::function<void()> open;
        std::function<QDialog*()> window;
        const char* title;
        QSize size;
        Qt::Key closingKey;
    };
    const Issue issue{"1", "TB-7", {}};
    const Case cases[] = {
        {[&] { windows.showSettings(); },
         [&] { return windows.settingsWindow(); },
         "Taskbell Settings",
         {400, 620},
         Qt::Key_Escape},
        {[&] { windows.showAddTask(); },
         [&] { return windows.addTaskWindow(); },
         "New Jira Task",
         {400, 520},
         Qt::Key_Escape},
        {[&] { windows.showAbout(); },
         [&] { return windows.aboutWindow(); },
         "About Taskbell",
         {420, 440},
         Qt::Key_Return},
        {[&] { windows.showTaskDetail(issue); },
         [&] { return windows.detailWindow("TB-7"); },
         "TB-7",
         {520, 560},
         Qt::Key_Return},
    };
    for (const Case& c : cases) {
        c.open();
        QDialog* window = c.window();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QString(c.title));
        QCOMPARE(window->size(), c.size);
        QCOMPARE(windows.activationMode(), ActivationMode::regular);
        QWidget* focus = window->focusWidget();
        QVERIFY2(focus, c.title);
        QTest::keyClick(focus, c.closingKey);
        QVERIFY2(!c.window(), c.title);
        QCOMPARE(windows.activationMode(), ActivationMode::accessory);
    }
}

QTEST_MAIN(HostedWindowsTest)
#include "hosted_windows_test.moc"
