#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace taskbell {

// The issues written lately, by this process and (fed from the activity journal) by others. Jira's enhanced
// search lags behind writes unless the written issues' ids go along as `reconcileIssues`; this registry
// supplies them. Writes name issues by key, so it also remembers which id each key read lately belongs to.
// Thread-safe; the clock is injected for tests.
class RecentWrites
{
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // How long a write is reconciled, and how many ids one search may carry (Jira's limit).
    static constexpr std::chrono::minutes kWindow{5};
    static constexpr std::size_t kMaxIds = 50;

    explicit RecentWrites(Clock now = {});

    // The issue with this key has this id (learnt from every issue the client reads).
    void noteIssue(const std::string& key, const std::string& id);
    // The issue was written now; a key is resolved through the ids noted, an unknown one is ignored.
    void wrote(const std::string& keyOrId);
    // The issue with this id was written at that moment (journal entries of other processes).
    void wroteId(const std::string& id, std::chrono::system_clock::time_point when);

    // Numeric ids written within the window, newest first, at most kMaxIds.
    std::vector<std::int64_t> reconcileIds() const;

private:
    void forgetOld(std::chrono::system_clock::time_point now);

    Clock now_;
    mutable std::mutex mutex_;
    std::map<std::int64_t, std::chrono::system_clock::time_point> written_;
    std::unordered_map<std::string, std::string> idsByKey_;
};

} // namespace taskbell
