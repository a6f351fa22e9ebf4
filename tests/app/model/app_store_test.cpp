#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <climits>

#include "app/app_fixture.h"
#include "app/model/app_store.h"
#include "core/jira/adf.h"
#include "core/jira/error.h"
#include "core/platform/keychain.h"

using namespace taskbell;
using taskbell::app::AppStore;

namespace {

constexpr int kWait = 10000; // ms; only a ceiling for a hung test, never a measured time

Issue issueWithKey(const std::string& key, std::optional<std::string> summary = std::nullopt)
{
    Issue issue;
    issue.key = key;
    issue.fields.summary = std::move(summary);
    return issue;
}

// Receives the URLs QDesktopServices is asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class AppStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void firstStartReadsDefaultsAndTheStoredToken()
    {
        if (!Keychain::sessionBusAvailable()) {
            QSKIP("needs the private keyring of scripts/with-keyring.sh");
        }
        test::AppFixture fixture(false);
        AppSettings site = fixture.siteSettings();
        site.refreshMinutes = 5;
        Keychain::set("", Keychain::kTokenAccount);
        {
            AppStore store(fixture.settings(), test::AppFixture::timing());
            QVERIFY(store.settings() == AppSettings());
            QCOMPARE(store.apiToken(), QString());
            QCOMPARE(store.tokenStatus(), Keychain::ReadStatus::notStored);
            QVERIFY(!store.tokenUnreadable());
            QVERIFY(!store.isAutoRefreshing()); // nothing to refresh without settings

            QSignalSpy changed(&store, &AppStore::settingsChanged);
            QVERIFY(store.saveSettings(site, QString::fromStdString(fixture.jira.token())));
            QCOMPARE(changed.count(), 1);
            QVERIFY(!store.saveError());
            QVERIFY(store.isAutoRefreshing());
        }
        AppStore reopened(fixture.settings(), test::AppFixture::timing());
        QCOMPARE(reopened.apiToken(), QString::fromStdString(fixture.jira.token()));
        QCOMPARE(reopened.tokenStatus(), Keychain::ReadStatus::found);
        QVERIFY(reopened.settings() == site);
        QVERIFY(reopened.isAutoRefreshing());

        // Saving without a token leaves the stored one; an empty token deletes it.
        AppSettings other = site;
        other.monthsBack = 5;
        QVERIFY(reopened.saveSettings(other, std::nullopt));
        QCOMPARE(Keychain::get(Keychain::kTokenAccount), std::optional<std::string>(fixture.jira.token()));
        QVERIFY(reopened.saveSettings(other, QString()));
        QVERIFY(!Keychain::get(Keychain::kTokenAccount));
        QCOMPARE(reopened.tokenStatus(), Keychain::ReadStatus::notStored);
    }

    void failedSaveKeepsTheSavedStateAndTheOldToken()
    {
        if (!Keychain::sessionBusAvailable()) {
            QSKIP("needs the private keyring of scripts/with-keyring.sh");
        }
        test::AppFixture fixture(false);
        Keychain::set("old-token", Keychain::kTokenAccount);
        AppStore store(fixture.settings(), test::AppFixture::timing());
        // A file where the settings folder belongs fails every save, for root too.
        std::filesystem::create_directories(fixture.settings().folder().parent_path());
        test::writeFile(fixture.settings().folder(), "in the way");

        QSignalSpy changed(&store, &AppStore::settingsChanged);
        AppSettings typed = fixture.siteSettings();
        typed.refreshMinutes = 5;
        typed.email = "typed@example.com";
        QVERIFY(!store.saveSettings(typed, QString("new-token")));
        QVERIFY(store.saveError() && !store.saveError()->isEmpty());
        QCOMPARE(changed.count(), 0);
        QVERIFY(store.settings() == AppSettings()); // the panel and the refresh never run on unsaved values
        QCOMPARE(store.apiToken(), QString("old-token"));
        QCOMPARE(Keychain::get(Keychain::kTokenAccount), std::optional<std::string>("old-token"));
        QVERIFY(!store.isAutoRefreshing());

        std::filesystem::remove(fixture.settings().folder());
        QVERIFY(store.saveSettings(typed, QString("new-token")));
        QVERIFY(!store.saveError());
        QCOMPARE(store.settings().email, std::string("typed@example.com"));
        QCOMPARE(Keychain::get(Keychain::kTokenAccount), std::optional<std::string>("new-token"));
        QVERIFY(store.isAutoRefreshing());
        Keychain::set("", Keychain::kTokenAccount);
    }

