#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "app/app_fixture.h"
#include "app/look/spinner.h"
#include "app/panel/status_menu.h"
#include "app/windows/task_detail_view.h"
#include "core/jira/date.h"

using namespace taskbell;
using namespace taskbell::app;

namespace {

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

class TaskDetailViewTest : public QObject
{
    Q_OBJECT

private slots:
    void detailRowsFollowTheirConditions();
    void headerAndFooterFollowTheIssue();
    void followsTheStoreAndKeepsItsIssueWhenItLeaves();
};

void TaskDetailViewTest::detailRowsFollowTheirConditions()
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
        {"done, updated stands in", doneWithoutResolution, {"Status=Done", "Updated=" + updated, "Done=" + updated}},
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

void TaskDetailViewTest::headerAndFooterFollowTheIssue()
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
    issue.fields.description =
        ADFNode{"doc",
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

void TaskDetailViewTest::followsTheStoreAndKeepsItsIssueWhenItLeaves()
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

QTEST_MAIN(TaskDetailViewTest)
#include "task_detail_view_test.moc"
