#include "app/windows/window_contents.h"

#include "app/windows/about_view.h"
#include "app/windows/add_task_view.h"
#include "app/windows/settings_view.h"
#include "app/windows/task_detail_view.h"

namespace taskbell::app {

AuxContents windowContents(AppStore& store, Updater& updater)
{
    AuxContents contents;
    contents.settings = [&store, &updater](std::function<void()> onClose) {
        return new SettingsView(store, updater, std::move(onClose));
    };
    contents.addTask = [&store](std::function<void()> onClose) { return new AddTaskView(store, std::move(onClose)); };
    contents.about = [](std::function<void()> onClose) { return new AboutView(std::move(onClose)); };
    contents.taskDetail = [&store](const Issue& issue, std::function<void()> onClose) {
        return new TaskDetailView(store, issue, std::move(onClose));
    };
    return contents;
}

} // namespace taskbell::app
