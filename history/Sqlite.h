#pragma once

#include "net/Exceptions.h"

#include <QString>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

// A failed SQLite call inside the history library. Its message names what was being done, the
// library's text and the result code's name, e.g. "无法保存消息：database or disk is full
// (SQLITE_FULL)". The public classes catch it and hand the text to their caller.
class SqliteError : public Exception {
public:
    SqliteError(int code, const QString &message) : Exception(message), code_(code) {}
    // The extended result code.
    int code() const { return code_; }

private:
    int code_;
};

// One connection to a database file, closed on destruction. A connection is used by one thread
// at a time (it is opened without SQLite's own mutex).
class SqliteConnection {
public:
    // Time a statement waits for another connection's write lock before failing with SQLITE_BUSY.
    static constexpr int BusyTimeoutMs = 5000;

    // Opens path, read-write; creates it only when create is set. Throws SqliteError.
    static std::unique_ptr<SqliteConnection> open(const QString &path, bool create);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    sqlite3 *handle() const { return db_; }
    const QString &path() const { return path_; }

    // Runs one or more statements that return no rows. Throws SqliteError with what in front.
    void exec(const char *sql, const QString &what);
    // The one integer a statement such as "PRAGMA user_version" returns (0 when none).
    qint64 integer(const char *sql, const QString &what);
    // Throws SqliteError for a result code other than OK, ROW and DONE.
    void check(int code, const QString &what) const;
    // "what：<SQLite's text> (SQLITE_NAME)".
    QString errorText(int code, const QString &what) const;

    // Starts a write transaction at once (BEGIN IMMEDIATE), so that a busy database fails the
    // BEGIN rather than a later statement.
    void beginWrite(const QString &what) { exec("BEGIN IMMEDIATE", what); }
    void commit(const QString &what) { exec("COMMIT", what); }
    // Rolls back the open transaction, if any; never throws.
    void rollback() noexcept;

    // Makes a running statement of this connection stop soon with SQLITE_INTERRUPT; any thread.
    void interrupt() noexcept;

private:
    SqliteConnection(sqlite3 *db, QString path) : db_(db), path_(std::move(path)) {}

    sqlite3 *db_;
    QString path_;
};

// One prepared statement of a connection, kept for reuse. Text is bound and read as UTF-16,
// the encoding the history database keeps its text in.
class SqliteStatement {
public:
    // Throws SqliteError when sql does not compile.
    SqliteStatement(SqliteConnection &connection, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // Resets the statement and clears its bindings: call before binding for a new run.
    SqliteStatement &restart();
    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, const QString &value);
    SqliteStatement &bindNull(int index);

    // Steps once: true when a row is there, false when done. Throws SqliteError with what.
    bool step(const QString &what);
    // Steps to the end (a statement without rows).
    void run(const QString &what);

    qint64 integer(int column) const;
    bool isNull(int column) const;
    QString text(int column) const;
    // The column's text as a view valid until the next step or reset.
    QStringView textView(int column) const;

private:
    SqliteConnection &connection_;
    sqlite3_stmt *statement_ = nullptr;
};

// A read transaction for the statements run while it lives: they all see the same state of the
// database. Ended on destruction.
class SqliteReadTransaction {
public:
    SqliteReadTransaction(SqliteConnection &connection, const QString &what);
    ~SqliteReadTransaction();
    SqliteReadTransaction(const SqliteReadTransaction &) = delete;
    SqliteReadTransaction &operator=(const SqliteReadTransaction &) = delete;

private:
    SqliteConnection &connection_;
};

// A write transaction that rolls back on destruction unless committed.
class SqliteWriteTransaction {
public:
    // Immediate takes the database's write lock at the start; Deferred at the first write to
    // it (a transaction that only writes temporary tables never takes it).
    enum class Lock { Immediate, Deferred };

    SqliteWriteTransaction(SqliteConnection &connection, const QString &what, Lock lock = Lock::Immediate);
    ~SqliteWriteTransaction();
    SqliteWriteTransaction(const SqliteWriteTransaction &) = delete;
    SqliteWriteTransaction &operator=(const SqliteWriteTransaction &) = delete;

    void commit(const QString &what);

private:
    SqliteConnection &connection_;
    bool open_ = true;
};
