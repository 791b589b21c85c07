#pragma once

#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class SqliteConnection;
struct sqlite3;

// The database's upkeep, on a thread and a connection of its own, so that an add never does it:
// - Checkpoints: copying the write-ahead log back into the file, with its flushes to disk.
//   SQLite's own automatic checkpoint runs inside the committing call, and while a search holds
//   an older state of the database it cannot finish and is tried at every commit. Here it runs
//   once the log holds CheckpointPages pages, without waiting for readers or writers (PASSIVE);
//   a later commit then reuses the log from its start.
// - Merging the full-text index's segments, and giving the pages that frees back to the file
//   system. Each commit writes a small segment; FTS5's own
//   automatic merging (switched off in this database, HistorySchema) works in bursts of 64
//   pages per level every 64 pages written, which made one add in about 60 take 20 ms and
//   more. Here merges run in steps of MergeStepPages pages, each a transaction of its own, once
//   the writer has been quiet for QuietMs, and stop as soon as it commits again (the same
//   for the vacuum's steps of VacuumStepPages). Until then
//   FTS5 itself merges a level that reaches 16 segments.
// The writing connection tells this object of each commit (its WAL hook).
class HistoryUpkeep {
public:
    static constexpr int CheckpointPages = 1000;
    static constexpr int QuietMs = 200;
    static constexpr int MergeStepPages = 64;
    static constexpr int VacuumStepPages = 256;

    // Opens a connection of its own to path, bounded by maxBytes as the writer is, and watches
    // writer's commits. Throws SqliteError.
    HistoryUpkeep(const QString &path, qint64 maxBytes, sqlite3 *writer);
    // Stops watching and ends the thread after the step it is in.
    ~HistoryUpkeep();
    HistoryUpkeep(const HistoryUpkeep &) = delete;
    HistoryUpkeep &operator=(const HistoryUpkeep &) = delete;

    // One step of tidying connection's database, in a transaction of its own: merging the
    // index's segments, then giving free pages back to the file system (incremental vacuum);
    // false when nothing was left to do. For the import too, on its own connection.
    static bool tidyStep(SqliteConnection &connection);

private:
    static int committed(void *self, sqlite3 *, const char *, int pages);
    void run();

    sqlite3 *writer_;
    std::unique_ptr<SqliteConnection> connection_;
    std::mutex lock_;
    std::condition_variable wake_;
    quint64 commits_ = 0;
    bool checkpointWanted_ = false;
    bool tidyWanted_ = true; // an import or the last session may have left merges to do
    bool stopping_ = false;
    std::thread thread_;
};
