// A full visible load of the task store against the fake Jira Cloud with an injected connect delay and
// per-request latency: 300 issues in each section, three pages per search chain. Reports the wall time as
// a ratio to the floor (one connect plus the longest chain's requests: three pages) and the connections
// opened. Each run uses a fresh fake site, so every load starts cold. Prints figures; asserts nothing.
// Goals: ratio <= 1.15, connections <= 4.
// Usage: bench_store_load [runs] [connect ms latency ms]
#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/model/app_store.h"
#include "core/settings/app_settings.h"
#include "fake_jira.h"
#include "temp_dir.h"

using namespace taskbell;

namespace {

constexpr int kPerSection = 300;

struct Run
{
    double millis;
    int connections;
    std::size_t requests;
    std::size_t issues;
};

void fill(test::FakeJira& jira)
{
    for (const char* status : {"10000", "3", "10002"}) {
        for (int i = 0; i < kPerSection; ++i) {
            test::FakeIssue issue;
            issue.summary = "Issue " + std::to_string(i);
            issue.statusId = status;
            issue.assigneeAccountId = jira.accountId();
            jira.addIssue(issue);
        }
    }
}

Run runOnce(std::chrono::milliseconds connect, std::chrono::milliseconds latency)
{
    test::TempDir folder;
    test::FakeJira jira;
    fill(jira);
    jira.setMaxPageSize(100);
    jira.setConnectDelay(connect);
    jira.setDelay(latency);
    AppSettings settings;
    settings.baseURL = jira.baseUrl();
    settings.email = jira.email();
    settings.refreshMinutes = 0;
    SettingsStore store(folder / "settings");
    settings.save(store);

    app::AppStore appStore(store, app::Timing{}, QString::fromStdString(jira.token()));
    QEventLoop loop;
    auto start = std::chrono::steady_clock::now();
    appStore.load(false, [&] { loop.quit(); });
    loop.exec();
    double millis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::size_t issues = appStore.backlog().size() + appStore.inProgress().size() + appStore.done().size();
    if (appStore.errorMessage()) {
        std::fprintf(stderr, "load failed: %s\n", qPrintable(*appStore.errorMessage()));
        std::exit(1);
    }
    return {millis, jira.connectionCount(), jira.requests().size(), issues};
}

void report(int runs, std::chrono::milliseconds connect, std::chrono::milliseconds latency)
{
    double floor = static_cast<double>((connect + 3 * latency).count());
    std::vector<Run> samples;
    for (int i = 0; i < runs; ++i) {
        samples.push_back(runOnce(connect, latency));
    }
    std::sort(samples.begin(), samples.end(), [](const Run& a, const Run& b) { return a.millis < b.millis; });
    const Run& middle = samples[samples.size() / 2];
    int mostConnections = 0;
    for (const Run& run : samples) {
        mostConnections = std::max(mostConnections, run.connections);
    }
    std::printf("%10lld %10lld %8zu %9zu %10.1f %9.0f %7.2fx %12d\n", static_cast<long long>(connect.count()),
                static_cast<long long>(latency.count()), middle.issues, middle.requests, middle.millis, floor,
                middle.millis / floor, mostConnections);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    int runs = argc > 1 ? std::atoi(argv[1]) : 9;
    using std::chrono::milliseconds;
    std::vector<std::pair<milliseconds, milliseconds>> settings = {{milliseconds{60}, milliseconds{40}},
                                                                   {milliseconds{60}, milliseconds{80}},
                                                                   {milliseconds{100}, milliseconds{150}}};
    if (argc > 3) {
        settings = {{milliseconds{std::atoi(argv[2])}, milliseconds{std::atoi(argv[3])}}};
    }
    runOnce(milliseconds{0}, milliseconds{0}); // warm-up: page cache, ICU data, the HTTP pool
    std::printf("full visible load, %d runs each; floor = connect + 3 x latency; goals: ratio <= 1.15, "
                "connections <= 4\n",
                runs);
    std::printf("%10s %10s %8s %9s %10s %9s %8s %12s\n", "connect ms", "latency ms", "issues", "requests", "median ms",
                "floor ms", "ratio", "connections");
    for (const auto& [connect, latency] : settings) {
        report(runs, connect, latency);
    }
    return 0;
}
