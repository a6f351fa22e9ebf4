#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/json_util.h"

namespace taskbell::Activity {

using TimePoint = std::chrono::system_clock::time_point;

// A status as the journal keeps it: Jira's status id and name, and its category's key and name.
struct StatusRef
{
    std::string id;
    std::string name;
    std::string category; // "new", "indeterminate", "done" or another category key
    std::string categoryName;
    bool operator==(const StatusRef&) const = default;
};

// Descriptions are kept (before and after) only up to this size; a larger one makes the edit not undoable.
inline constexpr std::size_t kMaxKeptDescriptionBytes = std::size_t{32} * 1024;

// One line of the activity journal: a successful write by an MCP tool, or an undo record naming the entry it
// undid. Never holds a credential.
struct Entry
{
    enum class Tool { createTask, setStatus, updateTask, undo };

    std::string id; // unique; undo records refer to it
    TimePoint time;
    Tool tool = Tool::createTask;
    std::string issueKey;
    std::string issueId;
    std::string summary; // after the change

    // create_task: statusAfter only when the task was moved on creation; set_status: both when known.
    std::optional<StatusRef> statusBefore;
    std::optional<StatusRef> statusAfter;
    // update_task: the summary before and after, when it was given.
    std::optional<std::string> summaryBefore;
    std::optional<std::string> summaryAfter;
    // update_task: the description was given. Before and after are plain text ("" for none), kept only when
    // both are at most kMaxKeptDescriptionBytes.
    bool descriptionChanged = false;
    std::optional<std::string> descriptionBefore;
    std::optional<std::string> descriptionAfter;

    std::string undoes;  // undo records: the id of the entry undone
    bool undone = false; // not stored: set on reading when an undo record names this entry

    bool operator==(const Entry&) const = default;

    // A new entry with a fresh id, stamped now.
    static Entry make(Tool tool, std::string issueKey, std::string issueId,
                      TimePoint time = std::chrono::system_clock::now());

    // Keeps both descriptions when they are small enough, else only the fact that the description changed.
    void setDescriptions(std::string before, std::string after);
};

// The line's JSON object; fromJson gives nothing for a line that is no entry of ours (foreign, or missing or
// mistyped members).
Json toJson(const Entry& entry);
std::optional<Entry> entryFromJson(const Json& json);

// UTC with milliseconds, "2026-07-08T09:12:33.123Z"; parsing accepts exactly that shape.
std::string utcTimestamp(TimePoint time);
std::optional<TimePoint> parseUtcTimestamp(std::string_view text);

// The line the panel shows: "Created ORCA-3: Write notes in In Progress", "Moved ORCA-3 to Done", "Changed the
// summary and description of ORCA-3", ...
std::string entryText(const Entry& entry);
// The desktop notification: "Your assistant moved ORCA-3 to Done".
std::string notificationText(const Entry& entry);

} // namespace taskbell::Activity
