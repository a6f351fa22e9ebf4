#include "app/model/activity_log.h"

#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>
#include <algorithm>
#include <iostream>
#include <utility>

#include "core/jira/recent_writes.h"

namespace taskbell::app {

ActivityLog::ActivityLog(std::shared_ptr<RecentWrites> recentWrites, std::function<Clock::time_point()> now,
                         QObject* parent)
    : QObject(parent), recentWrites_(std::move(recentWrites)), now_(std::move(now))
{
}

ActivityLog::~ActivityLog() = default;

void ActivityLog::watch(Activity::Journal journal)
{
    journal_ = std::move(journal);
    try {
        journal_->createFolder();
    } catch (const std::exception& error) {
        std::cerr << "taskbell: assistant activity is not shown: " << error.what() << "\n";
    }
    delete watcher_;
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &ActivityLog::scheduleRead);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &ActivityLog::scheduleRead);
    watchPaths();
    entries_ = journal_->read();
    known_.clear();
    for (const Activity::Entry& entry : entries_) {
        known_.insert(entry.id);
    }
    if (recentWrites_) {
        Activity::feed(*recentWrites_, entries_);
    }
    emit changed();
}

// The file is watched again after each change: a rotation renames a new file over it, and an append may
// be the one that created it.
void ActivityLog::watchPaths()
{
    QString folder = QFile::decodeName(QByteArray::fromStdString(journal_->folder().string()));
    QString file = QFile::decodeName(QByteArray::fromStdString(journal_->file().string()));
    if (!watcher_->directories().contains(folder)) {
        watcher_->addPath(folder);
    }
    if (!watcher_->files().contains(file) && std::filesystem::exists(journal_->file())) {
        watcher_->addPath(file);
    }
}

void ActivityLog::scheduleRead()
{
    if (!readPending_) {
        readPending_ = true;
        QTimer::singleShot(0, this, &ActivityLog::reread);
    }
}

void ActivityLog::reread()
{
    readPending_ = false;
    if (!journal_) {
        return;
    }
    watchPaths();
    std::vector<Activity::Entry> entries = journal_->read();
    std::vector<Activity::Entry> added;
    for (const Activity::Entry& entry : entries) {
        if (known_.insert(entry.id).second && entry.tool != Activity::Entry::Tool::undo) {
            added.push_back(entry);
        }
    }
    if (entries == entries_) {
        return;
    }
    entries_ = std::move(entries);
    if (recentWrites_) {
        Activity::feed(*recentWrites_, entries_);
    }
    emit changed();
    if (!added.empty()) {
        emit entriesAdded(added);
    }
}

std::vector<Activity::Entry> ActivityLog::shown() const
{
    std::vector<Activity::Entry> entries = Activity::shownEntries(entries_, now_());
    std::erase_if(entries, [this](const Activity::Entry& entry) { return cleared_.count(entry.id) > 0; });
    for (Activity::Entry& entry : entries) {
        entry.undone = entry.undone || undoneHere_.count(entry.id) > 0;
    }
    return entries;
}

void ActivityLog::clear()
{
    for (const Activity::Entry& entry : shown()) {
        cleared_.insert(entry.id);
    }
    emit changed();
}

void ActivityLog::markUndone(const std::string& entryId)
{
    undoneHere_.insert(entryId);
    emit changed();
}

QString agoText(std::chrono::system_clock::duration age)
{
    using namespace std::chrono;
    auto minutes = duration_cast<std::chrono::minutes>(age).count();
    if (minutes < 1) {
        return ActivityLog::tr("just now");
    }
    if (minutes < 60) {
        return ActivityLog::tr("%1 min ago").arg(minutes);
    }
    if (minutes < 24 * 60) {
        return ActivityLog::tr("%1 h ago").arg(minutes / 60);
    }
    return ActivityLog::tr("%1 d ago").arg(minutes / (24 * 60));
}

} // namespace taskbell::app
