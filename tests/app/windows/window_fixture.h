#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "app/model/app_store.h"
#include "fake_jira.h"
#include "temp_dir.h"

namespace taskbell::test {

// A store with its settings in a private folder, connected to a fresh fake Jira Cloud, its waits scaled
// down so that follow-up reloads pass in milliseconds.
struct StoreFixture
{
    TempDir dir;
    FakeJira jira;
    std::unique_ptr<app::AppStore> store;

    StoreFixture();
    // Runs a visible load and waits for it; false when it did not finish.
    bool load();
};

// Saves the widget as <name>.png into $TASKBELL_SCREENSHOT_DIR when that is set (docs/screenshots are made
// this way); does nothing otherwise.
void screenshot(QWidget* widget, const QString& name);

// Waits until queued work (thread-pool results applied on the GUI thread) has run.
void settle();

} // namespace taskbell::test
