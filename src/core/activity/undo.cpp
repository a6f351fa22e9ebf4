#include "core/activity/undo.h"

#include <algorithm>

#include "core/activity/issue_state.h"

namespace taskbell::Activity {
namespace {

UndoError changedSince(const Entry& entry)
{
    return UndoError(entry.issueKey + " changed since the assistant's edit; nothing was undone.");
}

void undoMove(const JiraClient& client, const Entry& entry, const std::atomic<bool>* cancel)
{
    IssueState now = readIssueState(client, entry.issueKey, cancel);
    // Someone (or something) moved it since: moving it back would overwrite their move.
    if (!now.status || now.status->id != entry.statusAfter->id) {
        throw changedSince(entry);
    }
    auto offered = transitionTargets(client, entry.issueKey, cancel);
    auto back = std::find_if(offered.begin(), offered.end(), [&](const TransitionTo& transition) {
        return transition.toStatusId == entry.statusBefore->id;
    });
    if (back == offered.end()) {
        throw UndoError("Can't move " + entry.issueKey + " back to " + entry.statusBefore->name +
                        ": no transition leads there.");
    }
    client.applyTransition(entry.issueKey, back->id, cancel);
}

void undoEdit(const JiraClient& client, const Entry& entry, const std::atomic<bool>* cancel)
{
    IssueState now = readIssueState(client, entry.issueKey, cancel);
    if (entry.descriptionChanged && now.attachments > 0) {
        throw UndoError("The description of " + entry.issueKey + " embeds " + std::to_string(now.attachments) +
                        " attachment(s) that Jira would delete if it were replaced \u2014 edit it in Jira instead.");
    }
    bool summaryKept = !entry.summaryAfter || now.summary == *entry.summaryAfter;
    bool descriptionKept = !entry.descriptionChanged || now.description == *entry.descriptionAfter;
    if (!summaryKept || !descriptionKept) {
        throw changedSince(entry);
    }
    client.updateIssue(entry.issueKey, entry.summaryBefore,
                       entry.descriptionChanged ? entry.descriptionBefore : std::nullopt, cancel);
}

} // namespace

bool canUndo(const Entry& entry)
{
    if (entry.undone) {
        return false;
    }
    switch (entry.tool) {
    case Entry::Tool::setStatus:
        return entry.statusBefore && entry.statusAfter && entry.statusBefore->id != entry.statusAfter->id;
    case Entry::Tool::updateTask:
        return (entry.summaryAfter || entry.descriptionChanged) &&
               (!entry.descriptionChanged || entry.descriptionBefore.has_value());
    case Entry::Tool::createTask:
    case Entry::Tool::undo:
        break;
    }
    return false;
}

UndoResult undo(const JiraClient& client, const Journal& journal, const Entry& entry, const std::atomic<bool>* cancel)
{
    if (!canUndo(entry)) {
        throw UndoError("This change to " + entry.issueKey + " can't be undone.");
    }
    if (entry.tool == Entry::Tool::setStatus) {
        undoMove(client, entry, cancel);
    } else {
        undoEdit(client, entry, cancel);
    }
    UndoResult result{Entry::make(Entry::Tool::undo, entry.issueKey, entry.issueId)};
    result.record.undoes = entry.id;
    result.recorded = journal.tryAppend(result.record, {});
    return result;
}

} // namespace taskbell::Activity
