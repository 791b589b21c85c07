#include "history/Sqlite.h"

#include <QFile>

#include <sqlite3.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The names of SQLite's primary result codes, so that an error text says which one it was.
const char *codeName(int code)
{
    switch (code & 0xff) {
    case SQLITE_ERROR: return "SQLITE_ERROR";
    case SQLITE_INTERNAL: return "SQLITE_INTERNAL";
    case SQLITE_PERM: return "SQLITE_PERM";
    case SQLITE_ABORT: return "SQLITE_ABORT";
    case SQLITE_BUSY: return "SQLITE_BUSY";
    case SQLITE_LOCKED: return "SQLITE_LOCKED";
    case SQLITE_NOMEM: return "SQLITE_NOMEM";
    case SQLITE_READONLY: return "SQLITE_READONLY";
    case SQLITE_INTERRUPT: return "SQLITE_INTERRUPT";
    case SQLITE_IOERR: return "SQLITE_IOERR";
    case SQLITE_CORRUPT: return "SQLITE_CORRUPT";
    case SQLITE_NOTFOUND: return "SQLITE_NOTFOUND";
    case SQLITE_FULL: return "SQLITE_FULL";
    case SQLITE_CANTOPEN: return "SQLITE_CANTOPEN";
    case SQLITE_PROTOCOL: return "SQLITE_PROTOCOL";
    case SQLITE_SCHEMA: return "SQLITE_SCHEMA";
    case SQLITE_TOOBIG: return "SQLITE_TOOBIG";
    case SQLITE_CONSTRAINT: return "SQLITE_CONSTRAINT";
    case SQLITE_MISMATCH: return "SQLITE_MISMATCH";
    case SQLITE_MISUSE: return "SQLITE_MISUSE";
    case SQLITE_NOLFS: return "SQLITE_NOLFS";
    case SQLITE_AUTH: return "SQLITE_AUTH";
    case SQLITE_RANGE: return "SQLITE_RANGE";
    case SQLITE_NOTADB: return "SQLITE_NOTADB";
    default: return "SQLITE_UNKNOWN";
    }
}

} // namespace

std::unique_ptr<SqliteConnection> SqliteConnection::open(const QString &path, bool create)
{
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE
        | (create ? SQLITE_OPEN_CREATE : 0);
    const int code = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    std::unique_ptr<SqliteConnection> connection(new SqliteConnection(db, path));
    if (code != SQLITE_OK) {
        // sqlite3_open_v2 hands back a handle that carries the error text even when it failed.
        const QString text = db ? connection->errorText(code, u"无法打开聊天记录数据库 "_s + path)
                                : u"无法打开聊天记录数据库 "_s + path;
        throw SqliteError(code, text);
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    return connection;
}

SqliteConnection::~SqliteConnection()
{
    if (db_)
        sqlite3_close_v2(db_);
}

void SqliteConnection::exec(const char *sql, const QString &what)
{
    check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), what);
}

qint64 SqliteConnection::integer(const char *sql, const QString &what)
{
    SqliteStatement statement(*this, sql);
    return statement.step(what) ? statement.integer(0) : 0;
}

void SqliteConnection::check(int code, const QString &what) const
{
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
        throw SqliteError(code, errorText(code, what));
}

QString SqliteConnection::errorText(int code, const QString &what) const
{
    // The connection's message is the most specific one while it belongs to this code.
    const char *message = sqlite3_extended_errcode(db_) == code ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    return what + u"："_s + QString::fromUtf8(message) + u" ("_s + QLatin1StringView(codeName(code)) + u")"_s;
}

void SqliteConnection::rollback() noexcept
{
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteConnection::interrupt() noexcept { sqlite3_interrupt(db_); }

SqliteStatement::SqliteStatement(SqliteConnection &connection, const char *sql) : connection_(connection)
{
    const int code = sqlite3_prepare_v3(connection.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_,
                                        nullptr);
    connection.check(code, u"无法准备查询"_s);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

SqliteStatement &SqliteStatement::restart()
{
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, qint64 value)
{
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QString &value)
{
    // A null QString would bind as SQL NULL: an empty text stays text.
    static const char16_t empty = 0;
    const void *data = value.isNull() ? static_cast<const void *>(&empty) : value.utf16();
    sqlite3_bind_text16(statement_, index, data, int(value.size() * 2), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement &SqliteStatement::bindNull(int index)
{
    sqlite3_bind_null(statement_, index);
    return *this;
}

bool SqliteStatement::step(const QString &what)
{
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
        return true;
    // Resetting leaves the statement ready for the next run and, after an error, ends its
    // part in the transaction.
    sqlite3_reset(statement_);
    connection_.check(code, what);
    return false;
}

void SqliteStatement::run(const QString &what)
{
    while (step(what)) {}
}

qint64 SqliteStatement::integer(int column) const { return sqlite3_column_int64(statement_, column); }

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

QString SqliteStatement::text(int column) const { return textView(column).toString(); }

QStringView SqliteStatement::textView(int column) const
{
    const auto *data = static_cast<const char16_t *>(sqlite3_column_text16(statement_, column));
    const int bytes = sqlite3_column_bytes16(statement_, column);
    return data ? QStringView(data, bytes / 2) : QStringView();
}

SqliteReadTransaction::SqliteReadTransaction(SqliteConnection &connection, const QString &what)
    : connection_(connection)
{
    connection.exec("BEGIN", what);
}

SqliteReadTransaction::~SqliteReadTransaction() { connection_.rollback(); }

SqliteWriteTransaction::SqliteWriteTransaction(SqliteConnection &connection, const QString &what, Lock lock)
    : connection_(connection)
{
    if (lock == Lock::Immediate)
        connection.beginWrite(what);
    else
        connection.exec("BEGIN", what);
}

SqliteWriteTransaction::~SqliteWriteTransaction()
{
    if (open_)
        connection_.rollback();
}

void SqliteWriteTransaction::commit(const QString &what)
{
    connection_.commit(what);
    open_ = false;
}
