// Filter tabs and create targets against tests/data/jira/filters.json, and how stored raw values read back.
#include <gtest/gtest.h>

#include "core/jira/task_filter.h"
#include "test_data.h"

using namespace taskbell;

TEST(TaskFilter, TablesInOrderAndOnlyExactRawValuesReadBack)
{
    const Json tables = test::testData("jira/filters.json");
    ASSERT_EQ(tables.at("filters").size(), kAllTaskFilters.size());
    for (std::size_t i = 0; i < kAllTaskFilters.size(); ++i) {
        const TaskFilter filter = kAllTaskFilters[i];
        EXPECT_EQ(taskFilter(rawValue(filter)), filter);
        EXPECT_EQ(Json::array({rawValue(filter), title(filter), showsBacklog(filter), showsInProgress(filter),
                               showsDone(filter), count(filter, 3, 5, 7)}),
                  tables["filters"][i]);
    }
    ASSERT_EQ(tables.at("targets").size(), kAllCreateTargets.size());
    for (std::size_t i = 0; i < kAllCreateTargets.size(); ++i) {
        const CreateTarget target = kAllCreateTargets[i];
        EXPECT_EQ(createTarget(rawValue(target)), target);
        auto category = statusCategory(target);
        EXPECT_EQ(Json::array({rawValue(target), title(target), category ? Json(*category) : Json()}),
                  tables["targets"][i]);
    }
    for (std::string_view text : {"In Progress", "All", "ALL", "", "inprogress", " done", "To Do", "new"}) {
        EXPECT_FALSE(taskFilter(text) || createTarget(text)) << text;
    }
}
