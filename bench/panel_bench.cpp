// The task panel with 900 issues (300 per section) from the fake Jira site, offscreen: time to the painted
// first show and to each tab switch, to rebuild after a reload with unchanged issues and with one changed,
// the slowest step scrolling All one screen at a time; then the resident memory and the CPU used while
// idle. Prints figures only. The application prepares what a row draws once its first load is done; so does the
// bench before the first show, unless it is given --cold (the panel opened before that load finished).
// --all-first switches from In Progress straight to All, and prints what that first visit of All added to
// the resident memory; the tab timings then follow in the order All, Backlog, Done.

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include <httplib.h>
#include <sys/resource.h>
#include <time.h>

#include "app/model/app_store.h"
#include "app/model/updater.h"
#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/task_list.h"
#include "app/panel/task_row.h"
#include "core/settings/app_settings.h"
#include "fake_jira.h"
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

double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of the GUI thread in milliseconds: on a machine shared with other work it shows what the panel
// costs apart from the waits for a core.
double threadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Wall and GUI-thread CPU milliseconds of one step.
struct Cost
{
    double wall = 0;
    double cpu = 0;
};

std::ostream& operator<<(std::ostream& out, const Cost& cost)
{
    return out << cost.wall << " ms (CPU " << cost.cpu << " ms)";
}

template <typename Step> Cost measured(Step step)
{
    QElapsedTimer timer;
    timer.start();
    double cpu = threadMs();
    step();
    return {timer.nsecsElapsed() / 1e6, threadMs() - cpu};
}

// Brings the view up to date with the store, then lets the event loop lay out and paint what changed.
Cost timedRefresh(ContentView& view)
{
    return measured([&] {
        view.refresh();
        QCoreApplication::processEvents(); // layout and painting of what changed
    });
}

