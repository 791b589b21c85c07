#pragma once

#include "history/HistoryTypes.h"

#include <QString>
#include <atomic>
#include <mutex>
#include <optional>

class SqliteConnection;
class SqliteStatement;
class LogStamp;

// Reads the chat logs (one "<entry>.txt" per buddy, as the message window writes them) into the
// history database, on its own connection, so that it can run on a worker thread while
// HistoryStore adds messages on another; HistoryStore::open must have opened the file first.
//
// Every entry is first read into a temporary table; then they go into the database in time
// order over all files (which keeps the rowid order a time order), in transactions of
// BatchRows. A message that is in the database already (same buddy, same second, same text as
// the log keeps it, i.e. after the GBK round trip) is skipped, as often as it is stored there,
// so running the import again, or after an interruption, adds nothing twice. The message's
// buddy is the file's name without ".txt"; an entry written by ownNickname is Sent, any other
// Received. The chat-room transcript (聊天室.txt) is left out: its lines are in the buddies'
// files as well. At the end the database's import flag is set (HistoryStore::importDone).
class LogImporter {
public:
    // Messages stored per transaction: a live add waits at most for one batch.
    static constexpr int BatchRows = 1000;
    // Files read at most; the rest are listed as unreadable.
    static constexpr int MaxFiles = 65536;
    // Unreadable files named in the report at most.
    static constexpr int MaxReportedFiles = 100;

    // maxBytes: what the file may grow to, as its store was opened with (HistoryStore::maxBytes).
    LogImporter(QString databasePath, QString ownNickname, qint64 maxBytes);
    ~LogImporter();

    // Imports every chat log in folder. Nothing with *error when the database failed (what was
    // committed stays, and a new run goes on from there) or when cancel() stopped it.
    std::optional<ImportReport> run(const QString &folder, QString *error);

    // Stops a run on another thread soon; callable from any thread.
    void cancel();

private:
    void stage(SqliteConnection &connection, const QString &folder, ImportReport *report);
    void stageFile(const QString &path, const LogStamp &stamps, SqliteStatement &insert,
                   ImportReport *report);
    void store(SqliteConnection &connection, ImportReport *report);
    void throwIfCancelled() const;

    QString databasePath_;
    QString ownNickname_;
    qint64 maxBytes_;
    std::atomic<bool> cancelled_{false};
    std::mutex connectionLock_; // guards connection_ against cancel() on another thread
    SqliteConnection *connection_ = nullptr;
};
