<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>QObject</name>
    <message>
        <source>Taskbell Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New Jira Task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About Taskbell</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::AboutView</name>
    <message>
        <source>Done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version %1 (build %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Changelog</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::ActivityGroup</name>
    <message>
        <source>Changed by your assistant</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 more</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undo</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::ActivityLog</name>
    <message>
        <source>just now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 min ago</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 h ago</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 d ago</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::AddTaskView</name>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New Task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>e.g. QLT</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Project key</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>What needs doing?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Summary</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Description (optional)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Issue type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add to</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Assign to me</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not create the task.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::AppStore</name>
    <message>
        <source>The API token could not be saved to the keyring.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 was created but couldn&apos;t be moved to %2. %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connected as %1.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::AuxWindows</name>
    <message>
        <source>Taskbell Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New Jira Task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About Taskbell</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::ContentView</name>
    <message>
        <source>My Jira Tasks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connect to Jira</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enter your Jira site, email and API token to start tracking your tasks.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Try Again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About &amp; changelog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading your API token from the keyring…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Taskbell couldn&apos;t read your API token from the keyring.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::ErrorBanner</name>
    <message>
        <source>Dismiss</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::IssueActions</name>
    <message>
        <source>Show full details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move to Done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy %1 + summary</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open %1 in browser</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::McpSection</name>
    <message>
        <source>MCP server (Claude Code)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create, list and re-status these tasks from Claude Code. It reuses the settings above, so there is nothing else to configure. Run this in the repo you want it in:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>`-s project` adds it to that repo only. Restart Claude Code afterwards and approve it, then check with `claude mcp list`.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That writes a `.mcp.json` in the repo root. To create it by hand instead:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copied</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::SettingsView</name>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> months</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Off</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every 5 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every 10 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every 15 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every 30 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every hour</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Jira site URL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>you@example.com</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Email</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste your Atlassian API token</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>API token</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Create an API token ↗</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>e.g. QLT</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Default project key</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Default issue type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show Done from the last</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Auto-refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notify me about changes made by assistants</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test connection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check for updates automatically</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Feed URL</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloads are only installed if their checksum matches the feed and the bundle is signed by team %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every %1 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings could not be saved.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Checking…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::StatusMenu</name>
    <message>
        <source>Move to %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Change status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Loading…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No status changes available</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::TaskDetailView</name>
    <message>
        <source>Description</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy key + summary</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy description</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open in browser</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No description.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Project</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Assignee</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Created</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updated</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Done</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::TaskList</name>
    <message>
        <source>Tasks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Backlog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>In Progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing in the backlog.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing in progress right now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No completed tasks in this period.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 tasks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Loading…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::TaskRow</name>
    <message>
        <source>Click to copy “%1: %2”</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Done %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show full details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copied</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::TaskbellApp</name>
    <message>
        <source>Taskbell — reading your API token…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::TrayItem</name>
    <message>
        <source>Show Tasks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::UpdateBanner</name>
    <message>
        <source>What&apos;s new</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Later</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update &amp;&amp; Relaunch</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update &amp; Relaunch</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version %1 is available</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::Updater</name>
    <message>
        <source>This copy of Taskbell can’t update itself — it doesn’t run from an installed Taskbell.app bundle.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This copy of Taskbell can’t verify updates — it was built without a release key, so it installs none.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Verifying…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Installing…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Checking…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You&apos;re on the latest version (v%1).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading v%1…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>taskbell::app::look::Spinner</name>
    <message>
        <source>Loading…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
