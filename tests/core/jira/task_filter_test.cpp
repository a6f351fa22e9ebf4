// Titles, sections and counts of the filter tabs are the panel's tests (tests/app/panel); here how stored raw values
// read back, which only a restart shows.
#include <gtest/gtest.h>

#include "core/jira/task_filter.h"

using namespace taskbell;

TEST(TaskFilter, RawValuesReadBackExactlyAndNothingElseDoes)
{
    for (TaskFilter filter : kAllTaskFilters) {
        EXPECT_EQ(taskFilter(rawValue(filter)), filter) << rawValue(filter);
    }
    for (CreateTarget target : kAllCreateTargets) {
        EXPECT_EQ(createTarget(rawValue(target)), target) << rawValue(target);
    }
    EXPECT_EQ(rawValue(TaskFilter::inProgress), "inProgress");
    for (std::string_view text : {"In Progress", "All", "ALL", "", "inprogress", " done", "To Do", "new"}) {
        EXPECT_FALSE(taskFilter(text) || createTarget(text)) << text;
    }
}
