#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "app/app_fixture.h"
#include "app/look/error_banner.h"
#include "app/look/look.h"
#include "app/look/segmented_control.h"
#include "app/look/spinner.h"
#include "app/model/updater.h"
#include "app/panel/status_menu.h"
#include "app/windows/about_view.h"
#include "app/windows/add_task_view.h"
#include "app/windows/mcp_section.h"
#include "app/windows/mcp_snippets.h"
#include "app/windows/settings_view.h"
#include "app/windows/task_detail_view.h"
#include "app/windows/window_contents.h"
#include "core/base/app_info.h"
#include "core/jira/date.h"
#include "core/platform/executable.h"
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

struct Form
{
    QLineEdit* projectKey;
    QLineEdit* summary;
    QPlainTextEdit* description;
    QLineEdit* issueType;
    SegmentedControl* target;
    QCheckBox* assignToMe;
    QPushButton* create;
    ErrorBanner* banner;

    explicit Form(QWidget* view)
        : projectKey(view->findChild<QLineEdit*>("projectKey")), summary(view->findChild<QLineEdit*>("summary")),
          description(view->findChild<QPlainTextEdit*>("description")),
          issueType(view->findChild<QLineEdit*>("issueType")), target(view->findChild<SegmentedControl*>("target")),
          assignToMe(view->findChild<QCheckBox*>("assignToMe")), create(view->findChild<QPushButton*>("createTask")),
          banner(view->findChild<ErrorBanner*>("errorBanner"))
    {
    }
};

// A shown New Task window whose closings are counted.
struct ShownAddTask
{
    AddTaskView view;
    int closed = 0;
    Form form;

    explicit ShownAddTask(AppStore& store) : view(store), form(&view)
    {
        QObject::connect(&view, &QDialog::finished, [this] { ++closed; });
        view.show();
    }
};

using Clock = std::chrono::system_clock;

Clock::time_point at(const char* timestamp)
{
    return *JiraDate::parse(std::string_view(timestamp));
}

IssueStatus status(const char* name, const char* category)
{
    return IssueStatus{name ? std::optional<std::string>(name) : std::nullopt, StatusCategory{category, {}}};
}

// The items the menu shows when it opens.
QStringList menuTitles(StatusMenu* button)
{
    button->rebuildMenu();
    QStringList titles;
    for (QAction* action : button->menu()->actions()) {
        titles << (action->isSeparator() ? QString("---") : action->text());
    }
    return titles;
}

} // namespace

