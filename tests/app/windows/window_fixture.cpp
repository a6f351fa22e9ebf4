#include "window_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>

#include "core/settings/app_settings.h"

namespace taskbell::test {

StoreFixture::StoreFixture()
{
    app::Timing timing;
    timing.delayScale = 0.001;
    AppSettings site;
    site.baseURL = jira.baseUrl();
    site.email = jira.email();
    site.projectKey = "TB";
    SettingsStore settings(dir / "settings");
    site.save(settings);
    store = std::make_unique<app::AppStore>(settings, timing, QString::fromStdString(jira.token()));
}

bool StoreFixture::load()
{
    bool finished = false;
    store->load(false, [&finished] { finished = true; });
    return QTest::qWaitFor([&finished] { return finished; }, 10000);
}

void screenshot(QWidget* widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("TASKBELL_SCREENSHOT_DIR");
    if (folder.isEmpty()) {
        return;
    }
    QDir().mkpath(folder);
    QTest::qWait(50); // pending layout requests first
    widget->repaint();
    widget->grab().save(QDir(folder).filePath(name + ".png"));
}

void settle()
{
    QCoreApplication::processEvents();
    QTest::qWait(1);
}

} // namespace taskbell::test
