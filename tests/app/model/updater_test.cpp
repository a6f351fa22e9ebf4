#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "app/data_tables.h"
#include "app/model/updater.h"
#include "core/base/http.h"
#include "core/update/code_signature.h"
#include "core/update/sha256.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
using taskbell::app::Updater;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kWait = 10000; // ms; only a ceiling for a hung test

std::string feed(const std::string& version, const std::string& url, const std::string& extra = "")
{
    return R"({"version":")" + version + R"(","url":")" + url + "\"" + extra + "}";
}

bool noUpdateFolder(const fs::path& temporary)
{
    return std::ranges::none_of(fs::directory_iterator(temporary), [](const fs::directory_entry& entry) {
        return entry.path().filename().string().starts_with("TaskbellUpdate-");
    });
}

// An updater running "1.0.0" from an installed bundle, with a clock the test moves and a feed server.
struct UpdaterFixture
{
    test::TempDir temp;
    test::WebServer server;
    update::SigningKey key = update::generateSigningKey();
    app::Timing::Clock::time_point now = app::Timing::Clock::time_point(std::chrono::hours(24 * 365 * 50));
    int quits = 0;
    fs::path installed;
    std::unique_ptr<Updater> updater;
    Json statuses = Json::array(); // every status the updater showed, "-" for none
    std::string lastStatus = "-";
    bool clockRuns = false; // each reading moves the clock a minute on

    explicit UpdaterFixture(bool inBundle = true, double scale = 0.001, bool withKey = true)
    {
        fs::create_directories(temp / "tmp");
        installed = test::makeBundle(temp / "Applications", "Taskbell.app", {"1.0.0"});
        app::UpdaterEnvironment environment;
        environment.timing.delayScale = scale;
        environment.timing.now = [this] { return clockRuns ? now += 61s : now; };
        environment.runningVersion = "1.0.0";
        environment.trustedPublicKey = withKey ? key.publicKey : "";
        if (inBundle) {
            environment.installedBundle = installed;
        }
        environment.temporaryDirectory = temp / "tmp";
        environment.quit = [this] { ++quits; };
        updater = std::make_unique<Updater>(std::move(environment));
        // Each change of the status, in order.
        QObject::connect(updater.get(), &Updater::changed, updater.get(), [this] {
            std::string status = updater->status().value_or("-").toStdString();
            if (status != lastStatus) {
                statuses.push_back(status);
                lastStatus = status;
            }
        });
    }

    QString feedUrl() const { return QString::fromStdString(server.url("/appcast.json")); }
    void check(bool manual)
    {
        bool finished = false;
        updater->check(feedUrl(), manual, [&] { finished = true; });
        QTRY_VERIFY_WITH_TIMEOUT(finished, kWait);
    }

    // Publishes a signed, zipped bundle of this version under /Taskbell.zip and a feed entry for it.
    void publish(const std::string& bundleVersion, const std::string& feedVersion, std::string sha256 = "",
                 bool sign = true, const std::string& name = "Taskbell.app", const std::string& payload = "")
    {
        fs::path built = temp / ("built-" + std::to_string(++published));
        fs::path bundle = test::makeBundle(built, name, {bundleVersion});
        if (!payload.empty()) {
            test::writeFile(bundle / "Contents" / "payload.bin", payload);
        }
        if (sign) {
            update::signBundle(bundle, key.privateKeyPem);
        }
        fs::path zip = built / "release.zip";
        test::zipFolder(zip, bundle);
        std::string bytes = test::readFile(zip);
        server.serve("/Taskbell.zip", 200, bytes);
        if (sha256 == "match") {
            sha256 = sha256Hex(bytes);
        }
        std::string extra = sha256.empty() ? "" : R"(,"sha256":")" + sha256 + "\"";
        server.serve("/appcast.json", 200, feed(feedVersion, server.url("/Taskbell.zip"), extra), "application/json");
    }

    int published = 0;
};

} // namespace

