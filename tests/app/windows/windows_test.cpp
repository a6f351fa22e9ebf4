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
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>

#include "app/app_fixture.h"
#include "app/data_tables.h"
#include "app/look/error_banner.h"
#include "app/look/look.h"
#include "app/look/segmented_control.h"
#include "app/look/spinner.h"
#include "app/model/updater.h"
#include "app/panel/status_menu.h"
#include "app/windows/about_view.h"
#include "app/windows/add_task_view.h"
#include "app/windows/mcp_section.h"
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

// What sh makes of the command: `claude` replaced by a function that prints its arguments one per line
// (nothing at all when the command is not valid shell).
QStringList shellArguments(const QString& command)
{
    QProcess sh;
    sh.start("sh", {"-c", "claude() { for a in \"$@\"; do printf '%s\\n' \"$a\"; done; }\n" + command});
    sh.waitForFinished();
    return QString::fromUtf8(sh.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

struct Form
{
    QWidget* view;
    QLineEdit* projectKey = child<QLineEdit>(view, "projectKey");
    QLineEdit* summary = child<QLineEdit>(view, "summary");
    QPlainTextEdit* description = child<QPlainTextEdit>(view, "description");
    QLineEdit* issueType = child<QLineEdit>(view, "issueType");
    SegmentedControl* target = child<SegmentedControl>(view, "target");
    QCheckBox* assignToMe = child<QCheckBox>(view, "assignToMe");
    QPushButton* create = child<QPushButton>(view, "createTask");
    ErrorBanner* banner = child<ErrorBanner>(view, "errorBanner");
};

// A shown New Task window whose closings are counted.
struct ShownAddTask
{
    AddTaskView view;
    int closed = 0;
    Form form;

    explicit ShownAddTask(AppStore& store) : view(store), form{&view}
    {
        QObject::connect(&view, &QDialog::finished, [this] { ++closed; });
        view.show();
    }
};

using Clock = std::chrono::system_clock;

Clock::time_point at(const QString& timestamp)
{
    return *JiraDate::parse(timestamp.toStdString());
}

IssueStatus status(const char* name, const char* category)
{
    return IssueStatus{name ? std::optional<std::string>(name) : std::nullopt, StatusCategory{category, {}}};
}

} // namespace

// The four windows: settings, new task, task detail and About, alone and in the real window manager.
class WindowsTest : public QObject
{
    Q_OBJECT

private slots:
    // The section shows the snippets for this program; each works when pasted, wherever the program lies.
    void mcpSectionShowsAndCopiesTheSnippets()
    {
        test::AppFixture fixture;
        SettingsView view(*fixture.store, *fixture.updater);
        McpSection* mcp = view.mcpSection();
        const QString self = QCoreApplication::applicationFilePath();
        QCOMPARE(mcp->commandText(), "claude mcp add taskbell -s project -- " + self + " --mcp");
        const QString tools = child<QLabel>(mcp, "mcpTools")->text();
        QVERIFY2(tools.startsWith("Tools: create_task, ") && tools.endsWith('.'), qPrintable(tools));
        const Json rows = test::dataRows("app/windows.json", "snippet paths");
        for (const Json& row : rows) {
            const QString path = test::text(row[0]);
            mcp->setExecutable(path);
            QCOMPARE(shellArguments(mcp->commandText()),
                     QStringList({"mcp", "add", "taskbell", "-s", "project", "--", path, "--mcp"}));
            const QString json = mcp->jsonText();
            const QJsonObject server{
                {"type", "stdio"}, {"command", path}, {"args", QJsonArray({"--mcp"})}, {"env", QJsonObject()}};
            QCOMPARE(QJsonDocument::fromJson(json.toUtf8()).object(),
                     QJsonObject({{"mcpServers", QJsonObject({{"taskbell", server}})}}));
            QCOMPARE(json.count('\n'), 9);
            QVERIFY(!json.endsWith('\n'));
        }

        view.show();
        QVERIFY(!mcp->isExpanded());
        QVERIFY(!child<QWidget>(mcp, "mcpContent")->isVisible());
        child<QWidget>(mcp, "mcpDisclosure")->setProperty("checked", true); // as an assistive Toggle does
        QVERIFY(child<QWidget>(mcp, "mcpContent")->isVisible());

        // "Copied" follows the latest copy; each copy's timer runs out without cutting a later label short.
        std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> timers; // delay, action
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
        QCOMPARE(timers[1].first, std::chrono::milliseconds(1500));

        timers[0].second(); // the command's timer runs out first and changes nothing
        QCOMPARE(titles(), QStringList({"Copy", "Copied"}));
        timers[1].second();
        QCOMPARE(titles(), QStringList({"Copy", "Copy"}));
        QCOMPARE(mcp->copyButton("json")->accessibleName(), QString("Copy"));

        // Copying the same snippet twice: the first timer does not cut the second label short.
        mcp->copyButton("json")->click();
        mcp->copyButton("json")->click();
        timers[2].second();
        QCOMPARE(titles(), QStringList({"Copy", "Copied"}));
        timers[3].second();
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

        months->setValue(3);
        QCOMPARE(months->text(), QString("3 months"));

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

    // Escape closes without saving; Return saves (an empty issue type as Task) but leaves the token alone.
    void escapeCancelsAndReturnSaves()
    {
        test::AppFixture fixture;
        fixture.updater->start(QString::fromStdString(fixture.store->settings().updateFeedURL), true);
        const SettingsValues before = fixture.settings().load();
        int closed = 0;
        SettingsView view(*fixture.store, *fixture.updater);
        QObject::connect(&view, &QDialog::finished, [&closed] { ++closed; });
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            view.show();
            child<QLineEdit>(&view, "defaultIssueType")->clear();
            child<QLineEdit>(&view, "defaultProjectKey")->setText("QLT");
            child<QComboBox>(&view, "refreshMinutes")->setCurrentIndex(0);
            child<QCheckBox>(&view, "autoUpdate")->setChecked(false);
            child<QCheckBox>(&view, "notifyAssistantChanges")->setChecked(false);
            QTest::keyClick(child<QLineEdit>(&view, "defaultProjectKey"), key);
            const bool saved = key == Qt::Key_Return;
            QCOMPARE(fixture.updater->isArmed(), !saved);
            QCOMPARE(fixture.store->settings().projectKey == "QLT", saved);
            QCOMPARE(fixture.settings().load().json() != before.json(), saved);
        }
        QCOMPARE(closed, 2);
        QCOMPARE(fixture.store->settings().defaultIssueType, std::string("Task"));
        QCOMPARE(fixture.store->settings().refreshMinutes, 0);
        QVERIFY(!fixture.store->settings().autoUpdate);
        QVERIFY(!fixture.store->settings().notifyAssistantChanges);
        QCOMPARE(fixture.store->apiToken(), QString::fromStdString(fixture.jira.token())); // not typed, not written
        // The reload after saving runs against the saved site.
        QVERIFY(fixture.jira.waitForRequests(4));

        child<QCheckBox>(&view, "autoUpdate")->setChecked(true);
        child<QPushButton>(&view, "settingsDone")->click();
        QVERIFY(fixture.updater->isArmed());
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
        test::ScopedEnv config("XDG_CONFIG_HOME", home.path().string()); // where the login-item entry goes
        SettingsView view(*fixture.store, *fixture.updater);
        view.show();
        auto* launch = child<QCheckBox>(&view, "launchAtLogin");
        QVERIFY(!launch->isChecked());
        launch->toggle(); // as the Toggle action of assistive technology does: no click
        QVERIFY(!launch->isChecked());

        // Where the entry can be written the switch stays on, and it is applied at once, not on "Done".
        test::TempDir writable;
        test::ScopedEnv usable("XDG_CONFIG_HOME", writable.path().string());
        launch->click();
        QVERIFY(launch->isChecked());
        QVERIFY(LoginItem::isRegistered());
        child<QPushButton>(&view, "settingsCancel")->click();
        QVERIFY(LoginItem::isRegistered());
        launch->click();
        QVERIFY(!launch->isChecked());
        QVERIFY(!LoginItem::isRegistered());
    }

    // "Check now" and "Test connection" work with what is typed, saved or not.
    void buttonsUseTheTypedValuesAndSaveNothing()
    {
        test::AppFixture fixture;
        const SettingsValues before = fixture.settings().load();
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

        // "Test connection" uses the typed token, and saves nothing either.
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
        QVERIFY(fixture.settings().load().json() == before.json());

        token->setText("another-wrong-token");
        test->click();
        QTRY_VERIFY_WITH_TIMEOUT(!result->text().isEmpty() && !result->text().startsWith("Connected"), 10000);
        QCOMPARE(result->palette().color(QPalette::WindowText), look::orange());
    }

    // Every control named, every field labelled, and Tab walks them in the order they are seen.
    void controlsAreNamedAndTabbedInVisualOrder()
    {
        test::AppFixture fixture;
        SettingsView settings(*fixture.store, *fixture.updater);
        AddTaskView addTask(*fixture.store);
        const std::map<std::string, QWidget*> views{{"settings", &settings}, {"new task", &addTask}};
        const Json rows = test::dataRows("app/windows.json", "tab stops");
        for (const Json& row : rows) {
            QWidget* view = views.at(row[0].get<std::string>());
            view->show();
            QStringList stops;
            for (const Json& stop : row[3]) {
                stops << test::text(stop);
            }
            QCOMPARE(test::tabStops(child<QWidget>(view, row[1].get<std::string>().c_str())), stops);
            for (const Json& name : row[2]) {
                const std::string field = name.get<std::string>();
                QVERIFY2(test::isLabelled(view, child<QWidget>(view, field.c_str())), field.c_str());
            }
        }
        QCOMPARE(settings.focusWidget(), child<QWidget>(&settings, "baseURL"));
    }

    // The form opens with the configured defaults; "Create task" waits for a project key and a summary.
    void opensWithTheDefaultsAndNeedsProjectAndSummary()
    {
        test::AppFixture fixture;
        AppSettings values = fixture.store->settings();
        values.defaultIssueType = "Bug";
        QVERIFY(fixture.store->saveSettings(values, std::nullopt));
        AddTaskView view(*fixture.store);
        view.show();
        Form form{&view};
        QCOMPARE(form.projectKey->text(), QString("TB"));
        QCOMPARE(form.issueType->text(), QString("Bug"));
        QVERIFY(form.target->segment(1)->isChecked());
        QVERIFY(form.assignToMe->isChecked());
        QVERIFY(!form.banner->isVisible());
        QVERIFY(!form.create->isEnabled()); // no summary yet
        const Json rows = test::dataRows("app/windows.json", "can submit");
        for (const Json& row : rows) {
            form.projectKey->setText(test::text(row[0]));
            form.summary->setText(test::text(row[1]));
            QCOMPARE(form.create->isEnabled(), row[2].get<bool>());
        }

        // No configured key: the field stays empty (its placeholder shows).
        values.projectKey = "";
        QVERIFY(fixture.store->saveSettings(values, std::nullopt));
        AddTaskView empty(*fixture.store);
        QCOMPARE(Form{&empty}.projectKey->text(), QString());
    }

    void returnCreatesOnlyWhenEnabled()
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

        // Enabled: Return in a field creates the task (an empty issue type as a Task), which closes the window.
        form.issueType->clear();
        QTest::keyClick(form.summary, Qt::Key_Return);
        QVERIFY(view.isSubmitting());
        QVERIFY(!form.create->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 10000);
        const auto posts = fixture.jira.requests("POST", "/rest/api/3/issue");
        QCOMPARE(posts.size(), std::size_t{1});
        QCOMPARE(posts[0].json()["fields"]["issuetype"]["name"].get<std::string>(), std::string("Task"));
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

    // Each case of tests/data/app/detail_rows.json: the issue's fields and the rows shown, a date as {timestamp}.
    void detailRowsFollowTheirConditions()
    {
        const auto now = at("2026-07-10T12:00:00.000+0000");
        QVERIFY(TaskDetailView::dateText(at("2026-07-09T09:00:00.000+0000"), now).endsWith(" · yesterday"));
        const Json cases = Json::parse(test::readFile(TASKBELL_SOURCE_DIR "/tests/data/app/detail_rows.json"));
        const QRegularExpression date("\\{(.+)\\}");
        for (const Json& c : cases) {
            QStringList rows, expected;
            const Issue issue = decodeIssue(Json{{"id", "1"}, {"key", "TB-1"}, {"fields", c["fields"]}});
            for (const auto& [label, value] : TaskDetailView::detailRows(issue, now)) {
                rows << label + "=" + value;
            }
            for (const Json& row : c["rows"]) {
                QString text = QString::fromStdString(row.get<std::string>());
                const QRegularExpressionMatch match = date.match(text);
                expected << (match.hasMatch()
                                 ? text.replace(match.captured(0), TaskDetailView::dateText(at(match.captured(1)), now))
                                 : text);
            }
            QVERIFY2(rows == expected, c["what"].get<std::string>().c_str());
        }
    }

    void detailWindowShowsAndFollowsItsIssue()
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
        QCOMPARE(full.findChild<StatusMenu*>()->badge()->text(), QString("In Progress"));

        // The window follows the store's copy of its issue, and keeps its own when the issue leaves the store.
        const std::string key = fixture.addIssue("Current summary", "3");

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

        // (The menu's items are the panel row's status menu test's.)
        fixture.store->ensureTransitions(view.current());
        QTRY_VERIFY_WITH_TIMEOUT(fixture.store->transitions(QString::fromStdString(key)).has_value(), 10000);
        menu->rebuildMenu();

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
        const std::map<std::string, std::function<void()>> open{{"settings", [&] { windows.showSettings(); }},
                                                                {"new task", [&] { windows.showAddTask(); }},
                                                                {"about", [&] { windows.showAbout(); }},
                                                                {"detail", [&] {
                                                                     windows.showTaskDetail(Issue{"1", "TB-7", {}});
                                                                 }}};
        const Json rows = test::dataRows("app/windows.json", "windows");
        for (const Json& row : rows) {
            open.at(row[0].get<std::string>())();
            QCOMPARE(windows.activationMode(), ActivationMode::regular);
            const auto tops = QApplication::topLevelWidgets();
            auto shown = std::find_if(tops.begin(), tops.end(), [](QWidget* w) { return w->isVisible(); });
            QVERIFY(shown != tops.end() && (*shown)->focusWidget());
            QWidget* window = *shown;
            QCOMPARE(window->windowTitle(), test::text(row[1]));
            QCOMPARE(window->size(), QSize(row[2].get<int>(), row[3].get<int>()));
            QTest::keyClick(window->focusWidget(), row[4] == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            QCOMPARE(windows.activationMode(), ActivationMode::accessory); // closed
        }
    }

    void showsTheRunningVersionAndTheChangelogNewestFirst()
    {
        AboutView view;
        view.show();
        QVERIFY(view.findChild<QLabel*>("aboutVersion")
                    ->text()
                    .contains(QString::fromStdString(platform::runningVersion())));
        // One block a release, newest first: its version, its date and its change lines, verbatim and in order.
        QLayout* column = view.findChild<QScrollArea*>("aboutChangelog")->widget()->layout();
        QList<QStringList> blocks, expected;
        for (int i = 0; i < column->count(); ++i) {
            if (QWidget* block = column->itemAt(i)->widget(); block && block->objectName().startsWith("changelog-")) {
                blocks << QStringList(block->objectName());
                for (QLabel* label : block->findChildren<QLabel*>()) {
                    blocks.back() << label->text();
                }
            }
        }
        for (const ChangelogEntry& entry : AppInfo::changelog()) {
            expected << QStringList({QString::fromStdString("changelog-" + entry.version),
                                     QString::fromStdString("v" + entry.version), QString::fromStdString(entry.date)});
            for (const std::string& change : entry.changes) {
                expected.back() << QString("•") << QString::fromStdString(change);
            }
        }
        QCOMPARE(blocks, expected);
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
