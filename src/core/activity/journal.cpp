#include "core/activity/journal.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <system_error>
#include <unordered_set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/file_io.h"
#include "core/jira/recent_writes.h"

namespace taskbell::Activity {
namespace {

namespace fs = std::filesystem;

// Entries are flat objects; anything nested deeper is not ours.
constexpr std::size_t kLineDepthLimit = 4;

[[noreturn]] void fail(const fs::path& file, int error)
{
    throw std::system_error(error, std::generic_category(), "Could not write " + file.string());
}

// An exclusive flock on the journal's lock file while the object lives: appends and the rotation take it.
class JournalLock
{
public:
    explicit JournalLock(const fs::path& lockFile)
        : fd_(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600))
    {
        if (!fd_.isOpen()) {
            fail(lockFile, errno);
        }
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                fail(lockFile, errno);
            }
        }
    }

private:
    FileDescriptor fd_;
};

// The journal open for appending: a regular file of ours (never through a symbolic link, never a FIFO that
// would block), private.
FileDescriptor openForAppend(const fs::path& file)
{
    FileDescriptor fd(::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (!fd.isOpen()) {
        fail(file, errno);
    }
    struct stat info
    {
    };
    if (::fstat(fd.get(), &info) != 0) {
        fail(file, errno);
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        fail(file, EPERM);
    }
    if ((info.st_mode & 077) != 0 && ::fchmod(fd.get(), 0600) != 0) {
        fail(file, errno);
    }
    return fd;
}

// A line left torn by a crash must not swallow the next one.
bool endsWithNewline(int fd)
{
    struct stat info
    {
    };
    char last = '\n';
    if (::fstat(fd, &info) == 0 && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) != 1) {
        return false; // unknown: an extra line break costs one empty line, which reading skips
    }
    return last == '\n';
}

// Complete lines only: a last line without its line break is torn.
std::vector<std::string_view> completeLines(std::string_view bytes)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n', start)) {
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

Journal::Journal(fs::path folder) : folder_(std::move(folder)) {}

fs::path Journal::defaultFolder()
{
    return xdgStateHome() / "taskbell";
}

void Journal::createFolder() const
{
    ensurePrivateFolder(folder_);
}

void Journal::append(const Entry& entry) const
{
    std::string line = dumpJson(toJson(entry)) + "\n";
    createFolder();
    JournalLock lock(folder_ / "activity.lock");
    FileDescriptor fd = openForAppend(file());
    if (!endsWithNewline(fd.get())) {
        line.insert(line.begin(), '\n');
    }
    if (!writeAll(fd.get(), line)) {
        fail(file(), errno);
    }
    if (fd.close() != 0) {
        fail(file(), errno);
    }
    rotateIfLong();
}

bool Journal::tryAppend(const Entry& entry, const std::function<void(std::string_view)>& diagnostic) const
{
    try {
        append(entry);
        return true;
    } catch (const std::exception& error) {
        if (diagnostic) {
            diagnostic(std::string("The activity journal was not written: ") + error.what());
        }
        return false;
    }
}

void Journal::rotateIfLong() const
{
    FileBytes bytes = readFileBounded(file(), kMaxFileBytes, false);
    if (!bytes) {
        return;
    }
    std::vector<std::string_view> lines = completeLines(bytes.bytes);
    if (lines.size() <= kRotateAfter) {
        return;
    }
    std::string kept;
    for (std::size_t i = lines.size() - kKept; i < lines.size(); ++i) {
        kept.append(lines[i]).push_back('\n');
    }
    try {
        replaceFileAtomically(file(), kept, 0600);
    } catch (const std::system_error&) {
        // The entry is written; the next append tries again.
    }
}

std::vector<Entry> Journal::read() const
{
    FileBytes bytes = readFileBounded(file(), kMaxFileBytes, false);
    std::vector<Entry> entries;
    if (!bytes) {
        return entries;
    }
    std::unordered_set<std::string> undone;
    for (std::string_view line : completeLines(bytes.bytes)) {
        std::optional<Json> json = parseJson(line, kLineDepthLimit);
        std::optional<Entry> entry = json ? entryFromJson(*json) : std::nullopt;
        if (entry) {
            if (entry->tool == Entry::Tool::undo) {
                undone.insert(entry->undoes);
            }
            entries.push_back(std::move(*entry));
        }
    }
    for (Entry& entry : entries) {
        entry.undone = entry.tool != Entry::Tool::undo && undone.contains(entry.id);
    }
    return entries;
}

std::vector<Entry> shownEntries(const std::vector<Entry>& entries, TimePoint now, std::chrono::hours maxAge)
{
    std::vector<Entry> shown;
    std::copy_if(entries.rbegin(), entries.rend(), std::back_inserter(shown),
                 [&](const Entry& entry) { return entry.tool != Entry::Tool::undo && now - entry.time <= maxAge; });
    // Appends from several processes may land slightly out of order; equal times keep the newer line first.
    std::stable_sort(shown.begin(), shown.end(), [](const Entry& a, const Entry& b) { return a.time > b.time; });
    return shown;
}

void feed(RecentWrites& recentWrites, const std::vector<Entry>& entries)
{
    for (const Entry& entry : entries) {
        recentWrites.wroteId(entry.issueId, entry.time);
    }
}

} // namespace taskbell::Activity
