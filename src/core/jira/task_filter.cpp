#include "core/jira/task_filter.h"

namespace taskbell {
namespace {

struct FilterRow
{
    TaskFilter filter;
    std::string_view raw;
    std::string_view title;
};

constexpr std::array<FilterRow, 4> kFilters = {{{TaskFilter::all, "all", "All"},
                                                {TaskFilter::backlog, "backlog", "Backlog"},
                                                {TaskFilter::inProgress, "inProgress", "In Progress"},
                                                {TaskFilter::done, "done", "Done"}}};

struct TargetRow
{
    CreateTarget target;
    std::string_view raw;
    std::string_view title;
    std::string_view category; // empty: stays in its initial status
};

constexpr std::array<TargetRow, 3> kTargets = {
    {{CreateTarget::todo, "todo", "To Do", ""},
     {CreateTarget::inProgress, "inProgress", "In Progress", "indeterminate"},
     {CreateTarget::done, "done", "Done", "done"}}};

const FilterRow& row(TaskFilter filter)
{
    return kFilters[static_cast<std::size_t>(filter)];
}

const TargetRow& row(CreateTarget target)
{
    return kTargets[static_cast<std::size_t>(target)];
}

} // namespace

std::string_view rawValue(TaskFilter filter)
{
    return row(filter).raw;
}

std::optional<TaskFilter> taskFilter(std::string_view raw)
{
    for (const FilterRow& candidate : kFilters) {
        if (candidate.raw == raw) {
            return candidate.filter;
        }
    }
    return std::nullopt;
}

std::string_view title(TaskFilter filter)
{
    return row(filter).title;
}

bool showsBacklog(TaskFilter filter)
{
    return filter == TaskFilter::all || filter == TaskFilter::backlog;
}

bool showsInProgress(TaskFilter filter)
{
    return filter == TaskFilter::all || filter == TaskFilter::inProgress;
}

bool showsDone(TaskFilter filter)
{
    return filter == TaskFilter::all || filter == TaskFilter::done;
}

std::size_t count(TaskFilter filter, std::size_t backlog, std::size_t inProgress, std::size_t done)
{
    return (showsBacklog(filter) ? backlog : 0) + (showsInProgress(filter) ? inProgress : 0) +
           (showsDone(filter) ? done : 0);
}

std::string_view rawValue(CreateTarget target)
{
    return row(target).raw;
}

std::optional<CreateTarget> createTarget(std::string_view raw)
{
    for (const TargetRow& candidate : kTargets) {
        if (candidate.raw == raw) {
            return candidate.target;
        }
    }
    return std::nullopt;
}

std::string_view title(CreateTarget target)
{
    return row(target).title;
}

std::optional<std::string_view> statusCategory(CreateTarget target)
{
    std::string_view category = row(target).category;
    if (category.empty()) {
        return std::nullopt;
    }
    return category;
}

} // namespace taskbell
