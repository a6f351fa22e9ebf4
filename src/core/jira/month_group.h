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
// with the default locale's calendar, labelled by monthLabel. Empty input gives no groups.
std::vector<MonthGroup> groupByMonth(const std::vector<Issue>& issues);

} // namespace taskbell

namespace taskbell::JiraDate {

// The locale of the date labels: LC_ALL, then LC_TIME, then LANG (the first one set and not empty, "C"
// and "POSIX" meaning English), as an ICU locale name ("de_DE.UTF-8" gives "de_DE").
std::string displayLocaleName();
// Makes displayLocaleName ICU's default locale, which the day and month labels and the month grouping
// all use, so they always agree. Called once at application start, before any other thread uses ICU.
void applyDisplayLocale();

// "March 2026": pattern "LLLL yyyy" (stand-alone month name) in the default locale and time zone.
std::string monthLabel(TimePoint date);

} // namespace taskbell::JiraDate
