// The shell: panel placement, the window manager, the tray item, one instance per user (only an answer
// from this user's own running instance ends a start), starting without a display, and the whole
// application with an assistant at work beside it.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/app_fixture.h"
#include "app/data_tables.h"
#include "app/look/error_banner.h"
#include "app/panel/activity_group.h"
#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/task_list.h"
#include "app/shell/application.h"
#include "app/shell/aux_windows.h"
#include "app/shell/panel_window.h"
#include "app/shell/single_instance.h"
#include "app/shell/tray_item.h"
#include "core/platform/keychain.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

using namespace taskbell;
using namespace taskbell::app;
using taskbell::test::AppFixture;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A listening socket at path that accepts nothing, so nobody ever answers.
int listenAt(const fs::path& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Another user's listener that answers every connection the way an instance would.
pid_t foreignListener(const fs::path& path)
{
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(1);
        }
        int fd = listenAt(path);
        (void)::write(ready[1], fd >= 0 ? "y" : "n", 1);
        for (int client; fd >= 0 && (client = ::accept(fd, nullptr, nullptr)) >= 0; ::close(client)) {
            char request[16];
            (void)::read(client, request, sizeof request);
            (void)::write(client, "shown\n", 6);
        }
        ::_exit(0);
    }
    char answer = 'n';
    (void)::read(ready[0], &answer, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return answer == 'y' ? pid : -1;
}

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
    // The newest entry's Undo once it can be pressed: it is disabled while the store still works on the issue
    // (the reload after an earlier undo), and a press then does nothing.
    QToolButton* readyUndo()
    {
        QToolButton* undo = nullptr;
        bool ready = QTest::qWaitFor(
            [&] {
                undo = newestAction("activityUndo");
                return undo != nullptr && undo->isEnabled();
            },
            5000);
        return ready ? undo : nullptr;
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
        auto rect = [](const Json& r) { return QRect(r[0], r[1], r[2], r[3]); };
        const Json rows = test::dataRows("app/shell.json", "panel placement");
        for (const Json& row : rows) {
            QVERIFY2(panelGeometry(rect(row[1]), rect(row[2]), PanelWindow::kPreferredSize) == rect(row[3]),
                     row[0].get<std::string>().c_str());
        }
    }

    void panelHidesOnEscapeToggleOrAnotherWindowAndIsAFramelessToolWindow()
    {
        PanelWindow panel;
        QVERIFY(panel.windowFlags().testFlag(Qt::Tool) && panel.windowFlags().testFlag(Qt::FramelessWindowHint));
        QSignalSpy shown(&panel, &PanelWindow::shown);
        panel.showAt({});
        QCOMPARE(shown.count(), 1);
        QTest::keyClick(&panel, Qt::Key_Escape);
        QVERIFY(!panel.isVisible());
        panel.showAt({});
        panel.toggle({});
        QVERIFY(!panel.isVisible());

        // Another window activated hides it.
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

    // Each kind of window is one window; showing one closes the panel; a closed window (by its button or by
    // the window manager) is deleted and built afresh. Forms cannot be stretched or maximized; the detail
    // window can.
    void windowsAreOneOfAKindAndKeepTheBooks()
    {
        AuxContents contents = AuxContents::placeholders();
        contents.about = [] {
            auto* content = new QDialog;
            content->setFixedSize(420, 440);
            return content;
        };
        AuxWindows windows(contents);
        PanelWindow panel;
        windows.setMenuBarPanel(&panel);
        QSignalSpy modes(&windows, &AuxWindows::activationModeChanged);
        panel.showAt({});
        windows.showSettings();
        QVERIFY(!panel.isVisible());
        QPointer<QDialog> settings = windows.settingsWindow();
        QVERIFY(settings->isVisible());
        panel.showAt({});
        windows.showSettings();
        windows.showAbout();
        QPointer<QDialog> about = windows.aboutWindow();
        windows.showAbout();
        QVERIFY(!panel.isVisible());
        QCOMPARE(windows.settingsWindow(), settings.data());
        QCOMPARE(windows.aboutWindow(), about.data());
        QCOMPARE(about->size(), QSize(420, 440));
        QCOMPARE(about->minimumSize(), about->maximumSize());
        windows.showTaskDetail(Issue{});
        QVERIFY(windows.detailWindow("")->minimumSize() != windows.detailWindow("")->maximumSize());
        windows.detailWindow("")->reject();

        settings->findChild<QPushButton*>()->click();
        QCOMPARE(windows.settingsWindow(), nullptr);
        QCOMPARE(windows.activationMode(), ActivationMode::regular); // one of two closed
        about->close();
        QCOMPARE(windows.aboutWindow(), nullptr);
        QCOMPARE(windows.activationMode(), ActivationMode::accessory);
        QCOMPARE(modes.count(), 2);
        settleDeletes();
        QVERIFY(!settings && !about);
        windows.showSettings();
        QVERIFY(windows.settingsWindow() != nullptr);
    }

    void detailWindowsCascadeAndAreOnePerIssue()
    {
        AuxWindows windows(AuxContents::placeholders());
        QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QRect centred = AuxWindows::placement(available, QSize(520, 560));
        for (int i = 0; i < 7; ++i) {
            windows.showTaskDetail(Issue{"", "TB-" + std::to_string(i), {}});
        }
        QPointer<QDialog> first = windows.detailWindow("TB-1");
        windows.showTaskDetail(Issue{"", "TB-1", {}});
        QCOMPARE(windows.detailWindowCount(), std::size_t(7));
        QCOMPARE(windows.detailWindow("TB-1"), first.data());
        for (const auto& [key, offset] :
             {std::pair{"TB-0", 0}, {"TB-1", 24}, {"TB-2", 48}, {"TB-5", 120}, {"TB-6", 0}}) {
            QDialog* window = windows.detailWindow(key);
            QCOMPARE(window->windowTitle(), QString(key));
            QCOMPARE(window->geometry(), centred.translated(offset, offset));
        }
        windows.detailWindow("TB-3")->reject();
        QCOMPARE(windows.detailWindow("TB-3"), nullptr);
        QCOMPARE(windows.detailWindowCount(), std::size_t(6));
    }

    void secondStartHandsOverOnlyToAnInstanceThatAnswers()
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

        // A socket left behind by a crashed instance is taken over, and goes when the instance ends; a file
        // that is no socket is left alone, and the instance runs without the hand-over.
        test::TempDir other;
        ::close(listenAt(other / "instance"));
        {
            SingleInstance revived(QString::fromStdString((other / "instance").string()));
            QVERIFY(revived.claim());
            int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            (other / "instance").string().copy(address.sun_path, sizeof address.sun_path - 1);
            QCOMPARE(::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(probe);
        }
        QVERIFY(!fs::exists(other / "instance"));
        test::writeFile(other / "plain", "kept");
        QVERIFY(SingleInstance(QString::fromStdString((other / "plain").string())).claim());
        QCOMPARE(test::readFile(other / "plain"), std::string("kept"));

        // Something that listens there but never answers: this start runs rather than exit.
        fs::path silentPath = other / "silent";
        int silent = listenAt(silentPath);
        QVERIFY(silent >= 0);
        SingleInstance beside(QString::fromStdString(silentPath.string()));
        beside.setAnswerTimeout(50ms);
        QVERIFY(beside.claim());
        ::close(silent);
    }

    void programWithoutADisplaySaysSoAndExits()
    {
        // A Wayland socket nobody listens on any more.
        test::TempDir runtime;
        int stale = listenAt(runtime / "wayland-9");
        QVERIFY(stale >= 0);
        ::close(stale);
        auto optional = [](const Json& v) { return v.is_null() ? std::nullopt : std::optional(v.get<std::string>()); };
        const Json rows = test::dataRows("app/shell.json", "no display");
        for (const Json& row : rows) {
            test::ProcessOptions options;
            options.env = {{"DISPLAY", optional(row[0])},
                           {"WAYLAND_DISPLAY", optional(row[1])},
                           {"XDG_RUNTIME_DIR", runtime.path().string()},
                           {"QT_QPA_PLATFORM", std::nullopt}};
            options.timeout = std::chrono::seconds(20);
            test::ProcessResult result = test::runProcess({TASKBELL_EXE}, options);
            QCOMPARE(result.exitCode, 1);
            QCOMPARE(result.signal, 0);
            QVERIFY(result.out.empty());
            QCOMPARE(std::count(result.err.begin(), result.err.end(), '\n'), 1);
            QVERIFY2(result.err.find(row[2].get<std::string>()) != std::string::npos, result.err.c_str());
        }
    }

    void onlyTheUsersOwnAnswerEndsAStart()
    {
        if (::geteuid() != 0) {
            QSKIP("a listener of another user needs root to start");
        }
        // Another user listens where this user's instance would, and answers as one: this start still runs.
        char shared[] = "/tmp/taskbell-foreign-XXXXXX"; // a folder the other user can reach
        QVERIFY(::mkdtemp(shared) != nullptr);
        fs::permissions(shared, fs::perms::all);
        fs::path foreignPath = fs::path(shared) / "instance";
        pid_t foreign = foreignListener(foreignPath);
        bool claimed = foreign > 0 && SingleInstance(QString::fromStdString(foreignPath.string())).claim();
        if (foreign > 0) {
            ::kill(foreign, SIGKILL);
            ::waitpid(foreign, nullptr, 0);
        }
        fs::remove_all(shared);
        QVERIFY(foreign > 0);
        QVERIFY(claimed);
    }

    void withoutARuntimeFolderTheSocketStaysPrivate()
    {
        test::TempDir temp;
        test::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
        test::ScopedEnv tmpdir("TMPDIR", temp.path().string());
        fs::path own = temp / ("taskbell-" + std::to_string(::geteuid()));
        QCOMPARE(SingleInstance::defaultSocketPath().toStdString(), (own / "com.quillet.taskbell.instance").string());
        QCOMPARE(fs::status(own).permissions(), fs::perms::owner_all);

        // A folder of that name that others may change is no place for it: no hand-over, but a start.
        fs::permissions(own, fs::perms::all);
        QVERIFY(SingleInstance::defaultSocketPath().isEmpty());
        QVERIFY(SingleInstance().claim());
    }

    void trayShowsTheIconAloneUntilConfigured()
    {
        AppFixture f(false);
        TaskbellApp app(f.store.get(), f.updater.get());
        QCOMPARE(app.tray().label(), QString());
        QCOMPARE(app.tray().toolTip(), QStringLiteral("Taskbell"));
        QVERIFY(TrayItem::pixmapFor({}, 22).toImage() != TrayItem::pixmapFor("3", 22).toImage());
        f.configure();
        QCOMPARE(app.tray().label(), QStringLiteral("0")); // configured, nothing in progress yet
        f.addIssues(2, "3");
        QVERIFY(f.load());
        QCOMPARE(app.tray().label(), QStringLiteral("2"));
        QCOMPARE(app.tray().toolTip(), QStringLiteral("2"));
    }

    // Opened after the start's load, the panel shows those issues in its first frame and reloads them after it.
    void panelOpenedAfterTheFirstLoadShowsThenReloads()
    {
        AppFixture f;
        f.addIssues(3, "3");
        TaskbellApp app(f.store.get(), f.updater.get());
        QVERIFY(f.load(true));
        QCoreApplication::processEvents(); // what rows draw is prepared now, while no panel exists
        QSignalSpy loads(f.store.get(), &AppStore::loadFinished);
        app.togglePanel();
        QVERIFY(!f.store->isLoading());
        QTRY_VERIFY(app.content().taskList()->isPainted());
        QCOMPARE(app.content().taskList()->shownRows().size(), std::size_t{3});
        QTRY_COMPARE(loads.size(), 1);
    }

    // The panel opens on the tray's toggle and loads; a palette change rebuilds it as it was; a window closes it.
    void darkPaletteRebuildsThePanelAsItWas()
    {
        AppFixture f;
        f.addIssues(60, "3");
        TaskbellApp app(f.store.get(), f.updater.get());
        app.togglePanel();
        QVERIFY(app.panel().isVisible());
        QVERIFY(QTest::qWaitFor([&] { return f.store->inProgress().size() == 60; }, 10000)); // the first load
        QCoreApplication::processEvents();
        app.content().filterTabs()->button(TaskFilter::all)->toggle();
        QScrollBar* bar = app.content().scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        int position = bar->value();
        QSignalSpy loads(f.store.get(), &AppStore::loadFinished);

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
        QVERIFY(loads.isEmpty() && !f.store->isLoading()); // nothing loaded again, nor loading
        QApplication::setPalette(saved);
        app.windows().showSettings();
        QVERIFY(!app.panel().isVisible());
    }

    // An assistant's move reaches the tray and a notification without a refresh (the desktop smoke test sees it
    // in the panel and undoes it); Undo is kept for a later run. Notifications follow the setting.
    void assistantMoveShowsAtOnceAndUndoes()
    {
        AssistantFixture f;
        std::string key = f.addIssue("Write notes", "10000");
        QVERIFY(f.load());
        f.call("set_status", {{"issueKey", key}, {"status", "in_progress"}});
        QTRY_COMPARE_WITH_TIMEOUT(f.app.tray().label(), QStringLiteral("1"), 5000);
        QCOMPARE(f.group()->findChild<QLabel*>("activityAge")->text(), QStringLiteral("just now"));
        QCOMPARE(f.app.tray().lastNotification(),
                 QString::fromStdString("Your assistant moved " + key + " to In Progress"));

        QToolButton* undo = f.readyUndo();
        QVERIFY(undo != nullptr);
        undo->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.app.tray().label(), QStringLiteral("0"), 5000);
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
        QToolButton* undo = f.readyUndo();
        QVERIFY(undo != nullptr);
        undo->click();
        QTRY_VERIFY(f.group()->findChild<QLabel*>("activityUndone") != nullptr);
        QCOMPARE(f.jira.issue(key)->summary, std::string("Write notes"));
        f.group()->findChild<QToolButton*>("activityText")->click(); // the text opens the detail window
        QVERIFY(f.app.windows().detailWindow(QString::fromStdString(key)) != nullptr);

        f.call("update_task", {{"issueKey", key}, {"summary", "Assistant's title"}});
        undo = f.readyUndo();
        QVERIFY(undo != nullptr);
        JiraClient{f.store->config()}.updateIssue(key, "Someone's title", std::nullopt);
        // The refusal is shown until the next background load succeeds, and the assistant's edit has started
        // one: what the store reported is recorded, not polled.
        QStringList reported;
        QObject listener;
        connect(f.store.get(), &AppStore::stateChanged, &listener, [&] {
            if (const auto& message = f.store->errorMessage()) {
                reported << *message;
            }
        });
        undo->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            reported.contains(QString::fromStdString(key + " changed since the assistant's edit; nothing was undone.")),
            5000);
        QCOMPARE(f.jira.issue(key)->summary, std::string("Someone's title"));
    }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
