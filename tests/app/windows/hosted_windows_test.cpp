#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QTest>

#include "app/app_fixture.h"
#include "app/model/updater.h"
#include "app/windows/about_view.h"
#include "app/windows/window_contents.h"
#include "core/base/app_info.h"
#include "core/platform/executable.h"

using namespace taskbell;
using namespace taskbell::app;

// The four contents in the real window manager: titles and sizes of the window table, and the keys that
// close a window doing so through the manager's bookkeeping; the About window's contents.
class HostedWindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void windowsTakeTheirTitlesAndSizesAndCloseByKey();
    void showsTheRunningVersionAndTheChangelogNewestFirst();
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

void HostedWindowsTest::showsTheRunningVersionAndTheChangelogNewestFirst()
{
    AboutView view;
    view.show();
    QVERIFY(
        view.findChild<QLabel*>("aboutVersion")->text().contains(QString::fromStdString(platform::runningVersion())));
    QLayout* column = view.findChild<QScrollArea*>("aboutChangelog")->widget()->layout();
    QStringList order;
    for (int i = 0; i < column->count(); ++i) {
        if (QWidget* widget = column->itemAt(i)->widget(); widget && widget->objectName().startsWith("changelog-")) {
            order << widget->objectName().mid(QString("changelog-").size());
        }
    }
    QStringList versions;
    for (const ChangelogEntry& entry : AppInfo::changelog()) { // newest first
        versions << QString::fromStdString(entry.version);
    }
    QCOMPARE(order, versions);

    // The oldest block: its version, its date and its seven change lines, verbatim and in order.
    QWidget* oldest = view.findChild<QWidget*>("changelog-1.0.0");
    QStringList texts;
    for (QLabel* label : oldest->findChildren<QLabel*>()) {
        texts << label->text();
    }
    const ChangelogEntry& entry = AppInfo::changelog().back();
    QCOMPARE(texts.mid(0, 2), QStringList({"v1.0.0", "2026-07-08"}));
    QStringList changes;
    for (int i = 2; i < texts.size(); i += 2) {
        QCOMPARE(texts[i], QString("•"));
        changes << texts[i + 1];
    }
    QCOMPARE(changes.size(), static_cast<qsizetype>(entry.changes.size()));
    for (std::size_t i = 0; i < entry.changes.size(); ++i) {
        QCOMPARE(changes[static_cast<qsizetype>(i)], QString::fromStdString(entry.changes[i]));
    }
}

QTEST_MAIN(HostedWindowsTest)
#include "hosted_windows_test.moc"
