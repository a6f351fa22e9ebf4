// The task panel with 900 issues (300 per section) from the fake Jira site, offscreen: time to build the
// rows the first time, to rebuild after a reload with unchanged issues and after a reload where every issue
// changed, to switch tabs; then the resident memory and the CPU used while idle. Prints figures only.

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <vector>

#include <sys/resource.h>

#include "app/model/app_store.h"
#include "app/model/updater.h"
#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/task_list.h"
#include "support/fake_jira.h"
#include "support/temp_dir.h"

using namespace taskbell;
using namespace taskbell::app;

namespace {

constexpr int kPerSection = 300;
constexpr int kRounds = 5;

long residentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Brings the view up to date with the store and lays it out, as the next paint would.
double timedRefresh(ContentView& view)
{
    QElapsedTimer timer;
    timer.start();
    view.refresh();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    view.taskList()->adjustSize();
    return timer.nsecsElapsed() / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    test::FakeJira jira;
    test::TempDir folder;
    auto addIssues = [&](const std::string& prefix) {
        for (const char* status : {"10000", "3", "10002"}) {
            for (int i = 0; i < kPerSection; ++i) {
                test::FakeIssue issue;
                issue.summary = prefix + " task " + std::to_string(i) + " in a section of the panel";
                issue.statusId = status;
                issue.assigneeAccountId = jira.accountId();
                if (std::string(status) == "10002") {
                    issue.resolutiondate = jira.now();
                }
                jira.addIssue(issue);
            }
        }
    };
    addIssues("First");
    AppStore store(SettingsStore(folder.path()), Timing{});
    store.setBaseURL(QString::fromStdString(jira.baseUrl()));
    store.setEmail(QString::fromStdString(jira.email()));
    store.setApiToken(QString::fromStdString(jira.token()));
    store.setRefreshMinutes(0);
    UpdaterEnvironment environment;
    environment.runningVersion = "1.10.0";
    environment.temporaryDirectory = folder.path();
    Updater updater(environment);
    ContentView view(store, updater, PanelActions{});
    view.resize(560, 870);
    auto load = [&] {
        QSignalSpy finished(&store, &AppStore::loadFinished);
        store.load(true);
        finished.wait(60000);
    };
    load();
    long before = residentKilobytes();
    view.show();
    view.filterTabs()->button(TaskFilter::all)->toggle();
    double firstBuild = timedRefresh(view);

    std::vector<double> unchanged;
    for (int round = 0; round < kRounds; ++round) {
        load();
        unchanged.push_back(timedRefresh(view));
    }
    std::vector<double> switches;
    for (TaskFilter filter : {TaskFilter::inProgress, TaskFilter::done, TaskFilter::backlog, TaskFilter::all}) {
        QElapsedTimer timer;
        timer.start();
        view.filterTabs()->button(filter)->toggle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        switches.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::cout << "panel with " << store.backlog().size() << " + " << store.inProgress().size() << " + "
              << store.done().size() << " issues, " << view.taskList()->rowCount() << " rows\n";
    std::cout << "first build of all rows:            " << firstBuild << " ms\n";
    std::cout << "rebuild after an unchanged reload:  " << median(unchanged) << " ms (median of " << kRounds
              << ", goal <= 50 ms)\n";
    std::cout << "tab switch (median of 4):           " << median(switches) << " ms\n";

    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    QTest::qWait(500);
    long rss = residentKilobytes();
    double cpuBefore = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    QTest::qWait(3000);
    double cpu = (cpuSeconds() - cpuBefore) / (idle.nsecsElapsed() / 1e9) * 100;
    std::cout << "resident memory with 900 issues:    " << rss / 1024.0 << " MB (before the panel: " << before / 1024.0
              << " MB; goal <= 60 MB)\n";
    std::cout << "CPU while idle for 3 s:             " << cpu << " %\n";
    return 0;
}
