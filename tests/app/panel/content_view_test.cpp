#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>

#include <httplib.h>

#include "app/app_fixture.h"
#include "app/data_tables.h"
#include "app/look/error_banner.h"
#include "app/look/look.h"
#include "app/look/spinner.h"
#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/issue_actions.h"
#include "app/panel/section_views.h"
#include "app/panel/status_menu.h"
#include "app/panel/task_list.h"
#include "app/panel/task_row.h"
#include "app/panel/update_banner.h"
#include "core/jira/date.h"
#include "core/jira/models.h"
#include "core/platform/executable.h"

using namespace taskbell;
using namespace taskbell::app;
using taskbell::test::AppFixture;

namespace {

using Clock = std::chrono::system_clock;

std::optional<std::string> optional(const Json& value)
{
    return value.is_null() ? std::nullopt : std::optional<std::string>(value.get<std::string>());
}

Issue issueWith(std::optional<std::string> summary, std::optional<std::string> category,
                std::optional<std::string> resolution = {}, std::optional<std::string> updated = {},
                std::optional<std::string> created = {})
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

QStringList menuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    }
    return texts;
}

QStringList visibleTexts(QWidget* root)
{
    QStringList texts;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty()) {
            texts << label->text();
        }
    }
    return texts;
}

QAbstractButton* button(QWidget* root, const QString& name)
{
    for (QAbstractButton* candidate : root->findChildren<QAbstractButton*>()) {
        if (candidate->accessibleName() == name) {
            return candidate;
        }
    }
    return nullptr;
}

bool shown(QWidget* root, const QString& buttonName)
{
    QAbstractButton* found = button(root, buttonName);
    return found != nullptr && found->isVisibleTo(root);
}

struct Panel
{
    AppFixture fixture;
    QStringList calls;
    ContentView view;

    explicit Panel(bool configured = true) : fixture(configured), view(*fixture.store, *fixture.updater)
    {
        view.resize(560, 870);
        // The requests the view sends up, in order.
        QObject::connect(&view, &ContentView::addTaskRequested, [this] { calls << "addTask"; });
        QObject::connect(&view, &ContentView::settingsRequested, [this] { calls << "settings"; });
        QObject::connect(&view, &ContentView::aboutRequested, [this] { calls << "about"; });
        QObject::connect(&view, &ContentView::quitRequested, [this] { calls << "quit"; });
        QObject::connect(&view, &ContentView::taskDetailRequested,
                         [this](const Issue& issue) { calls << QString::fromStdString("detail " + issue.key); });
    }

    // Shows the panel and waits for its first load to be shown.
    bool open()
    {
        QSignalSpy finished(fixture.store.get(), &AppStore::loadFinished);
        view.show();
        bool loaded = finished.wait(10000);
        settle();
        return loaded;
    }

    void settle()
    {
        QCoreApplication::processEvents();
        view.refresh();
    }
};

} // namespace

