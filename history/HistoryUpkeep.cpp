#include "history/HistoryUpkeep.h"

#include "history/HistoryFile.h"
#include "history/Sqlite.h"

#include <chrono>
#include <sqlite3.h>

HistoryUpkeep::HistoryUpkeep(const QString &path, qint64 maxBytes, sqlite3 *writer)
    : writer_(writer), connection_(HistoryFile::openMore(path, false, maxBytes)), thread_([this] { run(); })
{
    sqlite3_wal_hook(writer_, &HistoryUpkeep::committed, this);
}

HistoryUpkeep::~HistoryUpkeep()
{
    sqlite3_wal_hook(writer_, nullptr, nullptr);
    {
        const std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

int HistoryUpkeep::committed(void *self, sqlite3 *, const char *, int pages)
{
    auto *upkeep = static_cast<HistoryUpkeep *>(self);
    {
        const std::lock_guard guard(upkeep->lock_);
        ++upkeep->commits_;
        upkeep->tidyWanted_ = true;
        upkeep->checkpointWanted_ = upkeep->checkpointWanted_ || pages >= CheckpointPages;
    }
    upkeep->wake_.notify_one();
    return SQLITE_OK;
}

bool HistoryUpkeep::tidyStep(SqliteConnection &connection)
{
    sqlite3 *db = connection.handle();
    // The merge command tells no result; it wrote something (changes counted) when it merged.
    const int before = sqlite3_total_changes(db);
    const QByteArray merge = "INSERT INTO messages_text(messages_text, rank) VALUES ('merge', "
        + QByteArray::number(MergeStepPages) + ")";
    if (sqlite3_exec(db, merge.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    if (sqlite3_total_changes(db) - before >= 2)
        return true;
    try {
        if (connection.integer("PRAGMA freelist_count", {}) == 0)
            return false;
        connection.exec(
            QByteArray("PRAGMA incremental_vacuum(" + QByteArray::number(VacuumStepPages) + ")").constData(),
            {});
        return connection.integer("PRAGMA freelist_count", {}) > 0;
    } catch (const SqliteError &) {
        return false; // a busy or full file: tried again after the next commit
    }
}

void HistoryUpkeep::run()
{
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || checkpointWanted_ || tidyWanted_; });
        if (stopping_)
            return;
        if (checkpointWanted_) {
            checkpointWanted_ = false;
            guard.unlock();
            // A failure (a busy file, a full disk) leaves the log as it is: a later commit asks again.
            sqlite3_wal_checkpoint_v2(connection_->handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                      nullptr);
            guard.lock();
            continue;
        }
        // Tidying waits until the writer has been quiet for a while.
        const quint64 seen = commits_;
        if (wake_.wait_for(guard, std::chrono::milliseconds(QuietMs),
                           [&] { return stopping_ || checkpointWanted_ || commits_ != seen; }))
            continue;
        tidyWanted_ = false;
        bool more = true;
        while (more && !stopping_ && !checkpointWanted_ && commits_ == seen) {
            guard.unlock();
            more = tidyStep(*connection_);
            guard.lock();
        }
        tidyWanted_ = tidyWanted_ || more;
    }
}
