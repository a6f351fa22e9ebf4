#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>

#include "app/app_fixture.h"
#include "app/look/error_banner.h"
#include "app/look/look.h"
#include "app/model/updater.h"
#include "app/windows/mcp_section.h"
#include "app/windows/mcp_snippets.h"
#include "app/windows/settings_view.h"
#include "core/platform/login_item.h"
#include "core/settings/app_settings.h"

using namespace taskbell;
using namespace taskbell::app;

namespace {

template <typename T> T* child(QWidget* view, const char* name)
{
    T* widget = view->findChild<T*>(name);
    if (!widget) {
        qFatal("no child %s", name);
    }
    return widget;
}

// What sh makes of the command: `claude` replaced by a function that prints its arguments one per line.
QStringList shellArguments(const QString& command)
{
    QProcess sh;
    sh.start("sh", {"-c", "claude() { for a in \"$@\"; do printf '%s\\n' \"$a\"; done; }\n" + command});
    sh.waitForFinished();
    return QString::fromUtf8(sh.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

bool shellSyntaxIsValid(const QString& command)
{
    QProcess sh;
    sh.start("sh", {"-n", "-c", command});
    sh.waitForFinished();
    return sh.exitStatus() == QProcess::NormalExit && sh.exitCode() == 0;
}

// Points the login-item entry into a folder of the test's own for the lifetime of the object.
class ConfigHome
{
public:
    explicit ConfigHome(const std::filesystem::path& folder) : saved_(qgetenv("XDG_CONFIG_HOME"))
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder.string()));
    }
    ~ConfigHome() { qputenv("XDG_CONFIG_HOME", saved_); }

private:
    QByteArray saved_;
};

} // namespace

class SettingsViewTest : public QObject
{
    Q_OBJECT

private slots:
    void snippetsWorkWhenPasted();
    void mcpSectionShowsAndCopiesTheSnippets();
    void formIsRefilledEachTimeItIsShown();
    void returnSavesAnEmptyIssueTypeAsTask();
    void escapeCancelsWithoutSaving();
    void failedSaveKeepsTheWindowOpenAndTheTyping();
    void refusedLoginItemChangeResetsTheSwitch();
    void checkNowUsesTheTypedFeedAddress();
    void testConnectionUsesTheFormCredentialsOnly();
    void controlsAreNamedAndTabbedInVisualOrder();
};

void SettingsViewTest::snippetsWorkWhenPasted()
{
    const char* paths[] = {
        "/opt/taskbell/bin/taskbell",           "/home/ann/My Apps/Taskbell.app/Contents/bin/taskbell",
        "/home/ann/it's mine/taskbell",         "/tmp/$HOME/`id`/taskbell",
        "/tmp/back\\slash \"quoted\"/taskbell", "/tmp/tab\there;&|<>*?/taskbell",
    };
    QCOMPARE(QString::fromStdString(McpSnippets::command(paths[0])),
             QString("claude mcp add taskbell -s project -- /opt/taskbell/bin/taskbell --mcp"));
    for (const char* path : paths) {
        const QString command = QString::fromStdString(McpSnippets::command(path));
        QVERIFY2(shellSyntaxIsValid(command), qPrintable(command));
        QCOMPARE(shellArguments(command),
                 QStringList({"mcp", "add", "taskbell", "-s", "project", "--", QString::fromUtf8(path), "--mcp"}));

        const QString json = QString::fromStdString(McpSnippets::json(path));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(json));
        const QJsonObject server = document["mcpServers"]["taskbell"].toObject();
        QCOMPARE(server["type"].toString(), QString("stdio"));
        QCOMPARE(server["command"].toString(), QString::fromUtf8(path));
        QCOMPARE(server["args"].toArray(), QJsonArray({"--mcp"}));
        QCOMPARE(server["env"].toObject(), QJsonObject());
        QCOMPARE(json.count('\n'), 9);
        QVERIFY(!json.endsWith('\n'));
    }
    QCOMPARE(QString::fromStdString(McpSnippets::toolsLine({"a", "b_c"})), QString("Tools: a, b_c."));
}