Cost median(std::vector<Cost> values)
{
    std::sort(values.begin(), values.end(), [](const Cost& a, const Cost& b) { return a.wall < b.wall; });
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
    AppSettings site;
    site.baseURL = jira.baseUrl();
    site.email = jira.email();
    site.refreshMinutes = 0;
    SettingsStore saved(folder.path());
    site.save(saved);
    AppStore store(SettingsStore(folder.path()), Timing{}, QString::fromStdString(jira.token()));
    UpdaterEnvironment environment;
    environment.runningVersion = "1.10.0";
    environment.temporaryDirectory = folder.path();
    Updater updater(environment);
    auto load = [&] {
        QSignalSpy finished(&store, &AppStore::loadFinished);
        store.load(true);
        finished.wait(60000);
    };
    load();
    bool cold = false;
    bool allFirst = false;
    for (int i = 1; i < argc; ++i) {
        cold = cold || std::string(argv[i]) == "--cold";
        allFirst = allFirst || std::string(argv[i]) == "--all-first";
    }
    if (!cold) {
        prepareRowResources(store);
    }
    long before = residentKilobytes();
    // The panel is made when it is first opened, then shows In Progress.
    std::unique_ptr<ContentView> made;
    Cost making = measured([&] {
        made = std::make_unique<ContentView>(store, updater);
        made->resize(560, 870);
    });
    ContentView& view = *made;
    view.show();
    Cost firstBuild = timedRefresh(view);

    QElapsedTimer textsTimer;
    textsTimer.start();
    for (const Issue& issue : store.inProgress()) {
        (void)RowTexts::of(issue, std::chrono::system_clock::now());
    }
    double texts = textsTimer.nsecsElapsed() / 1e6;

    std::vector<Cost> unchanged;
    for (int round = 0; round < kRounds; ++round) {
        load();
        unchanged.push_back(timedRefresh(view));
    }
    auto settle = [] {
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
        }
        QTest::qWait(300);
    };
    settle();
    long rssInProgress = residentKilobytes();
    // Idle in the event loop itself (QTest::qWait would wake it every few milliseconds); the fake site's
    // threads count in the process figure, the GUI thread's is the panel's own.
    double cpuBefore = cpuSeconds();
    double guiBefore = cpuSeconds(RUSAGE_THREAD);
    QElapsedTimer idle;
    idle.start();
    QEventLoop idleLoop;
    QTimer::singleShot(3000, &idleLoop, &QEventLoop::quit);
    idleLoop.exec();
    double seconds = idle.nsecsElapsed() / 1e9;
    double cpu = (cpuSeconds() - cpuBefore) / seconds * 100;
    double guiCpu = (cpuSeconds(RUSAGE_THREAD) - guiBefore) / seconds * 100;

    auto timedSwitch = [&](TaskFilter filter) {
        return measured([&] {
            view.filterTabs()->button(filter)->toggle();
            QCoreApplication::processEvents();
        });
    };
    Cost allBuild;
    long rssFirstAll = 0;
    if (allFirst) {
        allBuild = timedSwitch(TaskFilter::all);
        settle();
        rssFirstAll = residentKilobytes();
    }
    Cost backlogShow = timedSwitch(TaskFilter::backlog);
    Cost doneShow = timedSwitch(TaskFilter::done);
    if (!allFirst) {
        allBuild = timedSwitch(TaskFilter::all);
    }
    std::vector<Cost> allUnchanged;
    for (int round = 0; round < kRounds; ++round) {
        load();
        allUnchanged.push_back(timedRefresh(view));
    }

    // One screen a step from the top of All to its bottom.
    QScrollBar* bar = view.scrollArea()->verticalScrollBar();
    Cost worstStep;
    int steps = 0;
    for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
        Cost step = measured([&] {
            bar->setValue(value);
            QCoreApplication::processEvents();
        });
        worstStep.wall = std::max(worstStep.wall, step.wall);
        worstStep.cpu = std::max(worstStep.cpu, step.cpu);
        ++steps;
    }
    bar->setValue(0);

    // A reload in which one issue changed.
    std::vector<Cost> oneChanged;
    for (int round = 0; round < kRounds; ++round) {
        httplib::Client client(jira.baseUrl());
        client.set_basic_auth(jira.email(), jira.token());
        std::string body = R"({"fields":{"summary":"First task changed )" + std::to_string(round) + R"("}})";
        client.Put("/rest/api/3/issue/" + store.inProgress().front().key, body, "application/json");
        load();
        oneChanged.push_back(timedRefresh(view));
    }
    settle();
    long rssAll = residentKilobytes();

    std::cout << "panel with " << store.backlog().size() << " + " << store.inProgress().size() << " + "
              << store.done().size() << " issues, " << view.taskList()->rowCount() << " row widgets made\n";
    std::cout << "making the panel, once per run:             " << making << "\n";
    std::cout << (cold ? "first show, In Progress tab, cold:          "
                       : "first show, In Progress tab:                ")
              << firstBuild << " (goal <= 16 ms)\n";
    std::cout << "switch to Backlog / Done:                   " << backlogShow << " / " << doneShow << "\n";
    std::cout << "switch to All:                              " << allBuild << " (goal <= 16 ms)\n";
    std::cout << "texts of 300 rows (dates formatted):        " << texts << " ms\n";
    std::cout << "rebuild after a reload, In Progress tab:    " << median(unchanged) << " (median of " << kRounds
              << ")\n";
    std::cout << "rebuild after a reload, All tab:            " << median(allUnchanged) << " (median of " << kRounds
              << ")\n";
    std::cout << "reload with one issue changed, All tab:     " << median(oneChanged) << " (median of " << kRounds
              << ", goal <= 2 ms)\n";
    std::cout << "scrolling All, " << steps << " screens, slowest step:   " << worstStep << " (goal <= 16 ms)\n";
    std::cout << "resident memory before the panel:           " << before / 1024.0 << " MB (store, fake site, Qt)\n";
    std::cout << "resident memory, In Progress tab:           " << rssInProgress / 1024.0 << " MB\n";
    if (allFirst) {
        std::cout << "resident memory, then All (first visit):    " << rssFirstAll / 1024.0 << " MB ("
                  << (rssFirstAll - rssInProgress) << " kB more)\n";
    }
    std::cout << "resident memory, All tab:                   " << rssAll / 1024.0 << " MB\n";
    std::cout << "CPU while idle for 3 s:                     " << guiCpu << " % GUI thread, " << cpu
              << " % with the fake site\n";
    return 0;
}
