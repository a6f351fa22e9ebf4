#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "core/activity/entry.h"

namespace taskbell {
class RecentWrites;
}

namespace taskbell::Activity {

// The activity journal, $XDG_STATE_HOME/taskbell/activity.jsonl (folder 0700, file 0600): one JSON line per
// entry, shared by the MCP servers (which append what their tools wrote) and the app (which watches it and
// appends undo records). Appends are single O_APPEND writes of whole lines under a lock file; past
// kRotateAfter lines the newest kKept are rewritten atomically under the same lock, so no entry is lost.
class Journal
{
public:
    static constexpr std::size_t kKept = 200;
    static constexpr std::size_t kRotateAfter = 500;
    // A larger file is not read (500 lines with two kept descriptions each stay far below).
    static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

    explicit Journal(std::filesystem::path folder = defaultFolder());

    // $XDG_STATE_HOME/taskbell, or ~/.local/state/taskbell when that is unset or relative.
    static std::filesystem::path defaultFolder();
    const std::filesystem::path& folder() const { return folder_; }
    // The file to watch; a rotation replaces it, so watch its folder too.
    std::filesystem::path file() const { return folder_ / "activity.jsonl"; }

    // Creates the folder (0700) if missing, so that it can be watched before the first entry. Throws
    // std::system_error.
    void createFolder() const;

    // Appends one line. Throws std::system_error ("Could not write <file>") when it cannot.
    void append(const Entry& entry) const;
    // append() that never throws: a failure becomes one line for `diagnostic`. True when written.
    bool tryAppend(const Entry& entry, const std::function<void(std::string_view)>& diagnostic) const;

    // Every entry and undo record, oldest first, with `undone` set on entries an undo record names. Torn and
    // foreign lines are skipped; a missing or unreadable journal reads as empty.
    std::vector<Entry> read() const;

private:
    void rotateIfLong() const;

    std::filesystem::path folder_;
};

// The entries the panel lists: no undo records, none older than `maxAge` before now, newest first.
std::vector<Entry> shownEntries(const std::vector<Entry>& entries, TimePoint now,
                                std::chrono::hours maxAge = std::chrono::hours(24));

// Records every entry's issue as written at the entry's time, so that searches reconcile it.
void feed(RecentWrites& recentWrites, const std::vector<Entry>& entries);

} // namespace taskbell::Activity
