#include "core/jira/jql.h"

namespace taskbell::JQL {

std::string assignedDone(int monthsBack)
{
    std::string start =
        monthsBack >= 2 ? "startOfMonth(\"-" + std::to_string(monthsBack - 1) + "\")" : std::string("startOfMonth()");
    return "assignee = currentUser() AND statusCategory = Done AND updated >= " + start + " ORDER BY updated DESC";
}

} // namespace taskbell::JQL
