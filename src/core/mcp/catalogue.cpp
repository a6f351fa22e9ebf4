#include "core/mcp/server_internal.h"

namespace taskbell::MCPServer {
namespace {

Json property(const char* type, const char* description)
{
    return Json{{"type", type}, {"description", description}};
}

Json property(const char* type, const char* description, std::initializer_list<const char*> choices)
{
    Json result = property(type, description);
    result["enum"] = Json::array();
    for (const char* choice : choices) {
        result["enum"].push_back(choice);
    }
    return result;
}

Json tool(const char* name, const char* description, Json properties, std::initializer_list<const char*> required)
{
    Json schema{{"type", "object"}, {"properties", std::move(properties)}};
    if (required.size() > 0) {
        schema["required"] = Json::array();
        for (const char* member : required) {
            schema["required"].push_back(member);
        }
    }
    return Json{{"name", name}, {"description", description}, {"inputSchema", std::move(schema)}};
}

const char* const kIssueKey = "The issue key, e.g. ORCA-412.";

} // namespace

Json toolDefinitions()
{
    return Json::array({
        tool("create_task",
             "Create a Jira task assigned to you and optionally put it straight into In Progress or Done. Project, "
             "issue type and credentials default to whatever Taskbell's Settings are configured with.",
             {{"summary", property("string", "The task title.")},
              {"description", property("string", "Optional plain-text body.")},
              {"status", property("string",
                                  "Status the task should end up in. Jira always creates in the workflow's initial "
                                  "status, so anything other than 'todo' is reached by applying transitions. Defaults "
                                  "to 'todo'.",
                                  {"todo", "in_progress", "done"})},
              {"projectKey", property("string", "Project key, e.g. ORCA. Defaults to the configured project.")},
              {"issueType", property("string", "Issue type name, e.g. Task or Bug. Defaults to the configured type.")},
              {"assignToMe", property("boolean", "Assign the new task to you. Defaults to true.")}},
             {"summary"}),
        tool("list_tasks", "List the Jira tasks assigned to you: backlog, in progress and/or recently done.",
             {{"filter", property("string", "Which tasks to return. Defaults to 'in_progress'.",
                                  {"backlog", "in_progress", "done", "all"})},
              {"monthsBack", property("integer", "How many months of Done history to include (1 = this month). "
                                                 "Defaults to the configured value.")},
              {"limit", property("integer", "Maximum tasks per section. Defaults to 100.")}},
             {}),
        tool("set_status",
             "Move an existing Jira issue to To Do, In Progress or Done by applying its workflow transitions "
             "(stepping through In Progress when Done isn't directly reachable).",
             {{"issueKey", property("string", kIssueKey)},
              {"status", property("string", "Target status.", {"todo", "in_progress", "done"})}},
             {"issueKey", "status"}),
        tool("get_task",
             "Read one Jira issue: summary, status, type, dates and its full description as plain text. Use it "
             "before update_task to see what you'd be replacing.",
             {{"issueKey", property("string", kIssueKey)}}, {"issueKey"}),
        tool("update_task",
             "Edit an existing Jira issue's summary and/or description. Only the fields you pass are changed. The "
             "description is replaced wholesale with plain text: a blank line starts a new paragraph and lines "
             "starting with \"- \" become bullets, but rich formatting in the old description (links, bold, "
             "headings, tables, nested lists) is not kept. The previous values are returned so the edit can be "
             "undone.",
             {{"issueKey", property("string", kIssueKey)},
              {"summary", property("string", "New title. Omit to leave it as it is.")},
              {"description", property("string", "New plain-text body. Omit to leave it as it is; pass an empty "
                                                 "string to clear it.")}},
             {"issueKey"}),
    });
}

} // namespace taskbell::MCPServer
