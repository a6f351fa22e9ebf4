// Renders the panel in its main states into PNG files, headless (offscreen platform), against the fake
// Jira site's sample issues. Usage: panel_screenshots OUTPUT_FOLDER

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <iostream>

#include "app/model/app_store.h"
#include "app/model/updater.h"
#include "app/panel/content_view.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/status_menu.h"
#include "app/panel/task_list.h"
#include "fake_jira.h"

using namespace taskbell;
using namespace taskbell::app;

namespace {

constexpr QSize kPanelSize{560, 870};

struct Scene
{
    test::FakeJira jira{[] {
        test::FakeJira::Options options;
        options.sampleIssues = true;
        return options;
    }()};
    QTemporaryDir folder;
    AppStore store{SettingsStore(folder.path().toStdString()), Timing{}, QString::fromStdString(jira.token())};
    Updater updater{[this] {
        UpdaterEnvironment environment;
        environment.runningVersion = "1.10.0";
        environment.temporaryDirectory = folder.path().toStdString();
        environment.quit = [] {};
        return environment;
    }()};
    std::unique_ptr<ContentView> view;

    explicit Scene(bool configured)
    {
        if (configured) {
            configure();
        }
        view = std::make_unique<ContentView>(store, updater);
        view->resize(kPanelSize);
    }

    void configure()
    {
        AppSettings site;
        site.baseURL = jira.baseUrl();
        site.email = jira.email();
        site.refreshMinutes = 0;
        store.saveSettings(site, std::nullopt);
    }

    // The site rejects every request, as after the token was revoked.
    void revokeToken()
    {
        jira.setInterceptor([](const test::LoggedRequest&) {
            return std::optional<test::FakeReply>(test::FakeReply(
                401, "Client must be authenticated to access this resource.", "text/plain;charset=UTF-8"));
        });
    }

    void load(bool silent)
    {
        QSignalSpy finished(&store, &AppStore::loadFinished);
        store.load(silent);
        finished.wait(10000);
    }

    void open()
    {
        QSignalSpy finished(&store, &AppStore::loadFinished);
        view->show();
        if (store.config().isComplete()) {
            finished.wait(10000);
        }
        settle();
    }

    void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        view->refresh();
        QCoreApplication::processEvents();
    }

    void offerUpdate(const std::string& version)
    {
        std::string body = R"({"version":")" + version + R"(","url":")" + jira.baseUrl() + R"(/Taskbell.zip"})";
        jira.setRoute("GET", "/feed.json", [body](const test::LoggedRequest&) { return test::FakeReply(200, body); });
        bool done = false;
        updater.check(QString::fromStdString(jira.baseUrl() + "/feed.json"), true, [&done] { done = true; });
        (void)QTest::qWaitFor([&done] { return done; }, 10000);
        settle();
    }
};

bool save(const QImage& image, const QDir& folder, const char* name)
{
    QString path = folder.filePath(QString(name) + ".png");
    bool saved = image.save(path);
    std::cout << (saved ? "wrote " : "could not write ") << path.toStdString() << "\n";
    return saved;
}

QImage grab(QWidget* widget)
{
    return widget->grab().toImage();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: panel_screenshots OUTPUT_FOLDER\n";
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    folder.mkpath(".");
    bool ok = true;
    {
        Scene scene(false);
        scene.open();
        ok &= save(grab(scene.view.get()), folder, "panel-not-configured");
    }
    {
        Scene scene(true);
        scene.open();
        scene.view->filterTabs()->button(TaskFilter::all)->toggle();
        scene.settle();
        ok &= save(grab(scene.view.get()), folder, "panel-all-sections");

        // A row's status menu, open over the panel.
        TaskRow* row = scene.view->taskList()->shownRows().at(2);
        row->ensureTransitions();
        (void)QTest::qWaitFor(
            [&] { return scene.store.transitions(QString::fromStdString(row->issue().key)).has_value(); }, 10000);
        auto* button = row->findChild<StatusMenu*>();
        QImage panel = grab(scene.view.get());
        QMenu* menu = button->ensureMenu();
        emit menu->aboutToShow();
        menu->adjustSize();
        QImage popup = grab(menu);
        QPainter painter(&panel);
        QPoint at = button->mapTo(scene.view.get(), QPoint(0, button->height()));
        at.setX(std::min(at.x(), kPanelSize.width() - popup.width() - 4));
        painter.drawImage(at, popup);
        painter.end();
        ok &= save(panel, folder, "panel-status-menu");

        scene.offerUpdate("1.11.0");
        ok &= save(grab(scene.view.get()), folder, "panel-update-banner");
    }
    {
        Scene scene(true);
        scene.open();
        scene.revokeToken();
        scene.load(false);
        scene.settle();
        ok &= save(grab(scene.view.get()), folder, "panel-error-banner");
    }
    return ok ? 0 : 1;
}
