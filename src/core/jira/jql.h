#pragma once

#include <string>

namespace taskbell::JQL {

// The three section queries. Backlog selects by the status named Backlog, not by the "new" category.
inline constexpr const char* backlog = "assignee = currentUser() AND status = \"Backlog\" ORDER BY updated DESC";
inline constexpr const char* inProgress =
    "assignee = currentUser() AND statusCategory = \"In Progress\" ORDER BY updated DESC";

// Done issues updated since the first day of the month monthsBack - 1 months ago (the current month for
// 1 or less). The month arithmetic is left to Jira's startOfMonth.
std::string assignedDone(int monthsBack);

} // namespace taskbell::JQL