class UpdaterTest : public QObject
{
    Q_OBJECT

private slots:
    void checkOutcomesAndTexts()
    {
        for (const Json& row : test::dataRows("app/updater.json", "checks")) {
            UpdaterFixture fixture;
            fixture.server.serve("/appcast.json", row[0].get<int>(), row[1].is_string() ? "" : row[1].dump(),
                                 "application/json");
            fixture.check(row[2].get<bool>());
            QVERIFY(!fixture.updater->isChecking());
            QCOMPARE(fixture.updater->lastCheck(), std::optional(fixture.now));
            const auto& offer = fixture.updater->available();
            QCOMPARE(offer ? QString::fromStdString(offer->version) : "", test::text(row[3]));
            QCOMPARE(fixture.updater->status().value_or("-"), test::text(row[4]));
            QCOMPARE(!fixture.statuses.empty() && fixture.statuses[0] == "Checking…", row[2].get<bool>());
            const QString error = fixture.updater->errorMessage().value_or("-");
            QCOMPARE(test::text(row[5]) == "*" ? error != "-" && !error.isEmpty() : error == test::text(row[5]), true);
        }
    }

    void guardsAgainstOverlapAndAutomaticChecksWithinAMinute()
    {
        UpdaterFixture fixture;
        fixture.server.serve("/appcast.json", 200, feed("2.0.0", "https://example.com/u.zip"), "application/json");
        // (seconds the clock moves, manual, feed requests by then): an automatic check within a minute of the
        // last one is skipped, a manual one is not.
        for (auto [seconds, manual, hits] : {std::tuple{0, false, 1}, {59, false, 1}, {0, true, 2}, {61, false, 3}}) {
            fixture.now += std::chrono::seconds(seconds);
            fixture.check(manual);
            QCOMPARE(fixture.server.hits("/appcast.json"), hits);
        }

        // A check or an install while one runs is refused without any change.
        fixture.now += 61s;
        bool first = false;
        fixture.updater->check(fixture.feedUrl(), true, [&] { first = true; });
        bool refused = false;
        fixture.updater->check(fixture.feedUrl(), true, [&] { refused = true; });
        QVERIFY(refused && !first);
        bool installRefused = false;
        fixture.updater->install([&] { installRefused = true; });
        QVERIFY(installRefused);
        QTRY_VERIFY_WITH_TIMEOUT(first, kWait);
        QCOMPARE(fixture.server.hits("/appcast.json"), 4);
        QCOMPARE(fixture.server.hits("/u.zip"), 0);
    }

    void startArmsAndDisarmsThePeriodicChecks()
    {
        // Six hours become 216 ms, five seconds become none; the clock moves a minute per reading.
        UpdaterFixture fixture(true, 0.00001);
        fixture.server.serve("/appcast.json", 200, feed("1.0.0", "https://example.com/u.zip"), "application/json");
        fixture.clockRuns = true;
        fixture.updater->start(fixture.feedUrl(), true);
        QVERIFY(fixture.updater->isArmed());
        QTRY_VERIFY_WITH_TIMEOUT(fixture.server.hits("/appcast.json") >= 3,
                                 kWait); // the first check, then the periodic ones
        QVERIFY(!fixture.updater->errorMessage());
        QVERIFY(!fixture.updater->status());

        // Disarmed, no timer of the updater is left to start another check; arming again schedules a new first
        // check, and disarming at once drops it too.
        const auto armed = [&] { return fixture.updater->findChild<QTimer*>({}, Qt::FindDirectChildrenOnly); };
        for (bool twice : {false, true}) {
            fixture.updater->start(fixture.feedUrl(), twice);
            fixture.updater->start(fixture.feedUrl(), false);
            QVERIFY(!fixture.updater->isArmed() && !armed());
        }
    }

