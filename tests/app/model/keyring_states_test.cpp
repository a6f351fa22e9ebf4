// The API token when the keyring cannot give it: a Secret Service that stalls while the application starts,
// and a locked keyring. Runs in a keyring session of its own (see tests/app/CMakeLists.txt), since it stops
// and locks that session's keyring.
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <csignal>
#include <utility>

#include "app/app_fixture.h"
#include "app/panel/content_view.h"
#include "app/shell/application.h"
#include "app/shell/tray_item.h"
#include "app/windows/settings_view.h"
#include "core/platform/keychain.h"

using namespace taskbell;
using namespace taskbell::app;

namespace {

constexpr int kWait = 20000; // ms; only a ceiling for a hung test

// One call on the session bus with gdbus; its printed reply.
QString busCall(const QStringList& arguments)
{
    QProcess gdbus;
    gdbus.start("gdbus", QStringList{"call", "--session"} + arguments);
    gdbus.waitForFinished(kWait);
    return QString::fromUtf8(gdbus.readAllStandardOutput());
}

// The keyring daemon of this test's own session, stopped until the guard goes away.
class StalledService
{
public:
    StalledService()
    {
        QString reply = busCall({"--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus", "--method",
                                 "org.freedesktop.DBus.GetConnectionUnixProcessID", "org.freedesktop.secrets"});
        pid_ = QRegularExpression("uint32 (\\d+)").match(reply).captured(1).toInt();
        if (pid_ > 1) {
            ::kill(pid_, SIGSTOP);
        }
    }
    ~StalledService() { resume(); }
    bool stopped() const { return pid_ > 1; }
    void resume()
    {
        if (pid_t pid = std::exchange(pid_, 0); pid > 1) {
            ::kill(pid, SIGCONT);
        }
    }

private:
    pid_t pid_ = 0;
};

// Locks the default collection, which needs no prompt (unlocking would).
bool lockDefaultCollection()
{
    QString alias = busCall({"--dest", "org.freedesktop.secrets", "--object-path", "/org/freedesktop/secrets",
                             "--method", "org.freedesktop.Secret.Service.ReadAlias", "default"});
    QString path = QRegularExpression("'(/[^']+)'").match(alias).captured(1);
    if (path.isEmpty()) {
        return false;
    }
    QString locked = busCall({"--dest", "org.freedesktop.secrets", "--object-path", "/org/freedesktop/secrets",
                              "--method", "org.freedesktop.Secret.Service.Lock", "['" + path + "']"});
    return locked.contains(path);
}

// The fixture's site saved, its token in the keyring, and a panel built once the store is.
struct Scene : test::AppFixture
{
    std::unique_ptr<ContentView> panel;

    Scene() { Keychain::set(jira.token(), Keychain::kTokenAccount); }

    // The store reads the token now, as the application does when it starts.
    void start()
    {
        store = std::make_unique<AppStore>(settings(), Timing{});
        panel = std::make_unique<ContentView>(*store, *updater);
        panel->show();
        panel->refresh();
    }
    bool showsKeyringProblem() const { return shown(*panel, "tokenUnreadable") && !shown(*panel, "notConfigured"); }

    // The panel's part of that name exists and is visible (parts are made when first shown).
    static bool shown(const QWidget& panel, const char* name)
    {
        auto* part = panel.findChild<QWidget*>(name);
        return part != nullptr && part->isVisible();
    }
};

} // namespace

class KeyringStatesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!qEnvironmentVariableIsSet("TASKBELL_KEYRING_SESSION")) {
            QSKIP("runs in a keyring session of its own (scripts/with-keyring.sh)");
        }
    }

    void stalledServiceKeepsTheTokenAndOffersARetry()
    {
        Scene scene;
        {
            StalledService stalled;
            QVERIFY(stalled.stopped());
            scene.start(); // gives up after the keychain's time-out
            QCOMPARE(scene.store->tokenStatus(), Keychain::ReadStatus::unreachable);
            QVERIFY(scene.showsKeyringProblem());

            // Saving other settings meanwhile leaves the stored token alone (nothing asks the keyring).
            SettingsView settings(*scene.store, *scene.updater);
            settings.show();
            QCOMPARE(settings.findChild<QLineEdit*>("apiToken")->text(), QString());
            settings.findChild<QLineEdit*>("defaultProjectKey")->setText("QLT");
            settings.save();
            QVERIFY(!scene.store->saveError());
            QCOMPARE(scene.store->settings().projectKey, std::string("QLT"));
        }
        QCOMPARE(Keychain::get(Keychain::kTokenAccount), std::optional<std::string>(scene.jira.token()));

        // The service answers again: the retry reads the token and the panel loads.
        QSignalSpy loaded(scene.store.get(), &AppStore::loadFinished);
        scene.panel->findChild<QPushButton*>("retryToken")->click();
        QVERIFY(loaded.wait(kWait));
        QCOMPARE(scene.store->tokenStatus(), Keychain::ReadStatus::found);
        scene.panel->refresh();
        QVERIFY(!Scene::shown(*scene.panel, "tokenUnreadable"));
        QVERIFY(!Scene::shown(*scene.panel, "notConfigured"));
        QVERIFY(!scene.store->errorMessage());
    }

    // The application's store asks the keyring on the pool: the tray item and the panel come up while the
    // service stalls, say that the token is on its way, and the first load runs once it arrives.
    void stalledServiceDoesNotHoldUpTheTray()
    {
        Scene scene;
        StalledService stalled;
        QVERIFY(stalled.stopped());
        AppStore store(scene.settings(), Timing{}, AppStore::TokenRead::inBackground);
        TaskbellApp app(&store, scene.updater.get());
        app.start();
        QCOMPARE(app.tray().toolTip(), QString("Taskbell \u2014 reading your API token\u2026"));
        app.showPanel();
        QVERIFY(app.content().findChild<QWidget*>("tokenUnreadable")->isVisible());
        QVERIFY(!app.content().findChild<QPushButton*>("retryToken")->isVisible());
        stalled.resume();
        QVERIFY(QTest::qWaitFor([&] { return app.tray().label() == "0"; }, kWait));
        QVERIFY(QTest::qWaitFor([&] { return scene.jira.requests().size() >= 4; }, kWait));
    }

    // Last: this session's keyring stays locked.
    void lockedKeyringRefusesATypedToken()
    {
        Scene scene;
        QVERIFY(lockDefaultCollection());
        scene.start();
        QCOMPARE(scene.store->tokenStatus(), Keychain::ReadStatus::locked);
        QVERIFY(scene.showsKeyringProblem());

        SettingsView settings(*scene.store, *scene.updater);
        settings.show();
        auto* token = settings.findChild<QLineEdit*>("apiToken");
        QTest::keyClicks(token, "typed-token");
        settings.findChild<QPushButton*>("settingsDone")->click();
        QVERIFY(scene.store->saveError()); // the window stays open and shows it (see the windows tests)
        QCOMPARE(scene.store->tokenStatus(), Keychain::ReadStatus::locked);
    }
};

QTEST_MAIN(KeyringStatesTest)
#include "keyring_states_test.moc"
