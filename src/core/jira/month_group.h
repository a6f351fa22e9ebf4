#pragma once

#include <string>
#include <vector>

#include "core/jira/date.h"
#include "core/jira/models.h"

namespace taskbell {

// Issues of one calendar month, in their order in the list they came from.
struct MonthGroup
{
    std::string label; // "LLLL yyyy" in the display locale, e.g. "March 2026"
    std::vector<Issue> issues;
};

// Groups issues by the calendar month of their sort date in the default time zone, newest month first,
// labelled in the display locale with its calendar. Empty input gives no groups.
std::vector<MonthGroup> groupByMonth(const std::vector<Issue>& issues);

} // namespace taskbell

namespace taskbell::JiraDate {

// The locale of the date labels: LC_ALL, then LC_TIME, then LANG (the first one set and not empty, "C"
// and "POSIX" meaning English), so day and month labels always agree.
std::string displayLocaleName();

// "March 2026": pattern "LLLL yyyy" (stand-alone month name) in the display locale and default time zone.
std::string monthLabel(TimePoint date);

} // namespace taskbell::JiraDate
