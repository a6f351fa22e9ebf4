#include "core/activity/entry.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <random>

namespace taskbell::Activity {
namespace {

constexpr std::array<std::pair<Entry::Tool, std::string_view>, 4> kToolNames = {{
    {Entry::Tool::createTask, "create_task"},
    {Entry::Tool::setStatus, "set_status"},
    {Entry::Tool::updateTask, "update_task"},
    {Entry::Tool::undo, "undo"},
}};

std::string_view toolName(Entry::Tool tool)
{
    for (const auto& [value, name] : kToolNames) {
        if (value == tool) {
            return name;
        }
    }
    return "";
}

std::optional<Entry::Tool> toolNamed(std::string_view text)
{
    for (const auto& [value, name] : kToolNames) {
        if (name == text) {
            return value;
        }
    }
    return std::nullopt;
}

std::string freshId()
{
    std::random_device random;
    std::uniform_int_distribution<unsigned> byte(0, 255);
    std::string id;
    for (int i = 0; i < 16; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte(random));
        id += hex;
    }
    return id;
}

Json statusJson(const StatusRef& status)
{
    return {
        {"id", status.id}, {"name", status.name}, {"category", status.category}, {"categoryName", status.categoryName}};
}

// A member that is missing stays empty; one of the wrong type makes the whole line foreign.
struct Reader
{
    const Json& json;
    bool ok = true;

    std::optional<std::string> text(const char* name)
    {
        auto found = json.find(name);
        if (found == json.end() || found->is_null()) {
            return std::nullopt;
        }
        if (!found->is_string()) {
            ok = false;
            return std::nullopt;
        }
        return found->get<std::string>();
    }

    std::optional<StatusRef> status(const char* name)
    {
        auto found = json.find(name);
        if (found == json.end() || found->is_null()) {
            return std::nullopt;
        }
        if (!found->is_object()) {
            ok = false;
            return std::nullopt;
        }
        Reader inner{*found};
        StatusRef status{inner.text("id").value_or(""), inner.text("name").value_or(""),
                         inner.text("category").value_or(""), inner.text("categoryName").value_or("")};
        ok = ok && inner.ok;
        return status;
    }
};

std::string lowerFirst(std::string text)
{
    if (!text.empty() && text.front() >= 'A' && text.front() <= 'Z') {
        text.front() = static_cast<char>(text.front() - 'A' + 'a');
    }
    return text;
}

} // namespace

Entry Entry::make(Tool tool, std::string issueKey, std::string issueId, TimePoint time)
{
    Entry entry;
    entry.id = freshId();
    entry.time = std::chrono::floor<std::chrono::milliseconds>(time); // what the journal keeps
    entry.tool = tool;
    entry.issueKey = std::move(issueKey);
    entry.issueId = std::move(issueId);
    return entry;
}

void Entry::setDescriptions(std::string before, std::string after)
{
    descriptionChanged = true;
    if (before.size() <= kMaxKeptDescriptionBytes && after.size() <= kMaxKeptDescriptionBytes) {
        descriptionBefore = std::move(before);
        descriptionAfter = std::move(after);
    } else {
        descriptionBefore.reset();
        descriptionAfter.reset();
    }
}

Json toJson(const Entry& entry)
{
    Json json = {{"time", utcTimestamp(entry.time)},
                 {"entry", entry.id},
                 {"tool", toolName(entry.tool)},
                 {"issueKey", entry.issueKey},
                 {"issueId", entry.issueId}};
    if (entry.tool == Entry::Tool::undo) {
        json["undoes"] = entry.undoes;
        return json;
    }
    json["summary"] = entry.summary;
    if (entry.statusBefore) {
        json["statusBefore"] = statusJson(*entry.statusBefore);
    }
    if (entry.statusAfter) {
        json["statusAfter"] = statusJson(*entry.statusAfter);
    }
    if (entry.summaryBefore && entry.summaryAfter) {
        json["summaryBefore"] = *entry.summaryBefore;
        json["summaryAfter"] = *entry.summaryAfter;
    }
    if (entry.descriptionChanged) {
        json["descriptionChanged"] = true;
        if (entry.descriptionBefore && entry.descriptionAfter) {
            json["descriptionBefore"] = *entry.descriptionBefore;
            json["descriptionAfter"] = *entry.descriptionAfter;
        }
    }
    return json;
}

