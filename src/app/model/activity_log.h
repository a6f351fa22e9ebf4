#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/activity/journal.h"

class QFileSystemWatcher;

namespace taskbell {
class RecentWrites;
}

namespace taskbell::app {

// What assistants changed through `--mcp`, as the activity journal tells it, observed by the panel. Once
// watching, every change to the journal (an append, or a rotation that replaces the file) is read again on
// the next turn of the event loop; each read feeds the store's reconcile registry, and entries that were not
// there before are announced. Lives on the GUI thread.
class ActivityLog : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::system_clock;

    ActivityLog(std::shared_ptr<RecentWrites> recentWrites, std::function<Clock::time_point()> now,
                QObject* parent = nullptr);
    ~ActivityLog() override;

    // Watches the journal's folder and file and reads it; entries already there are not announced. A folder
    // that cannot be created leaves the log empty (one line on standard error).
    void watch(Activity::Journal journal);
    const std::optional<Activity::Journal>& journal() const { return journal_; }
    // The injected clock's now, for the entries' ages.
    Clock::time_point now() const { return now_(); }

    // The entries of the last 24 hours that were not cleared, newest first.
    std::vector<Activity::Entry> shown() const;
    // Hides the entries shown now; later ones show again.
    void clear();
    // Reads the journal now (after this process wrote to it).
    void reread();
    // The entry reads as undone even though its undo record could not be written.
    void markUndone(const std::string& entryId);

signals:
    // The shown entries or their undone marks changed.
    void changed();
    // Entries that appeared in the journal since the last read, oldest first; undo records are not announced.
    void entriesAdded(const std::vector<Activity::Entry>& entries);

private:
    void scheduleRead();
    void watchPaths();

    std::shared_ptr<RecentWrites> recentWrites_;
    std::function<Clock::time_point()> now_;
    std::optional<Activity::Journal> journal_;
    QFileSystemWatcher* watcher_ = nullptr;
    bool readPending_ = false;
    std::vector<Activity::Entry> entries_; // oldest first, as read
    std::set<std::string> known_;          // ids read so far
    std::set<std::string> cleared_;
    std::set<std::string> undoneHere_;
};

// "just now", "2 min ago", "3 h ago", "2 d ago".
QString agoText(std::chrono::system_clock::duration age);

} // namespace taskbell::app
