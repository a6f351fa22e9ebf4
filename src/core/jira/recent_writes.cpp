#include "core/jira/recent_writes.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace taskbell {
namespace {

// Keys of the issues in a few full panel loads; beyond this the map starts afresh.
constexpr std::size_t kMaxKeys = 4096;

std::optional<std::int64_t> numericId(std::string_view text)
{
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

RecentWrites::RecentWrites(Clock now) : now_(now ? std::move(now) : Clock(&std::chrono::system_clock::now)) {}

void RecentWrites::noteIssue(const std::string& key, const std::string& id)
{
    std::lock_guard lock(mutex_);
    if (idsByKey_.size() >= kMaxKeys && !idsByKey_.contains(key)) {
        idsByKey_.clear();
    }
    idsByKey_[key] = id;
}

void RecentWrites::wrote(const std::string& keyOrId)
{
    std::string id = keyOrId;
    {
        std::lock_guard lock(mutex_);
        if (auto found = idsByKey_.find(keyOrId); found != idsByKey_.end()) {
            id = found->second;
        }
    }
    wroteId(id, now_());
}

void RecentWrites::wroteId(const std::string& id, std::chrono::system_clock::time_point when)
{
    auto number = numericId(id);
    if (!number) {
        return;
    }
    auto now = now_();
    // A moment in the future (another process's clock) counts as now, so it cannot pin an id for ever.
    when = std::min(when, now);
    std::lock_guard lock(mutex_);
    auto& latest = written_[*number];
    latest = std::max(latest, when);
    forgetOld(now);
}

std::vector<std::int64_t> RecentWrites::reconcileIds() const
{
    auto now = now_();
    std::vector<std::pair<std::chrono::system_clock::time_point, std::int64_t>> recent;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, when] : written_) {
            if (now - when < kWindow) {
                recent.emplace_back(when, id);
            }
        }
    }
    std::sort(recent.begin(), recent.end(), std::greater<>());
    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < recent.size() && i < kMaxIds; ++i) {
        ids.push_back(recent[i].second);
    }
    return ids;
}

void RecentWrites::forgetOld(std::chrono::system_clock::time_point now)
{
    std::erase_if(written_, [&](const auto& item) { return now - item.second >= kWindow; });
}

} // namespace taskbell
