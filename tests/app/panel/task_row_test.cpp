#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>

#include "app/app_fixture.h"
#include "app/look/look.h"
#include "app/look/spinner.h"
#include "app/panel/issue_actions.h"
#include "app/panel/status_menu.h"
#include "app/panel/task_row.h"
#include "core/jira/date.h"

using namespace taskbell;
using namespace taskbell::app;
using taskbell::test::AppFixture;

namespace {

using Clock = std::chrono::system_clock;

Issue issueWith(std::optional<std::string> summary, std::optional<std::string> category,
                std::optional<std::string> resolution, std::optional<std::string> updated,
                std::optional<std::string> created)
{
    Issue issue;
    issue.id = "10001";
    issue.key = "TB-1";
    issue.fields.summary = std::move(summary);
    if (category) {
        issue.fields.status = IssueStatus{"Some status", StatusCategory{category, std::nullopt}};
    }
    issue.fields.resolutiondate = std::move(resolution);
    issue.fields.updated = std::move(updated);
    issue.fields.created = std::move(created);
    return issue;
}

QString line(const char* timestamp, Clock::time_point now, const char* prefix = "")
{
    auto date = *JiraDate::parse(std::string_view(timestamp));
    return QString(prefix) +
           QString::fromStdString(JiraDate::dayLabel(date) + " \u00B7 " + JiraDate::relativeDays(date, now));
}

QStringList menuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    }
    return texts;
}

} // namespace

class TaskRowTest : public QObject
{
    Q_OBJECT

private slots:
    void textsOfARow()
    {
        Clock::time_point now = *JiraDate::parse(std::string_view("2026-07-10T12:00:00.000+0000"));
        struct Case
        {
            const char* name;
            Issue issue;
            QString summary;
            QString dateLine;
            bool done;
        };
        const Case cases[] = {
            {"no summary", issueWith(std::nullopt, "new", {}, {}, "2026-07-10T09:00:00.000+0000"), "(no summary)",
             line("2026-07-10T09:00:00.000+0000", now), false},
            {"created yesterday", issueWith("Fix", "indeterminate", {}, {}, "2026-07-09T09:00:00.000+0000"), "Fix",
             line("2026-07-09T09:00:00.000+0000", now), false},
            {"done on its resolution date",
             issueWith("Ship", "done", "2026-07-08T09:00:00.000+0000", "2026-07-09T09:00:00.000+0000", {}), "Ship",
             line("2026-07-08T09:00:00.000+0000", now, "Done "), true},
            {"done without resolution", issueWith("Ship", "done", {}, "2026-07-09T09:00:00.000+0000", {}), "Ship",
             line("2026-07-09T09:00:00.000+0000", now, "Done "), true},
            {"done with unparsable resolution",
             issueWith("Ship", "done", "last week", "2026-07-09T09:00:00.000+0000", {}), "Ship",
             line("2026-07-09T09:00:00.000+0000", now, "Done "), true},
            {"no parsable date", issueWith("Old", "new", {}, {}, "someday"), "Old", QString(), false},
        };
        for (const Case& test : cases) {
            RowTexts texts = RowTexts::of(test.issue, now);
            QCOMPARE(texts.summary, test.summary);
            QCOMPARE(texts.dateLine, test.dateLine);
            QCOMPARE(texts.dateIsDone, test.done);
            QCOMPARE(texts.helpText, QStringLiteral("Click to copy \u201CTB-1: %1\u201D").arg(test.summary));
        }
    }

    void transitionLabels()
    {
        struct Case
        {
            Transition transition;
            const char* label;
        };
        const Case cases[] = {
            {{"1", "Start", TransitionTarget{"In Progress", std::nullopt}}, "Move to In Progress"},
            {{"2", "Finish", TransitionTarget{std::nullopt, std::nullopt}}, "Move to Finish"},
            {{"3", "Finish", std::nullopt}, "Move to Finish"},
            {{"4", std::nullopt, std::nullopt}, "Move to status"},
        };
        for (const Case& test : cases) {
            QCOMPARE(transitionLabel(test.transition), QString(test.label));
        }
    }

    void rowShowsItsIssue()
    {
        AppFixture f;
        RowContext context;
        context.store = f.store.get();
        Issue unnamed = issueWith(std::nullopt, std::nullopt, {}, {}, {});
        unnamed.fields.status = IssueStatus{std::nullopt, std::nullopt};
        TaskRow row(unnamed, context);
        auto* menu = row.findChild<StatusMenu*>();
        QCOMPARE(menu->badge()->text(), QStringLiteral("Unknown"));
        QCOMPARE(menu->badge()->colour(), look::gray());
        // A group to assistive technology, named after its issue, holding two buttons.
        struct Case
        {
            QWidget* widget;
            QAccessible::Role role;
            QString name;
        };
        const Case cases[] = {
            {&row, QAccessible::Grouping, "TB-1: (no summary)"},
            {row.findChild<CopyArea*>(), QAccessible::Button,
             QStringLiteral("Click to copy \u201CTB-1: (no summary)\u201D")},
            {menu, QAccessible::Button, "Change status"},
        };
        for (const Case& test : cases) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(test.widget);
            QCOMPARE(accessible->role(), test.role);
            QCOMPARE(accessible->text(QAccessible::Name), test.name);
        }

        Issue done = issueWith("Ship", "done", "2026-07-08T09:00:00.000+0000", {}, {});
        row.setIssue(done);
        row.show();
        QToolButton* markDone = nullptr;
        for (auto* button : row.findChildren<QToolButton*>()) {
            if (button->accessibleName() == "Move to Done") {
                markDone = button;
            }
        }
        QVERIFY(markDone != nullptr && !markDone->isVisible());
        row.setIssue(issueWith("Ship", "indeterminate", {}, {}, {}));
        QVERIFY(markDone->isVisible());

