#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/activity/entry.h"
#include "core/jira/client.h"

namespace taskbell::Activity {

// What the journal and undo need of one issue, as Jira holds it now.
struct IssueState
{
    std::string id;
    std::string key;
    std::string summary;
    std::optional<StatusRef> status;
    std::string description;     // plain text, "" for none
    std::size_t attachments = 0; // media nodes embedded in the description
};

// Reads the issue's summary, status (with its id) and description. Throws JiraError.
IssueState readIssueState(const JiraClient& client, const std::string& key, const std::atomic<bool>* cancel = nullptr);

// The transitions offered from the issue's current status, each with the id of the status it leads to.
struct TransitionTo
{
    std::string id;
    std::string toStatusId;
};
std::vector<TransitionTo> transitionTargets(const JiraClient& client, const std::string& key,
                                            const std::atomic<bool>* cancel = nullptr);

// The plain text Jira will hold after a description is written as plain text: the text as the client converts
// it to a document and back.
std::string storedDescription(const std::string& written);

} // namespace taskbell::Activity