std::optional<Entry> entryFromJson(const Json& json)
{
    if (!json.is_object()) {
        return std::nullopt;
    }
    Reader read{json};
    Entry entry;
    auto time = parseUtcTimestamp(read.text("time").value_or(""));
    auto tool = toolNamed(read.text("tool").value_or(""));
    entry.id = read.text("entry").value_or("");
    entry.issueKey = read.text("issueKey").value_or("");
    entry.issueId = read.text("issueId").value_or("");
    if (!time || !tool || entry.id.empty() || entry.issueKey.empty()) {
        return std::nullopt;
    }
    entry.time = *time;
    entry.tool = *tool;
    entry.undoes = read.text("undoes").value_or("");
    entry.summary = read.text("summary").value_or("");
    entry.statusBefore = read.status("statusBefore");
    entry.statusAfter = read.status("statusAfter");
    entry.summaryBefore = read.text("summaryBefore");
    entry.summaryAfter = read.text("summaryAfter");
    auto changed = json.find("descriptionChanged");
    entry.descriptionChanged = changed != json.end() && changed->is_boolean() && changed->get<bool>();
    entry.descriptionBefore = read.text("descriptionBefore");
    entry.descriptionAfter = read.text("descriptionAfter");
    bool complete = entry.tool != Entry::Tool::undo || !entry.undoes.empty();
    if (!read.ok || !complete || entry.summaryBefore.has_value() != entry.summaryAfter.has_value() ||
        entry.descriptionBefore.has_value() != entry.descriptionAfter.has_value()) {
        return std::nullopt;
    }
    return entry;
}

std::string utcTimestamp(TimePoint time)
{
    auto millis = std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch().count();
    auto seconds = static_cast<std::time_t>(millis >= 0 ? millis / 1000 : (millis - 999) / 1000);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(millis - std::int64_t{seconds} * 1000));
    return text;
}

std::optional<TimePoint> parseUtcTimestamp(std::string_view text)
{
    // yyyy-MM-ddTHH:mm:ss.SSSZ, digits where the pattern has letters.
    constexpr std::string_view shape = "0000-00-00T00:00:00.000Z";
    if (text.size() != shape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == '0' ? !digit : text[i] != shape[i]) {
            return std::nullopt;
        }
    }
    auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    std::chrono::year_month_day day{std::chrono::year(number(0, 4)), std::chrono::month(number(5, 2)),
                                    std::chrono::day(number(8, 2))};
    if (!day.ok() || number(11, 2) > 23 || number(14, 2) > 59 || number(17, 2) > 60) {
        return std::nullopt;
    }
    return std::chrono::sys_days(day) + std::chrono::hours(number(11, 2)) + std::chrono::minutes(number(14, 2)) +
           std::chrono::seconds(number(17, 2)) + std::chrono::milliseconds(number(20, 3));
}

std::string entryText(const Entry& entry)
{
    switch (entry.tool) {
    case Entry::Tool::createTask:
        return "Created " + entry.issueKey + ": " + entry.summary +
               (entry.statusAfter ? " in " + entry.statusAfter->name : "");
    case Entry::Tool::setStatus:
        return "Moved " + entry.issueKey + " to " + (entry.statusAfter ? entry.statusAfter->name : "another status");
    case Entry::Tool::updateTask:
        if (entry.summaryAfter && entry.descriptionChanged) {
            return "Changed the summary and description of " + entry.issueKey;
        }
        return std::string(entry.descriptionChanged ? "Changed the description of " : "Changed the summary of ") +
               entry.issueKey;
    case Entry::Tool::undo:
        break;
    }
    return "Undid a change to " + entry.issueKey;
}

std::string notificationText(const Entry& entry)
{
    return "Your assistant " + lowerFirst(entryText(entry));
}

} // namespace taskbell::Activity
