#include <gtest/gtest.h>

#include "core/jira/task_filter.h"

using namespace taskbell;

TEST(TaskFilter, CasesInOrderWithRawValuesTitlesAndSections)
{
    struct Case
    {
        TaskFilter filter;
        std::string_view raw, title;
        bool backlog, inProgress, done;
        std::size_t count; // of 3 Backlog, 5 In Progress, 7 Done
    };
    const Case cases[] = {
        {TaskFilter::all, "all", "All", true, true, true, 15},
        {TaskFilter::backlog, "backlog", "Backlog", true, false, false, 3},
        {TaskFilter::inProgress, "inProgress", "In Progress", false, true, false, 5},
        {TaskFilter::done, "done", "Done", false, false, true, 7},
    };
    ASSERT_EQ(std::size(cases), kAllTaskFilters.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(kAllTaskFilters[i], c.filter);
        EXPECT_EQ(taskFilter(rawValue(c.filter)), c.filter);
        EXPECT_EQ(std::tuple(rawValue(c.filter), title(c.filter), showsBacklog(c.filter), showsInProgress(c.filter),
                             showsDone(c.filter), count(c.filter, 3, 5, 7)),
                  std::tuple(c.raw, c.title, c.backlog, c.inProgress, c.done, c.count));
    }
    for (std::string_view text : {"In Progress", "All", "ALL", "", "inprogress", " done"}) {
        EXPECT_FALSE(taskFilter(text)) << text;
    }
}

TEST(CreateTarget, CasesInOrderWithRawValuesTitlesAndCategories)
{
    struct Case
    {
        CreateTarget target;
        std::string_view raw, title;
        std::optional<std::string_view> category;
    };
    const Case cases[] = {
        {CreateTarget::todo, "todo", "To Do", std::nullopt},
        {CreateTarget::inProgress, "inProgress", "In Progress", "indeterminate"},
        {CreateTarget::done, "done", "Done", "done"},
    };
    ASSERT_EQ(std::size(cases), kAllCreateTargets.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(kAllCreateTargets[i], c.target);
        EXPECT_EQ(createTarget(rawValue(c.target)), c.target);
        EXPECT_EQ(std::tuple(rawValue(c.target), title(c.target), statusCategory(c.target)),
                  std::tuple(c.raw, c.title, c.category));
    }
    for (std::string_view text : {"To Do", "new", "indeterminate", "Done", ""}) {
        EXPECT_FALSE(createTarget(text)) << text;
    }
}
