#include "history/HistoryFile.h"

#include "history/HistorySchema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QStringList CompanionSuffixes{u"-wal"_s, u"-shm"_s, u"-journal"_s};

// Creates the file empty when it is missing and makes it private either way. SQLite gives the
// -wal and -shm files it makes the database file's mode.
void makePrivate(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return; // a folder in its place, say: opening fails next and says why
    ::fchmod(fd, 0600);
    ::close(fd);
}

// A database made by a newer version of the program: left as it is, and not opened.
class NewerVersionError : public SqliteError {
public:
    using SqliteError::SqliteError;
};

// A write-ahead log left behind: the last session did not close the database.
bool endedUncleanly(const QString &path) { return QFileInfo(path + u"-wal"_s).size() > 0; }

// Why the open database cannot be used as it is; empty when it can. Throws SqliteError for a
// file made by a newer version, which is left alone.
QString problemOf(SqliteConnection &connection, bool unclean)
{
    const QString what = u"无法检查聊天记录数据库"_s;
    switch (HistorySchema::inspect(connection)) {
    case HistorySchema::State::Empty: return {};
    case HistorySchema::State::Foreign: return u"不是本程序的聊天记录数据库"_s;
    case HistorySchema::State::Newer:
        throw NewerVersionError(
            SQLITE_ERROR, u"聊天记录数据库 "_s + connection.path() + u" 由更新版本的程序建立，无法使用"_s);
    case HistorySchema::State::Current: break;
    }
    if (unclean) {
        SqliteStatement check(connection, "PRAGMA quick_check");
        if (!check.step(what))
            return u"完整性检查没有结果"_s;
        const QString result = check.text(0);
        return result == u"ok"_s ? QString() : u"完整性检查失败："_s + result;
    }
    // After a clean close every page is in the file itself.
    const qint64 expected = connection.integer("PRAGMA page_count", what)
        * connection.integer("PRAGMA page_size", what);
    const qint64 actual = QFileInfo(connection.path()).size();
    if (actual != expected)
        return u"文件长度 %1 字节，应为 %2 字节"_s.arg(actual).arg(expected);
    return {};
}

// Renames path and its companion files to path.damaged-<time>[-n]; returns the new name.
QString moveAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    for (int n = 1; n <= HistoryFile::MaxAsideNames; ++n) {
        const QString aside = path + u".damaged-"_s + stamp
            + (n > 1 ? u"-"_s + QString::number(n) : QString());
        if (QFileInfo::exists(aside) || QFileInfo::exists(aside + u"-wal"_s))
            continue;
        if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0) {
            throw SqliteError(SQLITE_CANTOPEN,
                              u"无法改名损坏的聊天记录数据库 "_s + path + u"："_s
                                  + QString::fromLocal8Bit(std::strerror(errno)));
        }
        for (const QString &suffix : CompanionSuffixes) {
            if (QFileInfo::exists(path + suffix))
                std::rename(QFile::encodeName(path + suffix).constData(),
                            QFile::encodeName(aside + suffix).constData());
        }
        return aside;
    }
    throw SqliteError(SQLITE_CANTOPEN, u"无法为损坏的聊天记录数据库 "_s + path + u" 找到新名字"_s);
}

// The file may grow to maxBytes: a write beyond fails as on a full disk. A setting of each
// connection, not of the file: every connection that writes sets it.
QByteArray pageBound(qint64 maxBytes)
{
    return "PRAGMA max_page_count = " + QByteArray::number(std::max<qint64>(1, maxBytes / 4096));
}

void useWal(SqliteConnection &connection, qint64 maxBytes)
{
    const QString what = u"无法设置聊天记录数据库"_s;
    SqliteStatement mode(connection, "PRAGMA journal_mode = WAL");
    if (!mode.step(what) || mode.text(0) != u"wal"_s)
        throw SqliteError(SQLITE_ERROR, what + u"：无法使用 WAL 日志"_s);
    mode.restart();
    // In WAL mode NORMAL loses no consistency: a commit waits for no disk flush, and only the
    // last commits before a power loss can be lost.
    connection.exec(QByteArray("PRAGMA synchronous = NORMAL;"
                               "PRAGMA journal_size_limit = "
                               + QByteArray::number(HistoryFile::WalKeepBytes) + ";" + pageBound(maxBytes)
                               // Removed text is overwritten where that costs no extra writes;
                               // a removal asks for more (HistoryStore).
                               + ";PRAGMA secure_delete = FAST")
                        .constData(),
                    what);
}

// Opens the file and checks it; the problem found, or empty with *connection set.
QString tryOpen(const QString &path, std::unique_ptr<SqliteConnection> *connection)
{
    const bool unclean = endedUncleanly(path);
    makePrivate(path);
    try {
        std::unique_ptr<SqliteConnection> opened = SqliteConnection::open(path, true);
        // Closing a connection writes the log into the file and deletes the log: not for a
        // file that is moved aside as it was found.
        sqlite3_db_config(opened->handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        const QString problem = problemOf(*opened, unclean);
        if (problem.isEmpty()) {
            sqlite3_db_config(opened->handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
            *connection = std::move(opened);
        }
        return problem;
    } catch (const NewerVersionError &) {
        throw;
    } catch (const SqliteError &e) {
        return e.message();
    }
}

} // namespace

namespace HistoryFile {

std::unique_ptr<SqliteConnection> openFirst(const QString &path, qint64 maxBytes, OpenReport *report)
{
    *report = {};
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::unique_ptr<SqliteConnection> connection;
    const QString problem = tryOpen(path, &connection);
    if (!problem.isEmpty()) {
        report->problem = problem;
        report->movedAsideTo = moveAside(path);
        makePrivate(path);
        connection = SqliteConnection::open(path, true);
    }
    if (HistorySchema::inspect(*connection) == HistorySchema::State::Empty) {
        HistorySchema::create(*connection);
        report->created = true;
    }
    useWal(*connection, maxBytes);
    return connection;
}

std::unique_ptr<SqliteConnection> openMore(const QString &path, bool readOnly, qint64 maxBytes)
{
    std::unique_ptr<SqliteConnection> connection = SqliteConnection::open(path, false);
    if (HistorySchema::inspect(*connection) != HistorySchema::State::Current)
        throw SqliteError(SQLITE_NOTADB, u"不是本程序的聊天记录数据库："_s + path);
    const QString what = u"无法设置聊天记录数据库"_s;
    if (readOnly)
        connection->exec(
            QByteArray("PRAGMA query_only = 1; PRAGMA mmap_size = " + QByteArray::number(MapBytes))
                .constData(),
            what);
    else
        connection->exec(
            QByteArray(
                "PRAGMA synchronous = NORMAL; PRAGMA secure_delete = FAST; PRAGMA journal_size_limit = "
                + QByteArray::number(WalKeepBytes) + ";" + pageBound(maxBytes))
                .constData(),
            what);
    return connection;
}

} // namespace HistoryFile
