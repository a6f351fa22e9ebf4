#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/shell/aux_windows.h"
#include "app/shell/panel_window.h"
#include "app/shell/single_instance.h"
#include "app/shell/tray_item.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

using namespace taskbell;
using namespace taskbell::app;

namespace {

Issue issueKeyed(const std::string& key)
{
    Issue issue;
    issue.id = key;
    issue.key = key;
    return issue;
}

// Dialogs that are recorded by name, so tests can close a window the way its buttons do.
struct RecordingContents
{
    std::map<QString, QPointer<QDialog>> made;
    int built = 0;

    AuxContents contents()
    {
        AuxContents contents;
        auto make = [this](const QString& name) {
            return [this, name] {
                ++built;
                auto* dialog = new QDialog;
                made[name] = dialog;
                return dialog;
            };
        };
        contents.settings = make("settings");
        contents.addTask = make("addTask");
        contents.about = make("about");
        contents.taskDetail = [make](const Issue& issue) { return make(QString::fromStdString(issue.key))(); };
        return contents;
    }
    void reject(const QString& name)
    {
        if (made[name]) {
            made[name]->reject();
        }
    }
};

void settleDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class ShellTest : public QObject
{
    Q_OBJECT

private slots:
    void panelIsPlacedUnderTheTrayIconAndClamped()
    {
        struct Case
        {
            const char* name;
            QRect available;
            QRect tray;
            QRect expected;
        };
        const QSize size = PanelWindow::kPreferredSize;
        const Case cases[] = {
            {"unknown tray: top right", {0, 0, 1920, 1080}, {}, {QPoint(1920 - 4 - 560, 4), size}},
            {"under a top-right icon, kept on screen",
             {0, 24, 1920, 1056},
             {1890, 0, 22, 22},
             {QPoint(1920 - 560, 26), size}},
            {"under a centred icon", {0, 24, 1920, 1056}, {950, 0, 22, 22}, {QPoint(680, 26), size}},
            {"above an icon at the bottom", {0, 0, 1920, 1040}, {950, 1050, 22, 22}, {QPoint(680, 1040 - 870), size}},
            {"clamped to a small screen", {0, 0, 1280, 800}, {1250, 0, 22, 22}, {QPoint(720, 0), QSize(560, 800)}},
        };
        for (const Case& test : cases) {
            QCOMPARE(panelGeometry(test.available, test.tray, size), test.expected);
        }
    }

    void panelHidesOnEscapeAndIsATitledToolWindow()
    {
        PanelWindow panel;
        QCOMPARE(panel.windowTitle(), QStringLiteral("Taskbell"));
        QVERIFY(panel.windowFlags().testFlag(Qt::Tool));
        QVERIFY(panel.windowFlags().testFlag(Qt::FramelessWindowHint));
        QSignalSpy shown(&panel, &PanelWindow::shown);
        panel.showAt({});
        QVERIFY(panel.isVisible());
        QCOMPARE(shown.count(), 1);
        QTest::keyClick(&panel, Qt::Key_Escape);
        QVERIFY(!panel.isVisible());
    }

    void panelHidesWhenAnotherWindowIsActivated()
    {
        PanelWindow panel;
        panel.showAt({});
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(QTest::qWaitFor([&] { return !panel.isVisible(); }, 2000));
        // The tray click that took the activation away does not reopen it at once.
        panel.toggle({});
        QVERIFY(!panel.isVisible());
    }

    void windowsAreReusedAndCloseThePanel()
    {
        RecordingContents recording;
        AuxWindows windows(recording.contents());
        PanelWindow panel;
        windows.setMenuBarPanel(&panel);
        panel.showAt({});
        windows.showSettings();
        QVERIFY(!panel.isVisible());
        QDialog* settings = windows.settingsWindow();
        QVERIFY(settings != nullptr && settings->isVisible());
        panel.showAt({});
        windows.showSettings();
        QCOMPARE(windows.settingsWindow(), settings);
        QCOMPARE(recording.built, 1);
        QVERIFY(!panel.isVisible());

        // Each kind of window is one window.
        windows.showAddTask();
        windows.showAbout();
        QDialog* addTask = windows.addTaskWindow();
        windows.showAddTask();
        windows.showAbout();
        QCOMPARE(windows.addTaskWindow(), addTask);
        QCOMPARE(recording.built, 3);
    }

    void closingByButtonOrOnCloseKeepsTheBooks()
    {
        RecordingContents recording;
        AuxWindows windows(recording.contents());
        QSignalSpy modes(&windows, &AuxWindows::activationModeChanged);
        windows.showSettings();
        windows.showAbout();
        recording.reject("settings");
        QCOMPARE(windows.settingsWindow(), nullptr);
        QCOMPARE(windows.activationMode(), ActivationMode::regular); // one of two closed
        windows.aboutWindow()->close();
        QCOMPARE(windows.aboutWindow(), nullptr);
        QCOMPARE(windows.activationMode(), ActivationMode::accessory);
        QCOMPARE(modes.count(), 2);
        settleDeletes();
        QVERIFY(!recording.made["settings"]); // closed windows are deleted
        windows.showSettings();
        QCOMPARE(recording.built, 3); // a closed window is built afresh
    }

    void detailWindowsCascadeAndAreOnePerIssue()
    {
        RecordingContents recording;
        AuxWindows windows(recording.contents());
        QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QRect centred = AuxWindows::placement(available, QSize(520, 560));
        for (int i = 0; i < 7; ++i) {
            windows.showTaskDetail(issueKeyed("TB-" + std::to_string(i)));
        }
        windows.showTaskDetail(issueKeyed("TB-1"));
        QCOMPARE(windows.detailWindowCount(), std::size_t(7));
        QCOMPARE(recording.built, 7);
        struct Case
        {
            const char* key;
            int offset;
        };
        const Case cases[] = {{"TB-0", 0}, {"TB-1", 24}, {"TB-2", 48}, {"TB-5", 120}, {"TB-6", 0}};
        for (const Case& test : cases) {
            QDialog* window = windows.detailWindow(test.key);
            QCOMPARE(window->windowTitle(), QString(test.key));
            QCOMPARE(window->geometry(), centred.translated(test.offset, test.offset));
        }
        recording.reject("TB-3");
        QCOMPARE(windows.detailWindow("TB-3"), nullptr);
        QCOMPARE(windows.detailWindowCount(), std::size_t(6));
    }

    // Forms cannot be stretched or maximized; the detail window can.
    void contentWithAFixedSizeSizesItsWindow()
    {
        AuxContents contents = AuxContents::placeholders();
        contents.about = [] {
            auto* content = new QDialog;
            content->setFixedSize(420, 440);
            return content;
        };
        AuxWindows windows(contents);
        windows.showAbout();
        QCOMPARE(windows.aboutWindow()->size(), QSize(420, 440));
        windows.showAddTask();
        windows.showTaskDetail(Issue{});
        for (QDialog* window : {windows.aboutWindow(), windows.addTaskWindow()}) {
            QCOMPARE(window->minimumSize(), window->maximumSize());
        }
        QVERIFY(windows.detailWindow("")->minimumSize() != windows.detailWindow("")->maximumSize());
        // The placeholder's Close button closes it.
        windows.showSettings();
        windows.settingsWindow()->findChild<QPushButton*>()->click();
        QCOMPARE(windows.settingsWindow(), nullptr);
    }

    void trayShowsTheCountAlone()
    {
        TrayItem tray;
        QCOMPARE(tray.toolTip(), QStringLiteral("Taskbell"));
        QImage plain = TrayItem::pixmapFor({}, 22).toImage();
        QImage badged = TrayItem::pixmapFor("3", 22).toImage();
        QCOMPARE(plain.size(), badged.size());
        QVERIFY(plain != badged);
    }

    void secondInstanceHandsOverToTheFirst()
    {
        // A path too long for a local socket: a short stand-in is used.
        test::TempDir folder;
        QString path = QString::fromStdString((folder / std::string(150, 'i')).string());
        SingleInstance first(path);
        QVERIFY(first.claim());
        QSignalSpy requests(&first, &SingleInstance::activationRequested);
        // The second start runs beside this event loop, which answers it.
        bool secondClaimed = true;
        std::thread secondStart([&] { secondClaimed = SingleInstance(path).claim(); });
        QVERIFY(requests.wait(5000));
        secondStart.join();
        QVERIFY(!secondClaimed);

        // A socket left behind by a crashed instance is taken over.
        test::TempDir other;
        QString stale = QString::fromStdString((other / "instance").string());
        QFile file(stale);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        SingleInstance revived(stale);
        QVERIFY(revived.claim());
    }

    void programWithoutADisplaySaysSoAndExits()
    {
        // A Wayland socket nobody listens on any more.
        test::TempDir runtime;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        (runtime / "wayland-9").string().copy(address.sun_path, sizeof address.sun_path - 1);
        int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(stale);
        struct Case
        {
            std::optional<std::string> x11, wayland;
            std::string says;
        } cases[] = {
            {std::nullopt, std::nullopt, "no graphical display"},
            {"127.0.0.1:55", std::nullopt, "cannot reach the graphical display 127.0.0.1:55"},
            {std::nullopt, "wayland-9", "cannot reach the graphical display wayland-9"},
        };
        for (const Case& row : cases) {
            test::ProcessOptions options;
            options.env = {{"DISPLAY", row.x11},
                           {"WAYLAND_DISPLAY", row.wayland},
                           {"XDG_RUNTIME_DIR", runtime.path().string()},
                           {"QT_QPA_PLATFORM", std::nullopt}};
            options.timeout = std::chrono::seconds(20);
            test::ProcessResult result = test::runProcess({TASKBELL_EXE}, options);
            QCOMPARE(result.exitCode, 1);
            QCOMPARE(result.signal, 0);
            QVERIFY(result.out.empty());
            QCOMPARE(std::count(result.err.begin(), result.err.end(), '\n'), 1);
            QVERIFY2(result.err.find(row.says) != std::string::npos, result.err.c_str());
        }
    }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