        // A summary holding markup shows as typed in the help text, and the height a list reserves for a
        // row is the one its layout takes.
        const char* markup = "<p>Fix</p><br><style>p { color: red }</style> the <b>parser</b> and its retries "
                             "when the answer is cut short";
        Issue marked = issueWith(markup, "indeterminate", {}, {}, "2026-07-09T09:00:00.000+0000");
        std::string words;
        for (int i = 0; i < 30; ++i) {
            words += "a description that wraps ";
        }
        ADFNode text{"text", words, std::nullopt};
        marked.fields.description =
            ADFNode{"doc", std::nullopt, std::vector<ADFNode>{{"paragraph", std::nullopt, std::vector<ADFNode>{text}}}};
        row.setIssue(marked);
        QString tip = row.findChild<CopyArea*>()->toolTip();
        QString seen = Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
        QCOMPARE(seen, QStringLiteral("Click to copy \u201CTB-1: %1\u201D").arg(markup));
        for (int width : {300, 536}) {
            QCOMPARE(row.heightFor(marked, width), row.heightForWidth(width));
        }
    }

    void statusMenuLoadsTransitionsAndAddsTheRowActions()
    {
        AppFixture f;
        std::string key = f.addIssue("Write docs", "3");
        QVERIFY(f.load());
        Issue issue = f.store->inProgress().front();
        RowContext context;
        context.store = f.store.get();
        QStringList details;
        TaskRow row(issue, context);
        QObject::connect(&row, &TaskRow::taskDetailRequested,
                         [&details](const Issue& shown) { details << QString::fromStdString(shown.key); });
        auto* statusMenu = row.findChild<StatusMenu*>();
        QMenu* menu = statusMenu->ensureMenu();
        statusMenu->rebuildMenu();
        QString k = QString::fromStdString(key);
        QStringList extras{"—", "Show full details", "Copy " + k + " + summary", "Open " + k + " in browser"};
        QCOMPARE(menuTexts(menu), QStringList{"Loading…"} + extras);
        menu->actions().front()->trigger(); // does nothing
        QVERIFY(f.store->busyIssueKeys().empty());

        row.ensureTransitions();
        QVERIFY(QTest::qWaitFor([&] { return f.store->transitions(k).has_value(); }, 10000));
        statusMenu->rebuildMenu();
        QCOMPARE(menuTexts(menu),
                 (QStringList{"Move to To Do", "Move to In Progress", "Move to Done", "Move to Backlog"} + extras));
        menu->actions()[5]->trigger();
        QCOMPARE(details, QStringList{k});

        // Bound to another issue, the same row and menu act on that one.
        std::string otherKey = f.addIssue("Review", "10000");
        QVERIFY(f.load());
        row.setIssue(f.store->backlog().front());
        QCOMPARE(row.accessibleName(), QString::fromStdString(otherKey) + ": Review");
        statusMenu->rebuildMenu();
        QString o = QString::fromStdString(otherKey);
        QCOMPARE(menuTexts(menu).mid(menuTexts(menu).size() - 3),
                 (QStringList{"Show full details", "Copy " + o + " + summary", "Open " + o + " in browser"}));
        row.actions()->details()->trigger();
        QCOMPARE(details, (QStringList{k, o}));
    }

    void pressingTheStatusButtonOpensItsMenu()
    {
        AppFixture f;
        f.addIssue("Pressed", "3");
        QVERIFY(f.load());
        RowContext context;
        context.store = f.store.get();
        TaskRow row(f.store->inProgress().front(), context);
        row.show();
        auto* statusMenu = row.findChild<StatusMenu*>();
        QStringList seen;
        QTimer::singleShot(200, [&seen] {
            if (auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                seen = menuTexts(open);
                open->close();
            }
        });
        statusMenu->click(); // what the mouse, the keyboard and the accessibility Press action all do
        QVERIFY(!seen.isEmpty());
        QVERIFY(seen.contains("Show full details"));
        QCOMPARE(statusMenu->menu(), statusMenu->ensureMenu());
    }

    void busyRowShowsOnlyProgressAndCopyFlashes()
    {
        AppFixture f;
        f.addIssue("Quick one", "3");
        QVERIFY(f.load());
        RowContext context;
        context.store = f.store.get();
        context.copiedFlash = std::chrono::milliseconds(30);
        TaskRow row(f.store->inProgress().front(), context);
        QObject::connect(f.store.get(), &AppStore::stateChanged, &row,
                         [&] { row.setBusy(f.store->isBusy(QString::fromStdString(row.issue().key))); });
        row.show();
        auto* statusMenu = row.findChild<StatusMenu*>();
        QVERIFY(row.findChild<look::Spinner*>() == nullptr && statusMenu->isVisible());

        f.jira.setDelay(std::chrono::milliseconds(200));
        QSignalSpy finished(f.store.get(), &AppStore::loadFinished);
        f.store->markDone(row.issue());
        QVERIFY(row.isBusy());
        auto* spinner = row.findChild<look::Spinner*>();
        QVERIFY(spinner != nullptr && spinner->isVisible() && !statusMenu->isVisible());
        QVERIFY(QTest::qWaitFor([&] { return !row.isBusy(); }, 10000));
        QVERIFY(!spinner->isVisible() && statusMenu->isVisible());
        f.jira.setDelay(std::chrono::milliseconds(0));

        row.copy();
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("%1: Quick one").arg(QString::fromStdString(row.issue().key)));
        QVERIFY(row.isCopiedShown());
        QVERIFY(QTest::qWaitFor([&] { return !row.isCopiedShown(); }, 2000));
    }
};

QTEST_MAIN(TaskRowTest)
#include "task_row_test.moc"