    void installOutcomes()
    {
        for (const Json& row : test::dataRows("app/updater.json", "installs")) {
            const Json& offer = row[1];
            const QString error = test::text(row[2]); // empty: installs and quits
            UpdaterFixture fixture(offer.value("installed", "") != "none", 0.001, offer.value("key", true));
            if (offer.contains("url")) {
                std::string url = offer["url"].get<std::string>();
                url = url.front() == '/' ? fixture.server.url(url) : url;
                fixture.server.serve("/appcast.json", 200, feed("2.0.0", url), "application/json");
            } else {
                fixture.publish(offer["bundle"].get<std::string>(), "2.0.0", offer.value("sha256", ""),
                                offer.value("signed", true), offer.value("name", "Taskbell.app"));
            }
            if (offer.value("installed", "") == "removed") {
                fs::remove_all(fixture.temp / "Applications"); // nothing to write into
            }
            fixture.check(false);
            QVERIFY(!fixture.updater->errorMessage()); // automatic checks stay quiet
            fixture.check(true);                       // a manual one says when no install can be verified
            const std::optional<QString> said = fixture.updater->errorMessage();
            QCOMPARE(said.has_value(), !offer.value("key", true));
            fixture.statuses.clear();

            bool finished = false;
            fixture.updater->install([&] { finished = true; });
            QTRY_VERIFY_WITH_TIMEOUT(finished || fixture.quits > 0, kWait);
            QCOMPARE(fixture.quits, error.isEmpty() ? 1 : 0);
            QCOMPARE(fixture.statuses.dump(), row[3].dump());
            // The install script takes the new bundle from beside the installed one: no update folder stays.
            QVERIFY(noUpdateFolder(fixture.temp / "tmp"));
            const QString shown = fixture.updater->errorMessage().value_or("-");
            QVERIFY2(error.isEmpty() ? shown == "-" : shown.startsWith(error), qPrintable(shown));
            if (!error.isEmpty()) {
                QVERIFY(!fixture.updater->isChecking());
                QVERIFY(fixture.updater->available()); // the user may try again
            }
            if (said) {
                QCOMPARE(fixture.updater->errorMessage(), said);
            }
            if (row[3].empty()) { // refused before any download
                QCOMPARE(fixture.server.hits("/Taskbell.zip"), 0);
            }
        }
    }

    void quittingDuringAnInstallStopsItAndLeavesNoUpdateFolder()
    {
        // The updater goes away at different moments of the install: as it starts, once the download has
        // reached the site, and as verification begins (a bundle with 32 MB to unpack and hash keeps that
        // step busy for a while). The moment is checked after each event, so nothing queued after it runs first.
        for (std::string moment : {"start", "download", "verification"}) {
            UpdaterFixture fixture;
            fixture.publish("2.0.0", "2.0.0", "match", true, "Taskbell.app", std::string(32 << 20, '\0'));
            fixture.check(true);
            fixture.updater->install();
            QEventLoop loop;
            auto reached = [&] {
                bool now = moment == "start" || (moment == "download" && fixture.server.hits("/Taskbell.zip") > 0) ||
                           (moment == "verification" && fixture.updater->status() == QStringLiteral("Verifying…"));
                if (now) {
                    loop.quit();
                }
                return now;
            };
            QObject::connect(fixture.updater.get(), &Updater::changed, &loop, reached);
            QTimer poll; // the site's requests come from another thread: asked between events
            QObject::connect(&poll, &QTimer::timeout, &loop, reached);
            poll.start(0);
            QTimer::singleShot(std::chrono::seconds(10), &loop, &QEventLoop::quit);
            if (!reached()) {
                loop.exec();
            }
            QVERIFY2(reached(), moment.c_str());
            fixture.updater.reset();
            QCOMPARE(fixture.quits, 0);
            QVERIFY2(noUpdateFolder(fixture.temp / "tmp"), moment.c_str());
        }
    }
};

QTEST_MAIN(UpdaterTest)
#include "updater_test.moc"
