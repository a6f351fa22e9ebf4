#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QTest>

#include "app/app_fixture.h"
#include "app/windows/about_view.h"
#include "core/base/app_info.h"
#include "core/platform/executable.h"

using namespace taskbell;
using namespace taskbell::app;

class AboutViewTest : public QObject
{
    Q_OBJECT

private slots:
    void showsTheRunningVersionAndTheChangelogNewestFirst();
};

void AboutViewTest::showsTheRunningVersionAndTheChangelogNewestFirst()
{
    AboutView view;
    view.show();
    QVERIFY(
        view.findChild<QLabel*>("aboutVersion")->text().contains(QString::fromStdString(platform::runningVersion())));
    QLayout* column = view.findChild<QScrollArea*>("aboutChangelog")->widget()->layout();
    QStringList order;
    for (int i = 0; i < column->count(); ++i) {
        if (QWidget* widget = column->itemAt(i)->widget(); widget && widget->objectName().startsWith("changelog-")) {
            order << widget->objectName().mid(QString("changelog-").size());
        }
    }
    QStringList versions;
    for (const ChangelogEntry& entry : AppInfo::changelog()) { // newest first
        versions << QString::fromStdString(entry.version);
    }
    QCOMPARE(order, versions);

    // The oldest block: its version, its date and its seven change lines, verbatim and in order.
    QWidget* oldest = view.findChild<QWidget*>("changelog-1.0.0");
    QStringList texts;
    for (QLabel* label : oldest->findChildren<QLabel*>()) {
        texts << label->text();
    }
    const ChangelogEntry& entry = AppInfo::changelog().back();
    QCOMPARE(texts.mid(0, 2), QStringList({"v1.0.0", "2026-07-08"}));
    QStringList changes;
    for (int i = 2; i < texts.size(); i += 2) {
        QCOMPARE(texts[i], QString("•"));
        changes << texts[i + 1];
    }
    QCOMPARE(changes.size(), static_cast<qsizetype>(entry.changes.size()));
    for (std::size_t i = 0; i < entry.changes.size(); ++i) {
        QCOMPARE(changes[static_cast<qsizetype>(i)], QString::fromStdString(entry.changes[i]));
    }
}

QTEST_MAIN(AboutViewTest)
#include "about_view_test.moc"