void SettingsViewTest::mcpSectionShowsAndCopiesTheSnippets()
{
    test::AppFixture fixture;
    SettingsView view(*fixture.store, *fixture.updater);
    McpSection* mcp = view.mcpSection();
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    QCOMPARE(mcp->commandText(), QString::fromStdString(McpSnippets::command(self)));
    QCOMPARE(mcp->jsonText(), QString::fromStdString(McpSnippets::json(self)));
    QVERIFY(child<QLabel>(mcp, "mcpTools")->text().startsWith("Tools: create_task, "));

    view.show();
    QVERIFY(!mcp->isExpanded());
    QVERIFY(!child<QWidget>(mcp, "mcpContent")->isVisible());
    child<QWidget>(mcp, "mcpDisclosure")->setProperty("checked", true); // as an assistive Toggle does
    QVERIFY(child<QWidget>(mcp, "mcpContent")->isVisible());
    mcp->setExecutable("/home/ann/My Apps/Taskbell.app/Contents/bin/taskbell");
    QCOMPARE(
        mcp->commandText(),
        QString("claude mcp add taskbell -s project -- '/home/ann/My Apps/Taskbell.app/Contents/bin/taskbell' --mcp"));

    // "Copied" follows the latest copy; each copy's timer runs out without cutting a later label short.
    struct Pending
    {
        std::chrono::milliseconds delay;
        std::function<void()> action;
    };
    std::vector<Pending> timers;
    mcp->setScheduler([&timers](std::chrono::milliseconds delay, QObject*, std::function<void()> action) {
        timers.push_back({delay, std::move(action)});
    });
    auto titles = [mcp] { return QStringList({mcp->copyButton("command")->text(), mcp->copyButton("json")->text()}); };

    mcp->copyButton("command")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), mcp->commandText());
    QCOMPARE(titles(), QStringList({"Copied", "Copy"}));
    mcp->copyButton("json")->click(); // within the 1.5 seconds
    QCOMPARE(QGuiApplication::clipboard()->text(), mcp->jsonText());
    QCOMPARE(titles(), QStringList({"Copy", "Copied"}));
    QCOMPARE(timers.size(), std::size_t{2});
    QCOMPARE(timers[1].delay, std::chrono::milliseconds(1500));

    timers[0].action(); // the command's timer runs out first and changes nothing
    QCOMPARE(titles(), QStringList({"Copy", "Copied"}));
    QCOMPARE(mcp->copiedSnippet(), std::optional<QString>("json"));
    timers[1].action();
    QCOMPARE(titles(), QStringList({"Copy", "Copy"}));
    QCOMPARE(mcp->copiedSnippet(), std::nullopt);
    QCOMPARE(mcp->copyButton("json")->accessibleName(), QString("Copy"));

    // Copying the same snippet twice: the first timer does not cut the second label short.
    mcp->copyButton("json")->click();
    mcp->copyButton("json")->click();
    timers[2].action();
    QCOMPARE(titles(), QStringList({"Copy", "Copied"}));
    timers[3].action();
    QCOMPARE(titles(), QStringList({"Copy", "Copy"}));
}

void SettingsViewTest::formIsRefilledEachTimeItIsShown()
{
    test::AppFixture fixture;
    AppSettings values = fixture.store->settings();
    values.monthsBack = 1;
    values.refreshMinutes = 60;
    values.autoUpdate = false;
    values.notifyAssistantChanges = false;
    QVERIFY(fixture.store->saveSettings(values, std::nullopt));
    SettingsView view(*fixture.store, *fixture.updater);
    view.show();
    auto* months = child<QSpinBox>(&view, "monthsBack");
    QCOMPARE(child<QLineEdit>(&view, "baseURL")->text(), QString::fromStdString(values.baseURL));
    QCOMPARE(child<QLineEdit>(&view, "apiToken")->echoMode(), QLineEdit::Password);
    QCOMPARE(months->text(), QString("1 month"));
    QCOMPARE(child<QComboBox>(&view, "refreshMinutes")->currentText(), QString("Every hour"));
    QVERIFY(!child<QCheckBox>(&view, "autoUpdate")->isChecked());
    QVERIFY(!child<QCheckBox>(&view, "notifyAssistantChanges")->isChecked());

    // The stepper stays within 1 and 12 months.
    months->setValue(0);
    QCOMPARE(months->value(), 1);
    months->setValue(3);
    QCOMPARE(months->text(), QString("3 months"));
    months->setValue(13);
    QCOMPARE(months->value(), 12);

    // Edits abandoned by closing are gone the next time the window is shown.
    child<QLineEdit>(&view, "baseURL")->setText("https://elsewhere.atlassian.net");
    view.hide();
    values.email = "changed@example.com";
    QVERIFY(fixture.store->saveSettings(values, std::nullopt));
    view.show();
    QCOMPARE(child<QLineEdit>(&view, "baseURL")->text(), QString::fromStdString(values.baseURL));
    QCOMPARE(child<QLineEdit>(&view, "email")->text(), QString("changed@example.com"));
    QCOMPARE(months->value(), 1);
}

