#include <QAbstractEventDispatcher>
#include <QDesktopServices>
#include <QUrl>

#include "app/app_fixture.h"
#include "app/data_tables.h"
#include "core/jira/adf.h"
#include "core/jira/error.h"
#include "core/platform/keychain.h"

using namespace taskbell;
using taskbell::app::AppStore;

namespace {

constexpr int kWait = 10000; // ms; only a ceiling for a hung test, never a measured time

const auto issueWithKey = [](std::string key) { return Issue{.id = {}, .key = std::move(key), .fields = {}}; };

// Receives the URLs QDesktopServices is asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// Whether a timer is still pending anywhere in the application: single-shot timers wait as children of the
// event dispatcher, the others as children of their owner. Once none is, nothing more happens on its own.
bool timerPending(const QObject& owner)
{
    auto* dispatcher = QAbstractEventDispatcher::instance();
    const auto armed = [&](QObject* timer) { return !dispatcher->registeredTimers(timer).isEmpty(); };
    return std::ranges::any_of(dispatcher->children(), armed) || std::ranges::any_of(owner.children(), armed);
}

} // namespace

class AppStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void settingsAndTokenAreSavedTogetherOrNotAtAll()
    {
        if (!Keychain::sessionBusAvailable()) {
            QSKIP("needs the private keyring of scripts/with-keyring.sh");
        }
        test::AppFixture fixture(false);
        AppSettings site = fixture.siteSettings();
        site.refreshMinutes = 5;
        const QString token = QString::fromStdString(fixture.jira.token());
        Keychain::set("", Keychain::kTokenAccount);
        {
            AppStore store(fixture.settings(), test::AppFixture::timing());
            QVERIFY(store.settings() == AppSettings());
            QCOMPARE(store.apiToken(), QString());
            QCOMPARE(store.tokenStatus(), Keychain::ReadStatus::notStored);
            QVERIFY(!store.tokenUnreadable());
            QVERIFY(!store.isAutoRefreshing()); // nothing to refresh without settings
            bool called = false;
            store.load(false, [&] { called = true; }); // nor to load: no request, no answer
            QVERIFY(!called && !store.isLoading() && fixture.jira.requests().empty());

            QSignalSpy changed(&store, &AppStore::settingsChanged);
            QVERIFY(store.saveSettings(site, token));
            QCOMPARE(changed.count(), 1);
            QVERIFY(store.isAutoRefreshing());
        }
        AppStore reopened(fixture.settings(), test::AppFixture::timing());
        QCOMPARE(reopened.apiToken(), token);
        QCOMPARE(reopened.tokenStatus(), Keychain::ReadStatus::found);
        QVERIFY(reopened.settings() == site);
        QVERIFY(reopened.isAutoRefreshing());

        // A file where the settings folder belongs fails every save, for root too: nothing changes.
        const std::filesystem::path folder = fixture.settings().folder();
        std::filesystem::rename(folder, folder.string() + ".aside");
        test::writeFile(folder, "in the way");
        QSignalSpy changed(&reopened, &AppStore::settingsChanged);
        AppSettings other = site;
        other.refreshMinutes = 0;
        QVERIFY(!reopened.saveSettings(other, QString("new-token")));
        QVERIFY(reopened.saveError() && !reopened.saveError()->isEmpty());
        QCOMPARE(changed.count(), 0);
        QVERIFY(reopened.settings() == site); // the panel and the refresh never run on unsaved values
        QCOMPARE(reopened.apiToken(), token);
        QCOMPARE(Keychain::get(Keychain::kTokenAccount), std::optional<std::string>(fixture.jira.token()));
        QVERIFY(reopened.isAutoRefreshing());
        std::filesystem::remove(folder);
        std::filesystem::rename(folder.string() + ".aside", folder);

        // Saving without a token leaves the stored one; an empty token deletes it.
        QVERIFY(reopened.saveSettings(other, std::nullopt));
        QVERIFY(!reopened.saveError());
        QVERIFY(!reopened.isAutoRefreshing());
        QCOMPARE(Keychain::get(Keychain::kTokenAccount), std::optional<std::string>(fixture.jira.token()));
        QVERIFY(reopened.saveSettings(other, QString()));
        QVERIFY(!Keychain::get(Keychain::kTokenAccount));
        QCOMPARE(reopened.tokenStatus(), Keychain::ReadStatus::notStored);
    }

    void failingBacklogSearchAppliesNothingAndCancelsTheRest()
    {
        test::AppFixture fixture;
        fixture.addIssue("Build", "3");
        auto& store = fixture.store;
        QVERIFY(fixture.load());

        // The user answers (as someone else), Backlog is refused, In Progress and Done hang until cancelled.
        fixture.addIssue("Another", "3");
        auto gate = std::make_shared<test::Gate>();
        fixture.jira.setInterceptor([gate](const test::LoggedRequest& request) -> std::optional<test::FakeReply> {
            std::string jql = test::jqlOf(request);
            if (request.path() == "/rest/api/3/myself") {
                return test::FakeReply(200, R"({"accountId":"someone-else","displayName":"Eve"})");
            }
            if (jql.find("Backlog") != std::string::npos) {
                return test::FakeReply(401, R"({"errorMessages":["Unauthorized"]})");
            }
            gate->pass();
            return std::nullopt;
        });
        QSignalSpy finished(store.get(), &AppStore::loadFinished);
        store->load(false);
        QVERIFY(finished.wait(kWait)); // returns although two searches are still held by the gate
        QCOMPARE(finished.at(0).at(1).toBool(), false);
        QCOMPARE(store->errorMessage(),
                 std::optional<QString>(QString::fromStdString(JiraError::http(401, "").what())));
        QVERIFY(!store->isLoading());
        QCOMPARE(store->inProgress().size(), std::size_t{1}); // old sections stay
        QCOMPARE(store->currentUser()->accountId, std::optional(fixture.jira.accountId()));
        gate->open();
    }

    void overlappingLoadsAndFollowupSeriesAllFinish()
    {
        test::AppFixture fixture;
        fixture.addIssue("Build", "3");
        auto& store = fixture.store;
        QSignalSpy finished(store.get(), &AppStore::loadFinished);
        store->load(false);
        store->load(false);
        store->load(true);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, kWait);
        QVERIFY(!store->isLoading());
        QCOMPARE(store->inProgress().size(), std::size_t{1});
        QCOMPARE(fixture.jira.requests().size(), std::size_t{12});

        // Two writes: their series of three silent follow-up loads run side by side.
        finished.clear();
        store->scheduleFollowupReload();
        store->scheduleFollowupReload();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 6, kWait);
        QVERIFY(!timerPending(*store));
        for (const auto& arguments : finished) {
            QCOMPARE(arguments.at(0).toBool(), true);
        }
    }

    void periodicRefreshRunsSilentLoadsAfterEachPeriod()
    {
        test::AppFixture fixture;
        AppSettings values = fixture.siteSettings(); // 0 is off
        // One minute becomes 30 ms.
        AppStore store(fixture.settings(), test::AppFixture::timing(0.0005),
                       QString::fromStdString(fixture.jira.token()));
        QVERIFY(!store.isAutoRefreshing()); // 0 is off

        QSignalSpy finished(&store, &AppStore::loadFinished);
        values.refreshMinutes = 1;
        QVERIFY(store.saveSettings(values, std::nullopt));
        QVERIFY(store.isAutoRefreshing());
        QVERIFY(fixture.jira.requests().empty()); // the first refresh waits one full period
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 2, kWait);
        for (const auto& arguments : finished) {
            QCOMPARE(arguments.at(0).toBool(), true);
        }
        values.refreshMinutes = 0;
        QVERIFY(store.saveSettings(values, std::nullopt));
        QVERIFY(!store.isAutoRefreshing());
        // A load already running may still finish (four requests each).
        QTRY_COMPARE_WITH_TIMEOUT(fixture.jira.requests().size(), std::size_t(4 * finished.count()), kWait);
        QVERIFY(!timerPending(store));
    }

    // A caller that went away gets no answer; a store that went away sends nothing more.
    void goingAwayCancelsAnswersRequestsAndFollowups()
    {
        test::AppFixture fixture;
        auto& store = fixture.store;
        QSignalSpy loads(store.get(), &AppStore::loadFinished);
        auto context = std::make_unique<QObject>();
        bool answered = false;
        store->createTask("TB", "Gone", "Task", false, "", std::nullopt, context.get(),
                          [&](std::optional<QString>) { answered = true; });
        context.reset();
        QTRY_COMPARE_WITH_TIMEOUT(loads.count(), 4, kWait); // the reloads ran, so the answer would have come
        QVERIFY(!answered);
        fixture.jira.clearLog();

        auto gate = std::make_shared<test::Gate>();
        fixture.jira.setInterceptor([gate](const test::LoggedRequest&) -> std::optional<test::FakeReply> {
            gate->pass();
            return std::nullopt;
        });
        bool called = false;
        store->load(false, [&] { called = true; });
        store->markDone(Issue{}, [&] { called = true; });
        QVERIFY(fixture.jira.waitForRequests(5));
        store->scheduleFollowupReload();
        store.reset(); // returns although every request is still held: they were cancelled
        QCoreApplication::processEvents();
        QVERIFY(!called);
        gate->open();
        fixture.jira.clearLog();
        QTest::qWait(150); // longer than the whole scaled series of follow-ups
        QVERIFY(fixture.jira.requests().empty());
    }

    void delaysScaleAndStayWithinATimersRange()
    {
        for (const Json& row : test::dataRows("app/store.json", "delays")) {
            app::Timing timing;
            timing.delayScale = row[0].get<double>();
            QCOMPARE(qint64(timing.scaled(std::chrono::milliseconds(row[1].get<qint64>())).count()),
                     row[2].get<qint64>());
        }
    }

    // Each write: where the issue ends up and the message shown; after a success a visible reload before the
    // answer and three silent follow-ups, after a failure no load at all.
    void actionOutcomes()
    {
        for (const Json& row : test::dataRows("app/store.json", "actions")) {
            const QString action = test::text(row[0]), project = test::text(row[2]), target = test::text(row[3]);
            const QString status = test::text(row[4]), message = test::text(row[5]);
            const bool create = action.startsWith("create"), failed = message == "*";
            test::AppFixture fixture;
            auto& store = fixture.store;
            test::FakeIssue existing;
            existing.projectKey = project.toStdString();
            std::string key = create ? "" : fixture.addIssue("Stuck", "3", existing);
            if (row[1].get<bool>()) {
                QVERIFY(fixture.load());
            }
            if (!create) { // its moves are known before the change
                bool fetched = false;
                store->ensureTransitions(issueWithKey(key), [&] { fetched = true; });
                QTRY_VERIFY_WITH_TIMEOUT(fetched, kWait);
            }
            QSignalSpy loads(store.get(), &AppStore::loadFinished);
            std::vector<std::pair<bool, qsizetype>> busy; // each change of the busy flag, with the loads by then
            connect(store.get(), &AppStore::stateChanged, this, [&] {
                bool now = store->isBusy(QString::fromStdString(key));
                if (!create && (busy.empty() || busy.back().first != now)) {
                    busy.emplace_back(now, loads.count());
                }
            });
            std::optional<qsizetype> loadsAtAnswer;
            std::optional<QString> errorAtAnswer;
            auto answer = [&] {
                loadsAtAnswer = loads.count();
                errorAtAnswer = store->errorMessage();
            };
            if (create) {
                store->createTask(" " + project + "\t", "  Write the notes \u00a0", " Task ", action == "create for me",
                                  "  keep\nthis", target.isEmpty() ? std::nullopt : std::optional<QString>(target),
                                  this, [&](std::optional<QString> created) {
                                      key = created.value_or("").toStdString();
                                      answer();
                                  });
            } else if (action == "done") {
                store->markDone(issueWithKey(key), answer);
            } else {
                store->applyTransition(issueWithKey(key), action.mid(5), answer);
            }
            QTRY_VERIFY_WITH_TIMEOUT(loadsAtAnswer, kWait);
            QVERIFY2(errorAtAnswer.has_value() == !message.isEmpty(), qPrintable(errorAtAnswer.value_or(action)));
            if (failed) {
                QVERIFY(loads.count() == 0 && !timerPending(*store));
            } else {
                QCOMPARE(*loadsAtAnswer, 1);
                QCOMPARE(loads.at(0).at(0).toBool(), false);
                QTRY_COMPARE_WITH_TIMEOUT(loads.count(), 4, kWait);
            }
            if (status.isEmpty()) { // nothing was created
                QVERIFY(key.empty());
                continue;
            }
            QCOMPARE(QString::fromStdString(fixture.jira.status(fixture.jira.issue(key)->statusId)->name), status);
            if (!create) {
                // Busy until the error shows, or until the reload after the change has finished.
                QCOMPARE(busy, (std::vector<std::pair<bool, qsizetype>>{{true, 0}, {false, failed ? 0 : 1}}));
                QCOMPARE(store->transitions(QString::fromStdString(key)).has_value(), failed);
                continue;
            }
            auto posts = fixture.jira.requests("POST", "/rest/api/3/issue");
            QCOMPARE(posts.size(), std::size_t{1});
            const Json fields = posts[0].json()["fields"];
            QCOMPARE(QString::fromStdString(fixture.jira.issue(key)->summary), QString("Write the notes"));
            QCOMPARE(QString::fromStdString(fixture.jira.issue(key)->projectKey), project);
            QCOMPARE(fields["issuetype"]["name"].get<std::string>(), std::string("Task"));
            QVERIFY(fields["description"] == *ADF::documentFromPlainText("  keep\nthis"));
            // Assigned only when asked and once the user is known.
            QCOMPARE(fields.contains("assignee"), action == "create for me" && row[1].get<bool>());
            if (!message.isEmpty()) {
                QVERIFY2(errorAtAnswer->startsWith(QString::fromStdString(key) + message), qPrintable(*errorAtAnswer));
            }
            // A failed move stays shown through the follow-ups until the user dismisses it.
            QCOMPARE(store->errorMessage(), errorAtAnswer);
            QCOMPARE(store->isErrorKept(), !message.isEmpty());
            store->dismissError();
            QVERIFY(!store->errorMessage());
        }
    }

    void transitionsAreCachedAndStaleAnswersDropped()
    {
        test::AppFixture fixture;
        Issue issue = issueWithKey(fixture.addIssue("Plan", "10000"));
        auto& store = fixture.store;
        const std::string path = "/rest/api/3/issue/" + issue.key + "/transitions";
        auto fetch = [&](const Issue& which) {
            bool finished = false;
            store->ensureTransitions(which, [&] { finished = true; });
            QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
        };
        fetch(issue);
        fetch(issue);
        QCOMPARE(fixture.jira.requests("GET", path).size(), std::size_t{1});
        QCOMPARE(store->transitions(QString::fromStdString(issue.key))->size(), std::size_t{4});

        // A successful change drops them (see actionOutcomes), so the next ensure fetches again.

        // An answer asked for before a status change lists the moves of the old status: it is dropped.
        Issue other = issueWithKey(fixture.addIssue("Ship", "3"));
        const std::string otherPath = "/rest/api/3/issue/" + other.key + "/transitions";
        auto gate = std::make_shared<test::Gate>();
        auto held = std::make_shared<std::atomic<bool>>(false);
        fixture.jira.setInterceptor(
            [gate, held, otherPath](const test::LoggedRequest& request) -> std::optional<test::FakeReply> {
                if (request.method == "GET" && request.path() == otherPath && !held->exchange(true)) {
                    gate->pass();
                }
                return std::nullopt;
            });
        bool stale = false;
        store->ensureTransitions(other, [&] { stale = true; });
        QTRY_VERIFY_WITH_TIMEOUT(held->load(), kWait);
        bool moved = false;
        store->markDone(other, [&] { moved = true; });
        QTRY_VERIFY_WITH_TIMEOUT(moved, kWait);
        QCOMPARE(fixture.jira.status(fixture.jira.issue(other.key)->statusId)->name, std::string("Done"));
        gate->open();
        QTRY_VERIFY_WITH_TIMEOUT(stale, kWait);
        QVERIFY(!store->transitions(QString::fromStdString(other.key)));

        // A failed fetch leaves no entry, shows nothing and is tried again next time.
        fetch(issueWithKey("TB-999"));
        QVERIFY(!store->transitions("TB-999"));
        fetch(issueWithKey("TB-999"));
        QCOMPARE(fixture.jira.requests("GET", "/rest/api/3/issue/TB-999/transitions").size(), std::size_t{2});
        QVERIFY(!store->errorMessage());
    }

    void connectionTestTexts()
    {
        for (const Json& row : test::dataRows("app/store.json", "connection")) {
            test::AppFixture fixture;
            auto& store = fixture.store;
            if (!test::text(row[0]).isEmpty()) {
                fixture.jira.setRoute("GET", "/rest/api/3/myself",
                                      [body = row[0].get<std::string>()](const test::LoggedRequest&) {
                                          return test::FakeReply(200, body);
                                      });
            }
            JiraConfig typed = store->config();
            if (!test::text(row[1]).isEmpty()) {
                typed.apiToken = row[1].get<std::string>();
            }
            QSignalSpy anything(store.get(), &AppStore::tasksChanged);
            std::optional<QString> answer;
            store->testConnection(typed, this, [&](QString reply) { answer = reply; });
            QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), kWait);
            QCOMPARE(*answer,
                     test::text(row[2]) == "401" ? QString(JiraError::http(401, "").what()) : test::text(row[2]));
            QCOMPARE(anything.count(), 0);
            QVERIFY(!store->errorMessage());
        }
    }

    void browserAndLookupByKey()
    {
        test::AppFixture fixture;
        std::string both = fixture.addIssue("Build", "3");
        AppSettings site = fixture.siteSettings();
        site.baseURL += "/ ";
        auto& store = fixture.store;
        QVERIFY(store->saveSettings(site, std::nullopt));

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("http", &catcher, "open");
        store->openInBrowser(issueWithKey("TB-7"));
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl(QString::fromStdString(fixture.jira.baseUrl()) + "/browse/TB-7")});

        QVERIFY(fixture.load());
        QCOMPARE(store->issue(QString::fromStdString(both)).value_or(Issue{}).fields.summary,
                 std::optional<std::string>("Build"));
        QVERIFY(!store->issue(QString::fromStdString(both).toLower()));
        QVERIFY(!store->issue("TB-404"));
    }
};

QTEST_MAIN(AppStoreTest)
#include "app_store_test.moc"
