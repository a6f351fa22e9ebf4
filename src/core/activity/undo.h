#pragma once

#include <atomic>
#include <stdexcept>

#include "core/activity/entry.h"
#include "core/activity/journal.h"
#include "core/jira/client.h"

namespace taskbell::Activity {

// An undo refused because it would be wrong or cannot be done; what() is the text for the panel's banner.
class UndoError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Whether the entry offers "Undo": a move whose previous status is known, or an edit whose previous values
// were kept. A creation never does (it offers "Open"), nor an entry already undone, nor an undo record.
bool canUndo(const Entry& entry);

struct UndoResult
{
    Entry record;         // the undo record
    bool recorded = true; // false when the journal could not be written (the undo itself happened)
};

// Undoes the entry in Jira, then appends an undo record to the journal.
// - A move goes back through the transition whose target is the previous status (by id), and only while the
//   issue is still in the status the assistant moved it to.
// - An edit restores the previous summary and/or description, only while the issue still holds what the
//   assistant wrote, and never over a description that embeds attachments.
// Throws UndoError (refused, nothing changed) or JiraError.
UndoResult undo(const JiraClient& client, const Journal& journal, const Entry& entry,
                const std::atomic<bool>* cancel = nullptr);

} // namespace taskbell::Activity
