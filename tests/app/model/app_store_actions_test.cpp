#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "app/app_fixture.h"
#include "app/model/app_store.h"
#include "core/jira/adf.h"
#include "core/jira/error.h"

using namespace taskbell;
using taskbell::app::AppStore;

namespace {

constexpr int kWait = 10000; // ms; only a ceiling for a hung test

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

class AppStoreActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void createTaskTrimsAndMovesIntoTheTarget();
    void failingCreateReturnsNothingAndLoadsNothing();
    void createAssignsToMeOnlyOnceTheUserIsKnown();
    void transitionsAreCachedUntilATransitionSucceeds();
    void markDoneKeepsTheIssueBusyUntilTheReloadThenFollowsUp();
    void failedStatusChangeShowsTheErrorAndKeepsTheCache();
    void connectionTestTexts();
    void browserAndLookupByKey();
};

void AppStoreActionsTest::createTaskTrimsAndMovesIntoTheTarget()
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

void AppStoreActionsTest::failingCreateReturnsNothingAndLoadsNothing()
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

void AppStoreActionsTest::createAssignsToMeOnlyOnceTheUserIsKnown()
{
    test::AppFixture fixture;
    auto& store = fixture.store;
    int answers = 0;
    store->createTask("TB", "Early", "Task", true, "", std::nullopt, this, [&](std::optional<QString>) { ++answers; });
    QTRY_COMPARE_WITH_TIMEOUT(answers, 1, kWait); // its reload also made the user known
    store->createTask("TB", "Later", "Task", true, "", std::nullopt, this, [&](std::optional<QString>) { ++answers; });
    QTRY_COMPARE_WITH_TIMEOUT(answers, 2, kWait);
    auto posts = fixture.jira.requests("POST", "/rest/api/3/issue");
    QCOMPARE(posts.size(), std::size_t{2});
    QVERIFY(!posts[0].json()["fields"].contains("assignee"));
    QCOMPARE(posts[1].json()["fields"]["assignee"]["accountId"].get<std::string>(), fixture.jira.accountId());
}

void AppStoreActionsTest::transitionsAreCachedUntilATransitionSucceeds()
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

void AppStoreActionsTest::markDoneKeepsTheIssueBusyUntilTheReloadThenFollowsUp()
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

void AppStoreActionsTest::failedStatusChangeShowsTheErrorAndKeepsTheCache()
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

void AppStoreActionsTest::connectionTestTexts()
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
            fixture.jira.setRoute("GET", "/rest/api/3/myself", [body = user.toStdString()](const test::LoggedRequest&) {
                return test::FakeReply(200, body);
            });
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

void AppStoreActionsTest::browserAndLookupByKey()
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

QTEST_MAIN(AppStoreActionsTest)
#include "app_store_actions_test.moc"
