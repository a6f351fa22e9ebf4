#include <QSignalSpy>
#include <QTest>
#include <climits>

#include "app/app_fixture.h"
#include "app/model/app_store.h"
#include "core/jira/error.h"
#include "core/platform/keychain.h"

using namespace taskbell;
using taskbell::app::AppStore;

namespace {

constexpr int kWait = 10000; // ms; only a ceiling for a hung test, never a measured time

} // namespace

class AppStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void firstStartReadsDefaultsAndTheStoredToken();
    void failedSaveKeepsTheSavedStateAndTheOldToken();
    void incompleteSettingsSendNothing();
    void failingBacklogSearchAppliesNothingAndCancelsTheRest();
    void overlappingLoadsBothFinish();
    void periodicRefreshRunsSilentLoadsAfterEachPeriod();
    void followupSeriesRunsThreeSilentLoadsAndStopsWithTheStore();
    void storeGoingAwayCancelsItsRequests();
    void delaysScaleAndStayWithinATimersRange();
};

void AppStoreTest::firstStartReadsDefaultsAndTheStoredToken()
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

void AppStoreTest::failedSaveKeepsTheSavedStateAndTheOldToken()
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

void AppStoreTest::incompleteSettingsSendNothing()
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

void AppStoreTest::failingBacklogSearchAppliesNothingAndCancelsTheRest()
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
    QCOMPARE(store->errorMessage(), std::optional<QString>(QString::fromStdString(JiraError::http(401, "").what())));
    QVERIFY(!store->isLoading());
    QCOMPARE(store->inProgress().size(), std::size_t{1}); // old sections stay
    QCOMPARE(store->currentUser()->accountId.value_or(""), userBefore);
    gate->open();
    fixture.jira.setInterceptor(nullptr);
}

void AppStoreTest::overlappingLoadsBothFinish()
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

void AppStoreTest::periodicRefreshRunsSilentLoadsAfterEachPeriod()
{
    test::AppFixture fixture;
    AppSettings values = fixture.siteSettings(); // 0 is off
    // One minute becomes 30 ms.
    AppStore store(fixture.settings(), test::AppFixture::timing(0.0005), QString::fromStdString(fixture.jira.token()));
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

void AppStoreTest::followupSeriesRunsThreeSilentLoadsAndStopsWithTheStore()
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

void AppStoreTest::storeGoingAwayCancelsItsRequests()
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

void AppStoreTest::delaysScaleAndStayWithinATimersRange()
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

QTEST_MAIN(AppStoreTest)
#include "app_store_test.moc"
