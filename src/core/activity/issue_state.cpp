#include "core/activity/issue_state.h"

#include "core/jira/adf.h"
#include "core/jira/body.h"
#include "core/jira/error.h"
#include "core/jira/models.h"

namespace taskbell::Activity {
namespace {

const Json& member(const Json& json, const char* name)
{
    static const Json null;
    if (!json.is_object()) {
        return null;
    }
    auto found = json.find(name);
    return found == json.end() ? null : *found;
}

std::string text(const Json& json, const char* name, bool required = false)
{
    const Json& value = member(json, name);
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (required || !value.is_null()) {
        throw JiraError::decoding(std::string(name) + ": expected text");
    }
    return {};
}

std::string plainText(const Json& document)
{
    if (!document.is_object()) {
        return {};
    }
    try {
        return ADF::plainText(decodeADFNode(document)).value_or("");
    } catch (const DecodeError& error) {
        throw JiraError::decoding(error.what());
    }
}

} // namespace

IssueState readIssueState(const JiraClient& client, const std::string& key, const std::atomic<bool>* cancel)
{
    Json json = parseJiraBody(
        client.request("GET", JiraClient::issuePath(key) + "?fields=summary,status,description", std::nullopt, cancel));
    IssueState state;
    state.id = text(json, "id", true);
    state.key = text(json, "key", true);
    const Json& fields = member(json, "fields");
    state.summary = text(fields, "summary");
    if (const Json& status = member(fields, "status"); status.is_object()) {
        const Json& category = member(status, "statusCategory");
        state.status =
            StatusRef{text(status, "id", true), text(status, "name"), text(category, "key"), text(category, "name")};
    }
    const Json& description = member(fields, "description");
    state.description = plainText(description);
    state.attachments = ADF::attachmentNodeCount(description);
    if (client.recentWrites) {
        client.recentWrites->noteIssue(state.key, state.id);
    }
    return state;
}

std::vector<TransitionTo> transitionTargets(const JiraClient& client, const std::string& key,
                                            const std::atomic<bool>* cancel)
{
    Json json = parseJiraBody(client.request("GET", JiraClient::issuePath(key) + "/transitions", std::nullopt, cancel));
    const Json& list = member(json, "transitions");
    if (!list.is_array()) {
        throw JiraError::decoding("transitions: expected a list");
    }
    std::vector<TransitionTo> targets;
    for (const Json& transition : list) {
        const Json& to = member(transition, "to");
        targets.push_back({text(transition, "id", true), text(to, "id")});
    }
    return targets;
}

std::string storedDescription(const std::string& written)
{
    auto document = ADF::documentFromPlainText(written);
    return document ? plainText(*document) : std::string();
}

} // namespace taskbell::Activity
