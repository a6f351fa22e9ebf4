#include "window_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>

namespace taskbell::test {

StoreFixture::StoreFixture()
{
    app::Timing timing;
    timing.delayScale = 0.001;
    store = std::make_unique<app::AppStore>(SettingsStore(dir / "settings"), timing);
    store->setBaseURL(QString::fromStdString(jira.baseUrl()));
    store->setEmail(QString::fromStdString(jira.email()));
    store->setApiToken(QString::fromStdString(jira.token()));
    store->setProjectKey("TB");
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
