#include <gtest/gtest.h>

#include "core/jira/task_filter.h"

using namespace taskbell;

TEST(TaskFilter, CasesInOrderWithRawValuesTitlesAndSections)
{
    struct Case
    {
        TaskFilter filter;
        std::string_view raw;
        std::string_view title;
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
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(kAllTaskFilters[i], c.filter);
        EXPECT_EQ(rawValue(c.filter), c.raw);
        EXPECT_EQ(taskFilter(c.raw), c.filter);
        EXPECT_EQ(title(c.filter), c.title);
        EXPECT_EQ(showsBacklog(c.filter), c.backlog);
        EXPECT_EQ(showsInProgress(c.filter), c.inProgress);
        EXPECT_EQ(showsDone(c.filter), c.done);
        EXPECT_EQ(count(c.filter, 3, 5, 7), c.count);
    }
}

TEST(CreateTarget, CasesInOrderWithRawValuesTitlesAndCategories)
{
    struct Case
    {
        CreateTarget target;
        std::string_view raw;
        std::string_view title;
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
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(kAllCreateTargets[i], c.target);
        EXPECT_EQ(rawValue(c.target), c.raw);
        EXPECT_EQ(createTarget(c.raw), c.target);
        EXPECT_EQ(title(c.target), c.title);
        EXPECT_EQ(statusCategory(c.target), c.category);
    }
}

TEST(TaskFilter, OnlyRawValuesNameACase)
{
    for (std::string_view text : {"In Progress", "All", "ALL", "", "inprogress", " done"}) {
        EXPECT_FALSE(taskFilter(text)) << text;
    }
    for (std::string_view text : {"To Do", "new", "indeterminate", "Done", ""}) {
        EXPECT_FALSE(createTarget(text)) << text;
    }
}
