#include "app/windows/window_contents.h"

#include "app/windows/about_view.h"
#include "app/windows/add_task_view.h"
#include "app/windows/settings_view.h"
#include "app/windows/task_detail_view.h"

namespace taskbell::app {

AuxContents windowContents(AppStore& store, Updater& updater)
{
    AuxContents contents;
    contents.settings = [&store, &updater] { return new SettingsView(store, updater); };
    contents.addTask = [&store] { return new AddTaskView(store); };
    contents.about = [] { return new AboutView; };
    contents.taskDetail = [&store](const Issue& issue) { return new TaskDetailView(store, issue); };
    return contents;
}

} // namespace taskbell::app