    void incompleteSettingsSendNothing()
    {
        test::AppFixture fixture;
        AppStore store(fixture.settings(), test::AppFixture::timing(), QString());
        QSignalSpy loading(&store, &AppStore::stateChanged);
        bool called = false;
        store.load(false, [&] { called = true; });
        QTest::qWait(20);
        QVERIFY(!called);
        QCOMPARE(loading.count(), 0);
        QVERIFY(fixture.jira.requests().empty());
        QCOMPARE(store.menuBarLabel(), QString());
    }

    void failingBacklogSearchAppliesNothingAndCancelsTheRest()
    {
        test::AppFixture fixture;
        fixture.addIssue("Build", "3");
        auto& store = fixture.store;
        QVERIFY(fixture.load());
        QCOMPARE(store->inProgress().size(), std::size_t{1});
        std::string userBefore = store->currentUser()->accountId.value_or("");

        // The user answers (as someone else), Backlog is refused, In Progress and Done hang until cancelled.
        fixture.jira.clearLog();
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
        QCOMPARE(store->currentUser()->accountId.value_or(""), userBefore);
        gate->open();
        fixture.jira.setInterceptor(nullptr);
    }

    void overlappingLoadsBothFinish()
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
        QTest::qWait(50); // a load already running may still finish
        int after = finished.count();
        QTest::qWait(100);
        QCOMPARE(finished.count(), after);
    }

    void followupSeriesRunsThreeSilentLoadsAndStopsWithTheStore()
    {
        test::AppFixture fixture;
        auto& store = fixture.store;
        QSignalSpy finished(store.get(), &AppStore::loadFinished);
        store->scheduleFollowupReload();
        store->scheduleFollowupReload(); // two writes: their series run side by side
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 6, kWait);
        QTest::qWait(150);
        QCOMPARE(finished.count(), 6);
        for (const auto& arguments : finished) {
            QCOMPARE(arguments.at(0).toBool(), true);
        }

        fixture.jira.clearLog();
        store->scheduleFollowupReload();
        store.reset();
        QTest::qWait(150); // longer than the whole scaled series
        QVERIFY(fixture.jira.requests().empty());
    }

    void storeGoingAwayCancelsItsRequests()
    {
        test::AppFixture fixture;
        auto& store = fixture.store;
        auto gate = std::make_shared<test::Gate>();
        fixture.jira.setInterceptor([gate](const test::LoggedRequest&) -> std::optional<test::FakeReply> {
            gate->pass();
            return std::nullopt;
        });
        bool called = false;
        store->load(false, [&] { called = true; });
        store->markDone(Issue{}, [&] { called = true; });
        QVERIFY(fixture.jira.waitForRequests(5));
        store.reset(); // returns although every request is still held: they were cancelled
        QCoreApplication::processEvents();
        QVERIFY(!called);
        gate->open();
        fixture.jira.setInterceptor(nullptr);
    }

    void delaysScaleAndStayWithinATimersRange()
    {
        using std::chrono::milliseconds;
        struct Case
        {
            double scale;
            milliseconds delay;
            milliseconds armed;
        };
        const Case cases[] = {
            {1.0, milliseconds{1500}, milliseconds{1500}}, {0.01, milliseconds{1500}, milliseconds{15}},
            {0.001, milliseconds{1}, milliseconds{0}},     {1.0, std::chrono::minutes(100'000), milliseconds{INT_MAX}},
            {1.0, milliseconds{-5}, milliseconds{0}},
        };
        for (const Case& c : cases) {
            app::Timing timing;
            timing.delayScale = c.scale;
            QCOMPARE(timing.scaled(c.delay).count(), c.armed.count());
        }
    }

    void createTaskTrimsAndMovesIntoTheTarget()
    {
        struct Case
        {
            QString project, target, status; // target empty: none; status: where the issue ends up
            QString message;                 // after the key; empty: no error
        };
        const Case cases[] = {
            {"TB", "", "Backlog", ""},
            {"TB", "indeterminate", "In Progress", ""},
            {"TB", "done", "Done", ""},
            {"FROZEN", "done", "Frozen", " was created but couldn't be moved to Done. "},
            {"FROZEN", "indeterminate", "Frozen", " was created but couldn't be moved to In Progress. "},
            {"FROZEN", "weird", "Frozen", " was created but couldn't be moved to weird. "},
        };
        for (const auto& [project, target, status, message] : cases) {
            test::AppFixture fixture;
            auto& store = fixture.store;
            QSignalSpy loads(store.get(), &AppStore::loadFinished);
            std::optional<std::optional<QString>> result;
            qsizetype loadsAtAnswer = -1;
            std::optional<QString> errorAtAnswer;
            store->createTask(" " + project + "\t", "  Write the notes \u00a0", " Task ", false, "  keep\nthis",
                              target.isEmpty() ? std::nullopt : std::optional<QString>(target), this,
                              [&](std::optional<QString> key) {
                                  result = key;
                                  loadsAtAnswer = loads.count();
                                  errorAtAnswer = store->errorMessage();
                              });
            QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), kWait);
            QVERIFY(result->has_value());
            std::string key = (*result)->toStdString();
            auto created = fixture.jira.issue(key);
            QVERIFY(created);
            QCOMPARE(QString::fromStdString(created->summary), QString("Write the notes"));
            QCOMPARE(QString::fromStdString(created->projectKey), project);
            QCOMPARE(QString::fromStdString(fixture.jira.status(created->statusId)->name), status);
            auto posts = fixture.jira.requests("POST", "/rest/api/3/issue");
            QCOMPARE(posts.size(), std::size_t{1});
            QVERIFY(posts[0].json()["fields"]["description"] == *ADF::documentFromPlainText("  keep\nthis"));
            QVERIFY(!posts[0].json()["fields"].contains("assignee"));
            if (message.isEmpty()) {
                QVERIFY(!errorAtAnswer);
            } else {
                QVERIFY(errorAtAnswer);
                QVERIFY2(errorAtAnswer->startsWith(QString::fromStdString(key) + message), qPrintable(*errorAtAnswer));
            }
            // The visible reload ran before the key came back; the three follow-ups come after it.
            QCOMPARE(loadsAtAnswer, 1);
            QCOMPARE(loads.at(0).at(0).toBool(), false);
            QTRY_COMPARE_WITH_TIMEOUT(loads.count(), 4, kWait);
            // A failed move stays shown through the follow-ups until the user dismisses it.
            QCOMPARE(store->errorMessage(), errorAtAnswer);
            QCOMPARE(store->isErrorKept(), !message.isEmpty());
            store->dismissError();
            QVERIFY(!store->errorMessage());
        }
    }

    void failingCreateReturnsNothingAndLoadsNothing()
    {
        test::AppFixture fixture;
        auto& store = fixture.store;
        QSignalSpy loads(store.get(), &AppStore::loadFinished);
        std::optional<std::optional<QString>> result;
        store->createTask("NOPE", "Lost", "Task", false, "", std::nullopt, this,
                          [&](std::optional<QString> key) { result = key; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), kWait);
        QVERIFY(!result->has_value());
        QVERIFY(store->errorMessage());
        QTest::qWait(100);
        QCOMPARE(loads.count(), 0);
        QCOMPARE(fixture.jira.requests("POST", "/rest/api/3/search/jql").size(), std::size_t{0});

        // A caller that went away gets no answer.
        auto context = std::make_unique<QObject>();
        bool answered = false;
        store->createTask("TB", "Gone", "Task", false, "", std::nullopt, context.get(),
                          [&](std::optional<QString>) { answered = true; });
        context.reset();
        QTRY_VERIFY_WITH_TIMEOUT(loads.count() >= 1, kWait); // the reload ran, so the answer would have come
        QVERIFY(!answered);
    }

    void createAssignsToMeOnlyOnceTheUserIsKnown()
    {
        test::AppFixture fixture;
        auto& store = fixture.store;
        int answers = 0;
        store->createTask("TB", "Early", "Task", true, "", std::nullopt, this,
                          [&](std::optional<QString>) { ++answers; });
        QTRY_COMPARE_WITH_TIMEOUT(answers, 1, kWait); // its reload also made the user known
        store->createTask("TB", "Later", "Task", true, "", std::nullopt, this,
                          [&](std::optional<QString>) { ++answers; });
        QTRY_COMPARE_WITH_TIMEOUT(answers, 2, kWait);
        auto posts = fixture.jira.requests("POST", "/rest/api/3/issue");
        QCOMPARE(posts.size(), std::size_t{2});
        QVERIFY(!posts[0].json()["fields"].contains("assignee"));
        QCOMPARE(posts[1].json()["fields"]["assignee"]["accountId"].get<std::string>(), fixture.jira.accountId());
    }

    void transitionsAreCachedUntilATransitionSucceeds()
    {
        test::AppFixture fixture;
        Issue issue = issueWithKey(fixture.addIssue("Plan", "10000"));
        auto& store = fixture.store;
        const std::string path = "/rest/api/3/issue/" + issue.key + "/transitions";
        auto fetch = [&] {
            bool finished = false;
            store->ensureTransitions(issue, [&] { finished = true; });
            QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
        };
        fetch();
        fetch();
        QCOMPARE(fixture.jira.requests("GET", path).size(), std::size_t{1});
        QCOMPARE(store->transitions(QString::fromStdString(issue.key))->size(), std::size_t{4});

        bool applied = false;
        store->applyTransition(issue, "21", [&] { applied = true; });
        QTRY_VERIFY_WITH_TIMEOUT(applied, kWait);
        QVERIFY(!store->transitions(QString::fromStdString(issue.key)));
        QCOMPARE(QString::fromStdString(fixture.jira.issue(issue.key)->statusId), QString("3"));
        QCOMPARE(store->inProgress().size(), std::size_t{1});
        fetch();
        QCOMPARE(fixture.jira.requests("GET", path).size(), std::size_t{2});

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
        fixture.jira.setInterceptor(nullptr);

        // A failed fetch leaves no entry, shows nothing and is tried again next time.
        Issue missing = issueWithKey("TB-999");
        store->ensureTransitions(missing);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.jira.requests("GET", "/rest/api/3/issue/TB-999/transitions").size(),
                                  std::size_t{1}, kWait);
        QTest::qWait(50);
        QVERIFY(!store->transitions("TB-999"));
        QVERIFY(!store->errorMessage());
    }

    void markDoneKeepsTheIssueBusyUntilTheReloadThenFollowsUp()
    {
        test::AppFixture fixture;
        Issue issue = issueWithKey(fixture.addIssue("Build", "3"));
        auto& store = fixture.store;
        QString key = QString::fromStdString(issue.key);

        // Record, each time the busy set changes, whether the visible reload had finished by then.
        std::vector<std::pair<bool, int>> busyChanges;
        int loads = 0;
        connect(store.get(), &AppStore::loadFinished, this, [&] { ++loads; });
        connect(store.get(), &AppStore::stateChanged, this, [&] {
            if (busyChanges.empty() || busyChanges.back().first != store->isBusy(key)) {
                busyChanges.emplace_back(store->isBusy(key), loads);
            }
        });
        bool finished = false;
        store->markDone(issue, [&] { finished = true; });
        QVERIFY(store->isBusy(key));
        QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
        QCOMPARE(busyChanges, (std::vector<std::pair<bool, int>>{{true, 0}, {false, 1}}));
        QCOMPARE(store->done().size(), std::size_t{1});
        QTRY_COMPARE_WITH_TIMEOUT(loads, 4, kWait);
    }

    void failedStatusChangeShowsTheErrorAndKeepsTheCache()
    {
        test::AppFixture fixture;
        test::FakeIssue frozen;
        frozen.projectKey = "FROZEN";
        frozen.summary = "Stuck";
        frozen.assigneeAccountId = fixture.jira.accountId();
        Issue issue = issueWithKey(fixture.jira.addIssue(frozen));
        auto& store = fixture.store;
        QString key = QString::fromStdString(issue.key);
        bool fetched = false;
        store->ensureTransitions(issue, [&] { fetched = true; });
        QTRY_VERIFY_WITH_TIMEOUT(fetched, kWait);

        QSignalSpy loads(store.get(), &AppStore::loadFinished);
        for (int attempt = 0; attempt < 2; ++attempt) {
            bool finished = false;
            if (attempt == 0) {
                store->markDone(issue, [&] { finished = true; });
            } else {
                store->applyTransition(issue, "999", [&] { finished = true; });
            }
            QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
            QVERIFY(!store->isBusy(key));
            QVERIFY(store->errorMessage());
            QVERIFY(store->transitions(key));
        }
        QTest::qWait(100);
        QCOMPARE(loads.count(), 0);
    }

    void connectionTestTexts()
    {
        struct Case
        {
            QString user; // the /myself body; empty: the normal user
            QString token, text;
        };
        const Case cases[] = {
            {"", "", "Connected as Ana Pereira."},
            {R"({"accountId":"a","emailAddress":"a@example.com"})", "", "Connected as a@example.com."},
            {R"({"accountId":"a","displayName":"","emailAddress":"a@example.com"})", "", "Connected as ."},
            {R"({"accountId":"a"})", "", "Connected as user."},
            {"", "wrong", QString::fromStdString(JiraError::http(401, "").what())},
        };
        for (const auto& [user, token, text] : cases) {
            test::AppFixture fixture;
            auto& store = fixture.store;
            if (!user.isEmpty()) {
                fixture.jira.setRoute(
                    "GET", "/rest/api/3/myself",
                    [body = user.toStdString()](const test::LoggedRequest&) { return test::FakeReply(200, body); });
            }
            JiraConfig typed = store->config();
            if (!token.isEmpty()) {
                typed.apiToken = token.toStdString();
            }
            QSignalSpy anything(store.get(), &AppStore::tasksChanged);
            std::optional<QString> answer;
            store->testConnection(typed, this, [&](QString reply) { answer = reply; });
            QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), kWait);
            QCOMPARE(*answer, text);
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
        QVERIFY(store->issue(QString::fromStdString(both)));
        QCOMPARE(store->issue(QString::fromStdString(both))->fields.summary, std::optional<std::string>("Build"));
        QVERIFY(!store->issue(QString::fromStdString(both).toLower()));
        QVERIFY(!store->issue("TB-404"));
    }
};

QTEST_MAIN(AppStoreTest)
#include "app_store_test.moc"