void SettingsViewTest::returnSavesAnEmptyIssueTypeAsTask()
{
    test::AppFixture fixture;
    int closed = 0;
    SettingsView view(*fixture.store, *fixture.updater);
    QObject::connect(&view, &QDialog::finished, [&closed] { ++closed; });
    view.show();
    child<QLineEdit>(&view, "defaultIssueType")->clear();
    child<QLineEdit>(&view, "defaultProjectKey")->setText("QLT");
    child<QComboBox>(&view, "refreshMinutes")->setCurrentIndex(0);
    child<QCheckBox>(&view, "autoUpdate")->setChecked(false);
    child<QCheckBox>(&view, "notifyAssistantChanges")->setChecked(false);
    QTest::keyClick(child<QLineEdit>(&view, "defaultProjectKey"), Qt::Key_Return);

    QCOMPARE(closed, 1);
    QCOMPARE(fixture.store->settings().defaultIssueType, std::string("Task"));
    QCOMPARE(fixture.store->settings().projectKey, std::string("QLT"));
    QCOMPARE(fixture.store->settings().refreshMinutes, 0);
    QVERIFY(!fixture.store->settings().autoUpdate);
    QVERIFY(!fixture.store->settings().notifyAssistantChanges);
    QCOMPARE(fixture.store->apiToken(), QString::fromStdString(fixture.jira.token())); // not typed, not written
    QVERIFY(!fixture.updater->isArmed());
    // The reload after saving runs against the saved site.
    QVERIFY(fixture.jira.waitForRequests(4));

    child<QCheckBox>(&view, "autoUpdate")->setChecked(true);
    child<QPushButton>(&view, "settingsDone")->click();
    QVERIFY(fixture.updater->isArmed());
}

void SettingsViewTest::escapeCancelsWithoutSaving()
{
    test::AppFixture fixture;
    fixture.updater->start(QString::fromStdString(fixture.store->settings().updateFeedURL), true);
    const SettingsValues before = SettingsStore(fixture.folder / "settings").load();
    int closed = 0;
    SettingsView view(*fixture.store, *fixture.updater);
    QObject::connect(&view, &QDialog::finished, [&closed] { ++closed; });
    view.show();
    child<QLineEdit>(&view, "defaultProjectKey")->setText("QLT");
    child<QCheckBox>(&view, "autoUpdate")->setChecked(false);
    child<QCheckBox>(&view, "notifyAssistantChanges")->setChecked(false);
    QTest::keyClick(child<QLineEdit>(&view, "defaultProjectKey"), Qt::Key_Escape);
    QCOMPARE(closed, 1);
    QCOMPARE(fixture.store->settings().projectKey, std::string("TB"));
    QVERIFY(fixture.updater->isArmed());
    QVERIFY(SettingsStore(fixture.folder / "settings").load().json() == before.json());
}

void SettingsViewTest::failedSaveKeepsTheWindowOpenAndTheTyping()
{
    test::TempDir dir;
    test::writeFile(dir / "not-a-folder", "x"); // the settings folder cannot be made
    AppStore store(SettingsStore(dir / "not-a-folder"), Timing{}, QString());
    Updater updater;
    int closed = 0;
    SettingsView view(store, updater);
    QObject::connect(&view, &QDialog::finished, [&closed] { ++closed; });
    view.show();
    child<QLineEdit>(&view, "baseURL")->setText("https://acme.atlassian.net");
    child<QLineEdit>(&view, "email")->setText("ann@acme.example");
    child<QLineEdit>(&view, "defaultProjectKey")->setText("ACME");
    child<QPushButton>(&view, "settingsDone")->click();

    QCOMPARE(closed, 0);
    QVERIFY(store.saveError().has_value());
    auto* banner = view.findChild<ErrorBanner*>();
    QVERIFY(banner->isVisible());
    QCOMPARE(banner->message(), *store.saveError());
    QCOMPARE(child<QLineEdit>(&view, "baseURL")->text(), QString("https://acme.atlassian.net"));
    QCOMPARE(child<QLineEdit>(&view, "email")->text(), QString("ann@acme.example"));
    QCOMPARE(child<QLineEdit>(&view, "defaultProjectKey")->text(), QString("ACME"));
    QVERIFY(store.settings() == AppSettings()); // the store keeps what is saved
    QVERIFY(!updater.isArmed());
}