// The four windows: settings, new task, task detail and About, alone and in the real window manager.
class WindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void snippetsWorkWhenPasted()
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

    void mcpSectionShowsAndCopiesTheSnippets()
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
            QString(
                "claude mcp add taskbell -s project -- '/home/ann/My Apps/Taskbell.app/Contents/bin/taskbell' --mcp"));

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
        auto titles = [mcp] {
            return QStringList({mcp->copyButton("command")->text(), mcp->copyButton("json")->text()});
        };

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

    void formIsRefilledEachTimeItIsShown()
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

    void returnSavesAnEmptyIssueTypeAsTask()
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

    void escapeCancelsWithoutSaving()
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

    void failedSaveKeepsTheWindowOpenAndTheTyping()
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

    void refusedLoginItemChangeResetsTheSwitch()
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

    void checkNowUsesTheTypedFeedAddress()
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

    void testConnectionUsesTheFormCredentialsOnly()
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

    void controlsAreNamedAndTabbedInVisualOrder()
    {
        test::AppFixture fixture;
        SettingsView view(*fixture.store, *fixture.updater);
        view.show();
        QCOMPARE(view.focusWidget(), child<QWidget>(&view, "baseURL"));
        QCOMPARE(test::tabStops(child<QPushButton>(&view, "settingsCancel")),
                 QStringList({"Cancel", "Done", "Jira site URL", "Email", "API token",
                              QStringLiteral("Create an API token ↗"), "Default project key", "Default issue type",
                              "Show Done from the last", "Auto-refresh", "Launch at login",
                              "Notify me about changes made by assistants", "Test connection",
                              "Check for updates automatically", "Feed URL", "Check now", "MCP server (Claude Code)"}));
        for (const char* name : {"baseURL", "email", "apiToken", "defaultProjectKey", "defaultIssueType", "monthsBack",
                                 "refreshMinutes", "feedURL"}) {
            QVERIFY2(test::isLabelled(&view, child<QWidget>(&view, name)), name);
        }
    }

    void canSubmitNeedsProjectAndSummary()
    {
        struct Case
        {
            const char* projectKey;
            const char* summary;
            bool canSubmit;
        };
        const Case cases[] = {
            {"TB", "Write the report", true},
            {"TB", "  Write the report\t", true},
            {"TB", "", false},
            {"TB", "   ", false},
            {"TB", "\t \t", false},
            {"", "Write the report", false},
            {"  ", "Write the report", false},
            {" TB ", " x ", true},
        };
        test::AppFixture fixture;
        AddTaskView view(*fixture.store);
        Form form(&view);
        for (const Case& c : cases) {
            form.projectKey->setText(c.projectKey);
            form.summary->setText(c.summary);
            QCOMPARE(view.canSubmit(), c.canSubmit);
            QCOMPARE(form.create->isEnabled(), c.canSubmit);
        }
    }

    void opensWithTheConfiguredDefaults()
    {
        test::AppFixture fixture;
        AppSettings values = fixture.store->settings();
        values.defaultIssueType = "Bug";
        QVERIFY(fixture.store->saveSettings(values, std::nullopt));
        AddTaskView view(*fixture.store);
        view.show();
        Form form(&view);
        QCOMPARE(form.projectKey->text(), QString("TB"));
        QCOMPARE(form.issueType->text(), QString("Bug"));
        QCOMPARE(form.target->current(), 1);
        QVERIFY(form.target->segment(1)->isChecked());
        QVERIFY(form.assignToMe->isChecked());
        QVERIFY(!form.banner->isVisible());
        QVERIFY(!form.create->isEnabled()); // no summary yet

        // No configured key: the field stays empty (placeholder shown) and so does the button's state.
        values.projectKey = "";
        QVERIFY(fixture.store->saveSettings(values, std::nullopt));
        AddTaskView empty(*fixture.store);
        empty.show();
        Form emptyForm(&empty);
        QCOMPARE(emptyForm.projectKey->text(), QString());
        emptyForm.summary->setText("Something");
        QVERIFY(!emptyForm.create->isEnabled());
    }

    void returnCreatesOnlyWhenEnabledAndEscapeCancels()
    {
        test::AppFixture fixture;
        ShownAddTask shown(*fixture.store);
        auto& [view, closed, form] = shown;

        // Disabled: Return does nothing at all.
        QTest::keyClick(form.summary, Qt::Key_Return);
        QVERIFY(!view.isSubmitting());
        QCOMPARE(fixture.jira.requests("POST", "/rest/api/3/issue").size(), std::size_t{0});

        // In the description editor Return is a line break, never the default action.
        form.summary->setText("Ship it");
        form.description->setFocus();
        QTest::keyClick(form.description, Qt::Key_A);
        QTest::keyClick(form.description, Qt::Key_Return);
        QTest::keyClick(form.description, Qt::Key_B);
        QCOMPARE(form.description->toPlainText(), QString("a\nb"));
        QVERIFY(!view.isSubmitting());

        // Enabled: Return in a field creates the task, which closes the window.
        QTest::keyClick(form.summary, Qt::Key_Return);
        QVERIFY(view.isSubmitting());
        QVERIFY(!form.create->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 10000);
        QCOMPARE(fixture.jira.requests("POST", "/rest/api/3/issue").size(), std::size_t{1});

        int cancelled = 0;
        AddTaskView other(*fixture.store);
        QObject::connect(&other, &QDialog::finished, [&cancelled] { ++cancelled; });
        other.show();
        QTest::keyClick(Form(&other).summary, Qt::Key_Escape);
        QCOMPARE(cancelled, 1);
    }

    void failedCreateKeepsFieldsAndShowsTheStoreMessage()
    {
        test::AppFixture fixture;
        ShownAddTask shown(*fixture.store);
        auto& [view, closed, form] = shown;
        form.projectKey->setText("NOPE");
        form.summary->setText("A task nobody can file");
        form.description->setPlainText("Some words\n- a bullet");
        form.issueType->setText("Story");
        form.target->segment(2)->click();
        form.assignToMe->setChecked(false);

        form.create->click();
        QTRY_VERIFY_WITH_TIMEOUT(!view.isSubmitting(), 10000);
        QCOMPARE(closed, 0);
        QVERIFY(fixture.store->errorMessage().has_value());
        QCOMPARE(view.error(), fixture.store->errorMessage());
        QVERIFY(form.banner->isVisible());
        QCOMPARE(form.banner->message(), *fixture.store->errorMessage());

        QCOMPARE(form.projectKey->text(), QString("NOPE"));
        QCOMPARE(form.summary->text(), QString("A task nobody can file"));
        QCOMPARE(form.description->toPlainText(), QString("Some words\n- a bullet"));
        QCOMPARE(form.issueType->text(), QString("Story"));
        QCOMPARE(form.target->current(), 2);
        QVERIFY(!form.assignToMe->isChecked());
        QVERIFY(form.create->isEnabled());

        // The next attempt clears the old message as it starts, and succeeds.
        form.projectKey->setText("TB");
        form.create->click();
        QVERIFY(!form.banner->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 10000);
    }

    void emptyIssueTypeCreatesATask()
    {
        test::AppFixture fixture;
        ShownAddTask shown(*fixture.store);
        auto& [view, closed, form] = shown;
        form.issueType->clear();
        QCOMPARE(form.issueType->placeholderText(), QString("Task"));
        form.summary->setText("Typed without a type");
        form.target->segment(0)->click();
        form.create->click();
        QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 10000);
        const auto posts = fixture.jira.requests("POST", "/rest/api/3/issue");
        QCOMPARE(posts.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(posts[0].json()["fields"]["issuetype"]["name"].get<std::string>()),
                 QString("Task"));
    }

    void fieldsAreNamedAndTabbedInVisualOrder()
    {
        test::AppFixture fixture;
        AddTaskView view(*fixture.store);
        view.show();
        Form form(&view);
        for (QLineEdit* edit : {form.projectKey, form.summary, form.issueType}) {
            QVERIFY(test::isLabelled(&view, edit));
        }
        // Named controls, in the order they are seen.
        QCOMPARE(test::tabStops(view.findChild<QPushButton*>("addTaskCancel")),
                 QStringList({"Cancel", "Project key", "Summary", "Description (optional)", "Issue type", "To Do",
                              "In Progress", "Done", "Assign to me", "Create task"}));
    }

    void detailRowsFollowTheirConditions()
    {
        const auto now = at("2026-07-10T12:00:00.000+0000");
        const QString created = TaskDetailView::dateText(at("2026-07-08T09:00:00.000+0000"), now);
        const QString updated = TaskDetailView::dateText(at("2026-07-09T09:00:00.000+0000"), now);
        const QString resolved = TaskDetailView::dateText(at("2026-07-09T18:00:00.000+0000"), now);
        QVERIFY(updated.endsWith(QStringLiteral(" · yesterday")));

        struct Case
        {
            const char* what;
            IssueFields fields;
            QStringList rows;
        };
        IssueFields full;
        full.status = status("In Review", "indeterminate");
        full.project = ProjectRef{"TB", "Taskbell"};
        full.assignee = JiraUser{"1", "Ana Pereira", {}};
        full.created = "2026-07-08T09:00:00.000+0000";
        full.updated = "2026-07-09T09:00:00.000+0000";
        full.resolutiondate = "2026-07-09T18:00:00.000+0000"; // not "done": no Done row all the same
        IssueFields doneWithoutResolution;
        doneWithoutResolution.status = status("Done", "done");
        doneWithoutResolution.updated = full.updated;
        IssueFields doneResolved = doneWithoutResolution;
        doneResolved.resolutiondate = full.resolutiondate;
        IssueFields doneUnparsable = doneWithoutResolution;
        doneUnparsable.resolutiondate = "yesterday-ish";
        IssueFields bare;
        bare.status = status(nullptr, "new");
        bare.created = "08/07/2026";
        bare.assignee = JiraUser{"1", {}, "ana@example.com"};
        bare.project = ProjectRef{{}, "No key"};

        const Case cases[] = {
            {"all rows",
             full,
             {"Status=In Review", "Project=TB", "Assignee=Ana Pereira", "Created=" + created, "Updated=" + updated}},
            {"done, updated stands in",
             doneWithoutResolution,
             {"Status=Done", "Updated=" + updated, "Done=" + updated}},
            {"done, resolved", doneResolved, {"Status=Done", "Updated=" + updated, "Done=" + resolved}},
            {"done, unparsable resolution", doneUnparsable, {"Status=Done", "Updated=" + updated, "Done=" + updated}},
            {"no names, unparsable created", bare, {"Status=Unknown"}},
            {"nothing at all", IssueFields{}, {"Status=Unknown"}},
        };
        for (const Case& c : cases) {
            QStringList rows;
            for (const auto& [label, value] : TaskDetailView::detailRows(Issue{"1", "TB-1", c.fields}, now)) {
                rows << label + "=" + value;
            }
            QVERIFY2(rows == c.rows, c.what);
        }
    }

    void headerAndFooterFollowTheIssue()
    {
        test::AppFixture fixture;
        Issue issue{"1", "TB-9", {}};
        TaskDetailView bare(*fixture.store, issue);
        bare.show();
        QCOMPARE(bare.findChild<QLabel*>("detailKey")->text(), QString("TB-9"));
        QVERIFY(!bare.findChild<QLabel*>("detailType")->isVisible());
        QVERIFY(!bare.findChild<QLabel*>("detailPriority")->isVisible());
        QCOMPARE(bare.findChild<QLabel*>("detailSummary")->text(), QString("(no summary)"));
        QCOMPARE(bare.findChild<QLabel*>("detailDescription")->text(), QString("No description."));
        QVERIFY(!bare.findChild<QPushButton*>("copyDescription")->isVisible());
        bare.findChild<QPushButton*>("copySummary")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("TB-9: (no summary)"));

        issue.fields.summary = "Write the report";
        issue.fields.issuetype = IssueType{"Bug", {}};
        issue.fields.priority = Priority{"High"};
        issue.fields.status = status("In Progress", "indeterminate");
        issue.fields.description = ADFNode{
            "doc",
            {},
            std::vector<ADFNode>{ADFNode{"paragraph", {}, std::vector<ADFNode>{ADFNode{"text", "Line one", {}}}}}};
        TaskDetailView full(*fixture.store, issue);
        full.show();
        QCOMPARE(full.findChild<QLabel*>("detailType")->text(), QString("Bug"));
        QCOMPARE(full.findChild<QLabel*>("detailPriority")->text(), QString("· High"));
        QCOMPARE(full.findChild<QLabel*>("detailDescription")->text(), QString("Line one"));
        auto* copyDescription = full.findChild<QPushButton*>("copyDescription");
        QVERIFY(copyDescription->isVisible());
        copyDescription->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("Line one"));
        auto* menu = full.findChild<StatusMenu*>();
        QCOMPARE(menu->badge()->text(), QString("In Progress"));
    }

    void followsTheStoreAndKeepsItsIssueWhenItLeaves()
    {
        test::AppFixture fixture;
        test::FakeIssue stored;
        stored.summary = "Current summary";
        stored.statusId = "3";
        stored.assigneeAccountId = fixture.jira.accountId();
        const std::string key = fixture.jira.addIssue(stored);

        Issue opened{"", key, {}};
        opened.fields.summary = "Summary when opened";
        opened.fields.status = status("Backlog", "new");
        TaskDetailView view(*fixture.store, opened);
        view.show();
        auto* summary = view.findChild<QLabel*>("detailSummary");
        auto* menu = view.findChild<StatusMenu*>();
        QCOMPARE(summary->text(), QString("Summary when opened"));

        // A reload brings the store's copy, and the window follows it without being reopened.
        QVERIFY(fixture.load());
        QCOMPARE(summary->text(), QString("Current summary"));
        QCOMPARE(menu->badge()->text(), QString("In Progress"));
        QCOMPARE(view.findChild<QLabel*>("detailValue-Status")->text(), QString("In Progress"));

        // The status menu lists the transitions and nothing else.
        fixture.store->ensureTransitions(view.current());
        QTRY_VERIFY_WITH_TIMEOUT(fixture.store->transitions(QString::fromStdString(key)).has_value(), 10000);
        QCOMPARE(menuTitles(menu),
                 QStringList({"Move to To Do", "Move to In Progress", "Move to Done", "Move to Backlog"}));

        // While the status change runs the spinner stands in for the menu; "To Do" is in no section, so
        // afterwards the window shows the issue as it was opened.
        fixture.jira.setDelay(std::chrono::milliseconds(200));
        QAction* toDo = menu->menu()->actions().first();
        toDo->trigger();
        QVERIFY(fixture.store->isBusy(QString::fromStdString(key)));
        QVERIFY(view.findChild<look::Spinner*>("detailBusy")->isVisible());
        QVERIFY(!menu->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!fixture.store->isBusy(QString::fromStdString(key)), 10000);
        QVERIFY(!fixture.store->issue(QString::fromStdString(key)));
        QCOMPARE(summary->text(), QString("Summary when opened"));
        QCOMPARE(menu->badge()->text(), QString("Backlog"));
        QVERIFY(menu->isVisible());
    }

    void windowsTakeTheirTitlesAndSizesAndCloseByKey()
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

    void showsTheRunningVersionAndTheChangelogNewestFirst()
    {
        AboutView view;
        view.show();
        QVERIFY(view.findChild<QLabel*>("aboutVersion")
                    ->text()
                    .contains(QString::fromStdString(platform::runningVersion())));
        QLayout* column = view.findChild<QScrollArea*>("aboutChangelog")->widget()->layout();
        QStringList order;
        for (int i = 0; i < column->count(); ++i) {
            if (QWidget* widget = column->itemAt(i)->widget();
                widget && widget->objectName().startsWith("changelog-")) {
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
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
