#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace taskbell {

// The panel's filter tabs.
enum class TaskFilter { all, backlog, inProgress, done };

inline constexpr std::array<TaskFilter, 4> kAllTaskFilters = {TaskFilter::all, TaskFilter::backlog,
                                                              TaskFilter::inProgress, TaskFilter::done};

// "all", "backlog", "inProgress", "done".
std::string_view rawValue(TaskFilter filter);
// The case of a raw value; any other text (titles included) gives nothing.
std::optional<TaskFilter> taskFilter(std::string_view raw);
// "All", "Backlog", "In Progress", "Done".
std::string_view title(TaskFilter filter);
// True for `all` and for the one matching section.
bool showsBacklog(TaskFilter filter);
bool showsInProgress(TaskFilter filter);
bool showsDone(TaskFilter filter);
// The number in the tab: the size of the sections the filter shows, added up.
std::size_t count(TaskFilter filter, std::size_t backlog, std::size_t inProgress, std::size_t done);

// Where a new task should end up.
enum class CreateTarget { todo, inProgress, done };

inline constexpr std::array<CreateTarget, 3> kAllCreateTargets = {CreateTarget::todo, CreateTarget::inProgress,
                                                                  CreateTarget::done};

// "todo", "inProgress", "done".
std::string_view rawValue(CreateTarget target);
std::optional<CreateTarget> createTarget(std::string_view raw);
// "To Do", "In Progress", "Done".
std::string_view title(CreateTarget target);
// The status category to move a new task into: none for `todo`, "indeterminate", "done".
std::optional<std::string_view> statusCategory(CreateTarget target);

} // namespace taskbell
