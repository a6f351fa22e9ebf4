// The activity journal with real files: where it lives, what a line holds, torn and foreign lines, rotation,
// concurrent writers in separate processes, and the entry texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include "child_process.h"
#include "core/activity/journal.h"
#include "core/jira/recent_writes.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::Activity;
using namespace taskbell::test;
namespace fs = std::filesystem;

namespace {

Entry moved(const std::string& key)
{
    Entry entry = Entry::make(Entry::Tool::setStatus, key, "10001");
    entry.summary = "Rotate the keys";
    entry.statusBefore = StatusRef{"3", "In Progress", "indeterminate", "In Progress"};
    entry.statusAfter = StatusRef{"10002", "Done", "done", "Done"};
    return entry;
}

} // namespace

TEST(ActivityJournal, LivesInAPrivateFolder)
{
    TempDir dir;
    Journal journal(dir / "state" / "taskbell");
    Entry entry = moved("TB-1");
    journal.append(entry);
    EXPECT_EQ(fs::status(journal.folder()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(journal.file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(journal.read(), std::vector<Entry>{entry}) << "every member survives the round trip";
}

TEST(ActivityJournal, TornAndForeignLinesAreSkippedAndUndoRecordsMarkTheirEntry)
{
    TempDir dir;
    Journal journal(dir / "taskbell");
    Entry first = moved("TB-1");
    writeFile(journal.file(),
              dumpJson(toJson(first)) + "\nnot json\n{\"tool\":\"set_status\"}\n[1,2]\n" +
                  R"({"time":"2026-07-08T09:12:33.123Z","entry":"x","tool":"set_status","issueKey":7})" +
                  "\n{\"time\":\"2026-07-08T09:12:3");
    Entry undo = Entry::make(Entry::Tool::undo, "TB-1", "10001");
    undo.undoes = first.id;
    journal.append(undo);

    std::vector<Entry> entries = journal.read();
    ASSERT_EQ(entries.size(), 2u) << "the torn last line does not swallow the next append";
    EXPECT_TRUE(entries[0].undone);
    EXPECT_EQ(entries[1], undo);
    EXPECT_EQ(shownEntries(entries, first.time).size(), 1u) << "undo records are not shown";
    EXPECT_TRUE(shownEntries(entries, first.time + std::chrono::hours(25)).empty());
}

TEST(ActivityJournal, KeepsTheNewestWhenItGrowsPastTheLimit)
{
    TempDir dir;
    Journal journal(dir / "taskbell");
    for (std::size_t i = 0; i <= Journal::kRotateAfter; ++i) {
        journal.append(moved("TB-" + std::to_string(i)));
    }
    std::vector<Entry> entries = journal.read();
    ASSERT_EQ(entries.size(), Journal::kKept);
    EXPECT_EQ(entries.back().issueKey, "TB-500");
    EXPECT_EQ(entries.front().issueKey, "TB-301");
}

TEST(ActivityJournal, ConcurrentWritersInterleaveNothingAndLoseNothing)
{
    TempDir dir;
    Journal journal(dir / "taskbell");
    constexpr int kWriters = 4, kEach = 150; // 600 appends: one rotation at 501 lines, then 99 more
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < kEach; ++i) {
                Entry entry = moved("W" + std::to_string(writer) + "-" + std::to_string(i));
                entry.summary = std::string(500, static_cast<char>('a' + writer));
                journal.append(entry);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        EXPECT_EQ(waitExit(pid), 0);
    }
    std::string text = readFile(journal.file());
    auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(lines, std::size_t{kWriters * kEach - Journal::kRotateAfter - 1 + Journal::kKept});
    EXPECT_EQ(journal.read().size(), lines) << "every line is whole";
}

// The texts of what the tools journal are the MCP tool scenes'; here what only this layer decides.
TEST(ActivityEntry, TextsForThePanelAndTheNotification)
{
    Entry huge = Entry::make(Entry::Tool::updateTask, "ORCA-3", "1");
    huge.setDescriptions(std::string(kMaxKeptDescriptionBytes + 1, 'x'), "short");
    EXPECT_EQ(entryText(huge), "Changed the description of ORCA-3");
    EXPECT_FALSE(huge.descriptionBefore) << "a description past 32 KB is not kept";
    EXPECT_EQ(notificationText(moved("ORCA-3")), "Your assistant moved ORCA-3 to Done");
}

TEST(RecentWrites, ReconcilesTheNewestFiftyWrittenInTheLastFiveMinutes)
{
    auto start = std::chrono::system_clock::time_point(std::chrono::hours(1000));
    auto now = start;
    RecentWrites writes([&] { return now; });
    writes.noteIssue("TB-1", "10001");
    writes.wrote("TB-1");
    writes.wroteId("not-a-number", now);
    Entry fed = moved("TB-2");
    fed.issueId = "10002"; // stamped by the real clock, in this one's future: counts as now
    feed(writes, {fed});
    EXPECT_EQ(writes.reconcileIds(), (std::vector<std::int64_t>{10002, 10001}));

    for (int i = 0; i < 60; ++i) {
        now += std::chrono::seconds(1);
        writes.wroteId(std::to_string(20000 + i), now);
    }
    std::vector<std::int64_t> ids = writes.reconcileIds();
    ASSERT_EQ(ids.size(), RecentWrites::kMaxIds);
    EXPECT_EQ(ids.front(), 20059);
    now = start + RecentWrites::kWindow + std::chrono::seconds(30);
    EXPECT_EQ(writes.reconcileIds().size(), 30u) << "writes older than five minutes drop out";
}