void SettingsViewTest::refusedLoginItemChangeResetsTheSwitch()
{
    test::AppFixture fixture;
    test::TempDir home;
    test::writeFile(home / "autostart", "a file where the folder should be");
    ConfigHome config(home.path());
    SettingsView view(*fixture.store, *fixture.updater);
    view.show();
    auto* launch = child<QCheckBox>(&view, "launchAtLogin");
    QVERIFY(!launch->isChecked());
    launch->toggle(); // as the Toggle action of assistive technology does: no click
    QVERIFY(!launch->isChecked());

    // Where the entry can be written the switch stays on, and it is applied at once, not on "Done".
    test::TempDir writable;
    ConfigHome usable(writable.path());
    launch->click();
    QVERIFY(launch->isChecked());
    QVERIFY(LoginItem::isRegistered());
    child<QPushButton>(&view, "settingsCancel")->click();
    QVERIFY(LoginItem::isRegistered());
    launch->click();
    QVERIFY(!launch->isChecked());
    QVERIFY(!LoginItem::isRegistered());
}

void SettingsViewTest::checkNowUsesTheTypedFeedAddress()
{
    test::AppFixture fixture;
    SettingsView view(*fixture.store, *fixture.updater);
    view.show();
    auto* feed = child<QLineEdit>(&view, "feedURL");
    auto* check = child<QPushButton>(&view, "checkNow");
    feed->clear();
    QVERIFY(!check->isEnabled());
    feed->setText("not a feed address");
    QVERIFY(check->isEnabled());
    check->click();
    auto* error = child<QLabel>(&view, "updateError");
    QTRY_COMPARE_WITH_TIMEOUT(error->text(), QString("Update check failed: bad feed URL"), 10000);
    QVERIFY(error->isVisible());
    QCOMPARE(error->palette().color(QPalette::WindowText), look::red());
    QVERIFY(check->isEnabled());
    QCOMPARE(fixture.store->settings().updateFeedURL, std::string(kDefaultUpdateFeedURL)); // not saved
}

void SettingsViewTest::testConnectionUsesTheFormCredentialsOnly()
{
    test::AppFixture fixture;
    const SettingsValues before = SettingsStore(fixture.folder / "settings").load();
    SettingsView view(*fixture.store, *fixture.updater);
    view.show();
    auto* test = child<QPushButton>(&view, "testConnection");
    auto* token = child<QLineEdit>(&view, "apiToken");
    for (const char* value : {"", " "}) {
        token->setText(value);
        QCOMPARE(test->isEnabled(), *value != '\0'); // a blank counts as content
    }
    token->setText(QString::fromStdString(fixture.jira.token()));
    test->click();
    auto* result = child<QLabel>(&view, "testResult");
    QTRY_VERIFY_WITH_TIMEOUT(result->text().startsWith("Connected as "), 10000);
    QVERIFY(test->isVisible() && test->isEnabled());
    QCOMPARE(result->palette().color(QPalette::WindowText), look::green());
    QVERIFY(SettingsStore(fixture.folder / "settings").load().json() == before.json());

    token->setText("another-wrong-token");
    test->click();
    QTRY_VERIFY_WITH_TIMEOUT(!result->text().isEmpty() && !result->text().startsWith("Connected"), 10000);
    QCOMPARE(result->palette().color(QPalette::WindowText), look::orange());
}

void SettingsViewTest::controlsAreNamedAndTabbedInVisualOrder()
{
    test::AppFixture fixture;
    SettingsView view(*fixture.store, *fixture.updater);
    view.show();
    QCOMPARE(view.focusWidget(), child<QWidget>(&view, "baseURL"));
    QCOMPARE(
        test::tabStops(child<QPushButton>(&view, "settingsCancel")),
        QStringList({"Cancel", "Done", "Jira site URL", "Email", "API token", QStringLiteral("Create an API token ↗"),
                     "Default project key", "Default issue type", "Show Done from the last", "Auto-refresh",
                     "Launch at login", "Notify me about changes made by assistants", "Test connection",
                     "Check for updates automatically", "Feed URL", "Check now", "MCP server (Claude Code)"}));
    for (const char* name : {"baseURL", "email", "apiToken", "defaultProjectKey", "defaultIssueType", "monthsBack",
                             "refreshMinutes", "feedURL"}) {
        QVERIFY2(test::isLabelled(&view, child<QWidget>(&view, name)), name);
    }
}

QTEST_MAIN(SettingsViewTest)
#include "settings_view_test.moc"