class ContentViewTest : public QObject
{
    Q_OBJECT

private slots:
    // One panel through its life: the prompt before any settings, the first load once they are saved with
    // "Loading…" until it ends, the hints of an empty site, then sections, tabs, the Done months and the
    // footer once issues arrive; its buttons ask for their windows.
    void fromFirstStartToSections()
    {
        Panel panel(false);
        AppFixture& f = panel.fixture;
        panel.view.show();
        panel.settle();
        QVERIFY(panel.view.findChild<QWidget*>("notConfigured")->isVisibleTo(&panel.view));
        QVERIFY(!panel.view.filterTabs()->isVisibleTo(&panel.view));
        QVERIFY(!panel.view.scrollArea()->isVisibleTo(&panel.view));
        const std::pair<const char*, bool> firstButtons[] = {
            {"Add task", false}, {"Refresh", false}, {"Settings", true}, {"Quit", true}, {"Open Settings", true}};
        for (const auto& [name, visible] : firstButtons) {
            QVERIFY2(shown(&panel.view, name) == visible, name);
        }
        QVERIFY(!visibleTexts(&panel.view).join(' ').contains("backlog")); // no footer count
        QVERIFY(f.jira.requests().empty());

        f.jira.setDelay(std::chrono::milliseconds(300));
        QSignalSpy finished(f.store.get(), &AppStore::loadFinished);
        f.configure();
        f.store->load(false); // as the settings window does once it has saved
        panel.settle();
        QCOMPARE(panel.view.filter(), TaskFilter::inProgress);
        QVERIFY(visibleTexts(panel.view.taskList()).contains(QStringLiteral("Loading…")));
        QVERIFY(!shown(&panel.view, "Refresh"));
        QVERIFY(panel.view.findChild<look::Spinner*>()->isVisibleTo(&panel.view));
        QVERIFY(finished.wait(10000));
        f.jira.setDelay(std::chrono::milliseconds(0));
        panel.settle();
        QCOMPARE(visibleTexts(panel.view.taskList()), QStringList{"Nothing in progress right now."});
        QVERIFY(shown(&panel.view, "Refresh"));
        std::size_t requests = f.jira.requests().size();
        panel.view.filterTabs()->button(TaskFilter::all)->toggle();
        QStringList all = visibleTexts(panel.view.taskList());
        for (const char* text : {"Backlog", "In Progress", "Done", "Nothing in the backlog.",
                                 "Nothing in progress right now.", "No completed tasks in this period."}) {
            QVERIFY2(all.contains(text), text);
        }
        QCOMPARE(all.count("0"), 3);
        QCOMPARE(f.jira.requests().size(), requests); // switching tabs never loads

        QAbstractButton* version = button(&panel.view, "v" + QString::fromStdString(platform::runningVersion()));
        const std::pair<QAbstractButton*, const char*> buttons[] = {{button(&panel.view, "Add task"), "addTask"},
                                                                    {button(&panel.view, "Settings"), "settings"},
                                                                    {button(&panel.view, "Quit"), "quit"},
                                                                    {version, "about"}};
        for (const auto& [pressed, call] : buttons) {
            panel.calls.clear();
            pressed->click();
            QCOMPARE(panel.calls, QStringList{call});
        }

        f.addIssue("Backlog one", "10000");
        f.addIssue("Backlog two", "10000");
        f.addIssues(3, "3");
        const auto earlier = std::chrono::duration_cast<std::chrono::milliseconds>(
            (std::chrono::system_clock::now() - std::chrono::hours(24 * 35)).time_since_epoch());
        test::FakeIssue resolved;
        resolved.resolutiondate = f.jira.timestamp(earlier.count());
        f.addIssue("Finished earlier", "10002", resolved);
        f.addIssue("Finished now", "10002");
        QVERIFY(f.load());
        panel.settle();

        const Json tabs = test::dataRows("app/panel.json", "tabs");
        for (std::size_t i = 0; i < kAllTaskFilters.size(); ++i) {
            const Json& tab = tabs.at(i);
            QCOMPARE(std::string(rawValue(kAllTaskFilters[i])), tab[0].get<std::string>());
            QToolButton* segment = panel.view.filterTabs()->button(kAllTaskFilters[i]);
            segment->toggle();
            // A radio button to assistive technology, named with its label, checked now.
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(segment);
            QCOMPARE(accessible->role(), QAccessible::RadioButton);
            QCOMPARE(accessible->text(QAccessible::Name), test::text(tab[1]));
            QVERIFY(accessible->state().checked);
            QCOMPARE(int(panel.view.taskList()->shownRows().size()), tab[2].get<int>());
            int headers = 0;
            for (QWidget* widget : panel.view.taskList()->shownWidgets()) {
                headers += qobject_cast<SectionHeader*>(widget) != nullptr;
            }
            QCOMPARE(headers, tab[3].get<int>());
        }
        QVERIFY(!panel.view.filterTabs()->button(TaskFilter::all)->isChecked()); // one tab checked at a time
        // Done is grouped by month, newest first, each group's label before its rows.
        auto groups = f.store->doneByMonth();
        QCOMPARE(groups.size(), std::size_t(2));
        QStringList order;
        for (QWidget* widget : panel.view.taskList()->shownWidgets()) {
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                order << label->text();
            } else if (auto* row = qobject_cast<TaskRow*>(widget)) {
                order << QString::fromStdString(*row->issue().fields.summary);
            }
        }
        QCOMPARE(order, (QStringList{QString::fromStdString(groups[0].label), "Finished now",
                                     QString::fromStdString(groups[1].label), "Finished earlier"}));
        QVERIFY(visibleTexts(&panel.view).contains(QStringLiteral("2 backlog \u00B7 3 active \u00B7 2 done")));
    }

    void rowsAreMadeOnlyNearTheViewportAndTheKeyboardReachesEach()
    {
        Panel panel;
        panel.fixture.addIssues(200, "3");
        QVERIFY(panel.open());
        TaskList* list = panel.view.taskList();
        const std::vector<Issue>& issues = panel.fixture.store->inProgress();
        std::size_t made = list->rowCount();
        QVERIFY2(made > 0 && made < 40, QByteArray::number(qulonglong(made)));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(list);
        QCOMPARE(accessible->role(), QAccessible::List);
        QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("200 tasks"));
        // Once painted, the list also has rows ready just below what it shows.
        const int bottom = panel.view.scrollArea()->viewport()->height();
        const std::vector<TaskRow*> firstRows = list->shownRows();
        QVERIFY(std::count_if(firstRows.begin(), firstRows.end(), [&](TaskRow* row) { return row->y() > bottom; }) >=
                2);

        // The scroll range spans every row from the first frame; its end shows the last issue.
        QScrollBar* bar = panel.view.scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QCOMPARE(list->shownRows().back()->issue().key, issues.back().key);
        QVERIFY(list->shownRows().back()->isVisibleTo(&panel.view));
        QCOMPARE(list->rowCount(), made);

        // A reload keeps the position and the rows on screen.
        bar->setValue(bar->maximum() / 2);
        std::vector<TaskRow*> before = list->shownRows();
        QVERIFY(panel.fixture.load(true));
        panel.settle();
        QCOMPARE(bar->value(), bar->maximum() / 2);
        QCOMPARE(list->shownRows(), before);

        // A reload while the panel is hidden shows once the panel is shown again.
        bar->setValue(0);
        panel.view.hide();
        std::string edited = list->shownRows().front()->issue().key;
        httplib::Client client(panel.fixture.jira.baseUrl());
        client.set_basic_auth(panel.fixture.jira.email(), panel.fixture.jira.token());
        QVERIFY(client.Put("/rest/api/3/issue/" + edited, R"({"fields":{"summary":"Renamed while hidden"}})",
                           "application/json"));
        QVERIFY(panel.fixture.load(true));
        panel.settle();
        panel.view.show();
        panel.settle();
        QCOMPARE(list->shownRows().front()->issue().key, edited);
        QCOMPARE(list->shownRows().front()->accessibleName(),
                 QString::fromStdString(edited + ": Renamed while hidden"));

        // Tab and Down reach every issue, one after the other, while rows are still made only near the viewport.
        QApplication::setActiveWindow(&panel.view);
        QVERIFY(QTest::qWaitForWindowActive(&panel.view));
        auto focusedKey = [] {
            for (QWidget* widget = QApplication::focusWidget(); widget != nullptr; widget = widget->parentWidget()) {
                if (auto* row = qobject_cast<TaskRow*>(widget)) {
                    return row->issue().key;
                }
            }
            return std::string();
        };
        for (auto [name, key, pressesPerRow] : {std::tuple{"Tab", Qt::Key_Tab, 4}, {"Down", Qt::Key_Down, 1}}) {
            panel.view.scrollArea()->verticalScrollBar()->setValue(0);
            // Tab from the last tab enters the list at its first row.
            QWidget* lastTab = panel.view.filterTabs()->button(TaskFilter::done);
            lastTab->setFocus(Qt::TabFocusReason);
            QTest::keyClick(lastTab, Qt::Key_Tab);
            QCOMPARE(focusedKey(), issues.front().key);
            std::vector<std::string> reached{focusedKey()};
            for (int press = 0; press < int(issues.size()) * pressesPerRow; ++press) {
                QTest::keyClick(QApplication::focusWidget(), key);
                if (focusedKey() != reached.back() && !focusedKey().empty()) {
                    reached.push_back(focusedKey());
                }
            }
            QCOMPARE(int(reached.size()), int(issues.size()));
            QCOMPARE(reached.back(), issues.back().key);
            QVERIFY2(list->rowCount() < issues.size() / 2, name);
        }
    }

    void dateLineFollowsReloadsAndTheDayChange()
    {
        AppFixture f;
        auto at = [](int day, int hour, int minute, int second, int ms) {
            qint64 epoch = QDateTime(QDate(2026, 3, day), QTime(hour, minute, second, ms)).toMSecsSinceEpoch();
            return std::chrono::system_clock::time_point(std::chrono::milliseconds(epoch));
        };
        const auto noon = std::chrono::duration_cast<std::chrono::milliseconds>(at(10, 12, 0, 0, 0).time_since_epoch());
        test::FakeIssue dated;
        dated.created = f.jira.timestamp(noon.count());
        f.addIssue("Dated", "3", dated);
        QVERIFY(f.load());
        auto now = std::make_shared<std::chrono::system_clock::time_point>(at(10, 23, 59, 59, 950));
        RowContext context;
        context.store = f.store.get();
        context.now = [now] { return *now; };
        QScrollArea area;
        auto* list = new TaskList(*f.store, context);
        area.setWidget(list);
        area.setWidgetResizable(true);
        area.resize(560, 600);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        list->rebuild();
        auto dateLine = [list] { return visibleTexts(list).filter(QString(u'\u00B7')).value(0); };
        QVERIFY2(dateLine().endsWith(" today"), qPrintable(dateLine()));
        *now = at(11, 0, 30, 0, 0); // midnight passes with the panel open
        QVERIFY(QTest::qWaitFor([&] { return dateLine().endsWith(" yesterday"); }, 2000));
        *now = at(12, 9, 0, 0, 0); // a reload of the unchanged issue the next morning
        QVERIFY(f.load(true));
        list->rebuild();
        QVERIFY2(dateLine().endsWith(" 2 days ago"), qPrintable(dateLine()));
    }

    void errorBannerStaysUntilASilentLoadSucceeds()
    {
        Panel panel;
        panel.fixture.addIssue("Kept on screen", "3");
        QVERIFY(panel.open());
        panel.fixture.revokeToken(true);
        QVERIFY(panel.fixture.load(false));
        panel.settle();
        auto* banner = panel.view.findChild<ErrorBanner*>();
        QVERIFY(banner->isVisibleTo(&panel.view));
        QCOMPARE(banner->message(), *panel.fixture.store->errorMessage());
        QCOMPARE(panel.view.taskList()->shownRows().size(), std::size_t(1));

        // A manual refresh leaves it, a silent failure changes nothing at all, a silent success clears it.
        panel.fixture.revokeToken(false);
        QVERIFY(panel.fixture.load(false));
        panel.settle();
        QVERIFY(banner->isVisibleTo(&panel.view));
        panel.fixture.revokeToken(true);
        QSignalSpy state(panel.fixture.store.get(), &AppStore::stateChanged);
        QSignalSpy tasks(panel.fixture.store.get(), &AppStore::tasksChanged);
        QVERIFY(panel.fixture.load(true));
        QCOMPARE(state.count() + tasks.count(), 0);
        panel.fixture.revokeToken(false);
        QVERIFY(panel.fixture.load(true));
        panel.settle();
        QVERIFY(!banner->isVisibleTo(&panel.view));
    }

    void updateBannerFollowsTheOfferAndLater()
    {
        Panel panel;
        QVERIFY(panel.open());
        UpdateBanner* banner = panel.view.updateBanner();
        QVERIFY(!banner->isVisibleTo(&panel.view));
        // Offers the version and tells whether the banner shows it (nothing: the check never ended).
        auto offer = [&](const std::string& version) {
            bool checked = panel.fixture.offerUpdate(version);
            panel.settle();
            return checked ? std::optional(banner->isVisibleTo(&panel.view)) : std::nullopt;
        };
        QCOMPARE(offer("9.9.9"), std::optional(true));
        // Its title and its install button: the desktop update round trip reads and presses them.
        QVERIFY(shown(banner, "What's new"));
        panel.calls.clear();
        button(banner, "What's new")->click();
        QCOMPARE(panel.calls, QStringList{"about"});

        button(banner, "Later")->click();
        panel.settle();
        QVERIFY(!banner->isVisibleTo(&panel.view));
        QCOMPARE(offer("9.9.9"), std::optional(false)); // the dismissed version stays hidden
        QCOMPARE(offer("9.9.10"), std::optional(true)); // a newer one is offered again
    }

    void textsOfARowAndItsMoves()
    {
        const Json table = test::dataTable("app/panel.json", "row texts");
        Clock::time_point now = *JiraDate::parse(table["now"].get<std::string>());
        for (const Json& row : table["rows"]) {
            RowTexts texts = RowTexts::of(
                issueWith(optional(row[0]), optional(row[1]), optional(row[2]), optional(row[3]), optional(row[4])),
                now);
            const QString summary = test::text(row[5]);
            QCOMPARE(texts.summary, summary);
            const auto date = JiraDate::parse(optional(row[6]));
            QCOMPARE(texts.dateLine, date ? QString(row[7].get<bool>() ? "Done " : "") +
                                                QString::fromStdString(JiraDate::dayLabel(*date) + " \u00B7 " +
                                                                       JiraDate::relativeDays(*date, now))
                                          : QString());
            QCOMPARE(texts.dateIsDone, row[7].get<bool>());
        }
        for (const Json& row : test::dataRows("app/panel.json", "transition labels")) {
            Transition transition = decodeTransitionsResponse(Json{{"transitions", {row[0]}}}).transitions.at(0);
            QCOMPARE(transitionLabel(transition), test::text(row[1]));
        }
    }

    void rowShowsItsIssue()
    {
        AppFixture f;
        RowContext context;
        context.store = f.store.get();
        Issue unnamed = issueWith(std::nullopt, std::nullopt);
        unnamed.fields.status = IssueStatus{std::nullopt, std::nullopt};
        TaskRow row(unnamed, context);
        auto* menu = row.findChild<StatusMenu*>();
        QCOMPARE(menu->badge()->text(), QStringLiteral("Unknown"));
        QCOMPARE(menu->badge()->colour(), look::gray());
        // Its information block is a button to assistive technology, named with its help text.
        QAccessibleInterface* copyArea = QAccessible::queryAccessibleInterface(row.findChild<CopyArea*>());
        QCOMPARE(copyArea->role(), QAccessible::Button);
        QCOMPARE(copyArea->text(QAccessible::Name), QStringLiteral("Click to copy \u201CTB-1: (no summary)\u201D"));

        Issue done = issueWith("Ship", "done", "2026-07-08T09:00:00.000+0000");
        row.setIssue(done);
        row.show();
        QAbstractButton* markDone = button(&row, "Move to Done");
        QVERIFY(markDone != nullptr && !markDone->isVisible());
        row.setIssue(issueWith("Ship", "indeterminate"));
        QVERIFY(markDone->isVisible());

        // A summary holding markup shows as typed in the help text, and the height a list reserves for a
        // row gives each text the room it needs, with the controls beside it.
        const char* markup = "<p>Fix</p><br><style>p { color: red }</style> the <b>parser</b> and its retries "
                             "when the answer is cut short";
        Issue marked = issueWith(markup, "indeterminate");
        ADFNode text{"text", QString("a description that wraps ").repeated(30).toStdString(), std::nullopt};
        marked.fields.description =
            ADFNode{"doc", std::nullopt, std::vector<ADFNode>{{"paragraph", std::nullopt, std::vector<ADFNode>{text}}}};
        row.setIssue(marked);
        QString tip = row.findChild<CopyArea*>()->toolTip();
        QString seen = Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
        QCOMPARE(seen, QStringLiteral("Click to copy \u201CTB-1: %1\u201D").arg(markup));
        auto* info = row.findChild<CopyArea*>();
        const auto labels = info->findChildren<QLabel*>();
        QLabel* summary =
            *std::find_if(labels.begin(), labels.end(), [](QLabel* l) { return l->text().startsWith("<p>"); });
        QLabel* description =
            *std::find_if(labels.begin(), labels.end(), [](QLabel* l) { return l->text().startsWith("a desc"); });
        for (int width : {300, 536}) {
            row.resize(width, row.heightFor(marked, width));
            QCOMPARE(summary->height(), summary->heightForWidth(summary->width()));
            QCOMPARE(description->height(), description->maximumHeight()); // cut at three lines
            QVERIFY(summary->geometry().bottom() < description->geometry().top());
            QVERIFY(info->geometry().bottom() <= row.height() - 8);
            QVERIFY(info->geometry().right() < menu->parentWidget()->geometry().left());
            QCOMPARE(menu->parentWidget()->geometry().right(), width - 1 - 8);
        }
    }

    // A row on its own for a loaded site's one In Progress issue: its status menu, its actions, its busy state.
    void rowStatusMenuActionsBusyStateAndCopy()
    {
        AppFixture f;
        f.addIssue("Write docs", "3");
        QVERIFY(f.load());
        RowContext context;
        context.store = f.store.get();
        context.copiedFlash = std::chrono::milliseconds(30);
        auto row = std::make_unique<TaskRow>(f.store->inProgress().front(), context);
        QStringList details;
        QObject::connect(row.get(), &TaskRow::taskDetailRequested,
                         [&details](const Issue& shown) { details << QString::fromStdString(shown.key); });
        auto* statusMenu = row->findChild<StatusMenu*>();
        QMenu* menu = statusMenu->ensureMenu();
        statusMenu->rebuildMenu();
        const QString k = QString::fromStdString(row->issue().key);
        QStringList extras{"—", "Show full details", "Copy " + k + " + summary", "Open " + k + " in browser"};
        QCOMPARE(menuTexts(menu), QStringList{"Loading…"} + extras);
        menu->actions().front()->trigger(); // does nothing
        QVERIFY(f.store->busyIssueKeys().empty());
        // Pressing the button opens that menu: what the mouse, the keyboard and the accessibility Press do.
        row->show();
        QStringList seen;
        QTimer::singleShot(0, [&seen] { // runs inside the menu's own event loop, once it is open
            if (auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                seen = menuTexts(open);
                open->close();
            }
        });
        statusMenu->click();
        QCOMPARE(seen.mid(seen.size() - 4), extras);
        QCOMPARE(statusMenu->menu(), menu);

        row->ensureTransitions();
        QVERIFY(QTest::qWaitFor([&] { return f.store->transitions(k).has_value(); }, 10000));
        statusMenu->rebuildMenu();
        QCOMPARE(menuTexts(menu),
                 (QStringList{"Move to To Do", "Move to In Progress", "Move to Done", "Move to Backlog"} + extras));
        menu->actions()[5]->trigger();
        QCOMPARE(details, QStringList{k});

        // Bound to another issue, the same row and menu act on that one.
        std::string otherKey = f.addIssue("Review", "10000");
        QVERIFY(f.load());
        row->setIssue(f.store->backlog().front());
        QCOMPARE(row->accessibleName(), QString::fromStdString(otherKey) + ": Review");
        statusMenu->rebuildMenu();
        QString o = QString::fromStdString(otherKey);
        QCOMPARE(menuTexts(menu).mid(menuTexts(menu).size() - 3),
                 (QStringList{"Show full details", "Copy " + o + " + summary", "Open " + o + " in browser"}));
        row->actions()->details()->trigger();
        QCOMPARE(details, (QStringList{k, o}));

        // While its change runs the row shows only progress; a copy flashes "Copied" for a moment.
        TaskRow& busy = *row;
        QObject::connect(f.store.get(), &AppStore::stateChanged, &busy, [&] { busy.setBusy(f.store->isBusy(o)); });
        QVERIFY(busy.findChild<look::Spinner*>() == nullptr && statusMenu->isVisible());

        f.jira.setDelay(std::chrono::milliseconds(200));
        f.store->markDone(busy.issue());
        QVERIFY(busy.isBusy());
        auto* spinner = busy.findChild<look::Spinner*>();
        QVERIFY(spinner != nullptr && spinner->isVisible() && !statusMenu->isVisible());
        QVERIFY(QTest::qWaitFor([&] { return !busy.isBusy(); }, 10000));
        QVERIFY(!spinner->isVisible() && statusMenu->isVisible());
        f.jira.setDelay(std::chrono::milliseconds(0));

        busy.copy();
        QCOMPARE(QApplication::clipboard()->text(), o + ": Review");
        QVERIFY(busy.isCopiedShown());
        QVERIFY(QTest::qWaitFor([&] { return !busy.isCopiedShown(); }, 2000));
    }
};

QTEST_MAIN(ContentViewTest)
#include "content_view_test.moc"
