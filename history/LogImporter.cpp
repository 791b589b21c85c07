#include "history/LogImporter.h"

#include "core/ChatLog.h"
#include "core/Gbk.h"
#include "core/StatusModes.h"
#include "history/HistoryFile.h"
#include "history/HistoryUpkeep.h"
#include "history/LogReader.h"
#include "history/LogStamp.h"
#include "history/MessageTable.h"
#include "history/Sqlite.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <limits>

#include <sqlite3.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Entries staged between two looks at the cancel flag.
constexpr int CancelCheckEntries = 1000;

// A text as a chat log keeps it: through GBK and back, line breaks as LF, control characters as
// U+FFFD, no trailing white space; so that a message stored live and the same message read from
// its log compare equal.
QString asLogged(const QString &text)
{
    QString logged = Gbk::decode(Gbk::encode(text));
    logged.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    for (QChar &c : logged) {
        if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n') || c.unicode() == 0x7F)
            c = QChar::ReplacementCharacter;
    }
    while (!logged.isEmpty() && logged.back().isSpace())
        logged.chop(1);
    return logged;
}

} // namespace

LogImporter::LogImporter(QString databasePath, QString ownNickname, qint64 maxBytes)
    : databasePath_(std::move(databasePath)), ownNickname_(std::move(ownNickname)), maxBytes_(maxBytes)
{}

LogImporter::~LogImporter() = default;

void LogImporter::cancel()
{
    cancelled_ = true;
    const std::lock_guard lock(connectionLock_);
    if (connection_)
        connection_->interrupt();
}

void LogImporter::throwIfCancelled() const
{
    if (cancelled_)
        throw SqliteError(SQLITE_INTERRUPT, u"导入聊天记录已取消"_s);
}

std::optional<ImportReport> LogImporter::run(const QString &folder, QString *error)
{
    ImportReport report;
    std::unique_ptr<SqliteConnection> connection;
    bool failed = false;
    try {
        connection = HistoryFile::openMore(databasePath_, false, maxBytes_);
        {
            const std::lock_guard lock(connectionLock_);
            connection_ = connection.get();
        }
        throwIfCancelled();
        connection->exec(
            "PRAGMA temp_store = FILE;"
            "CREATE TEMP TABLE import_staging("
            "time INTEGER NOT NULL, buddy TEXT NOT NULL, direction INTEGER NOT NULL, text TEXT NOT NULL)",
            u"无法导入聊天记录"_s);
        stage(*connection, folder, &report);
        store(*connection, &report);
        // Tidied now, a step per transaction: the first searches need not read the many
        // segments the batches left, and the pages merging freed go back to the file system.
        while (HistoryUpkeep::tidyStep(*connection))
            throwIfCancelled();
        connection->exec("DROP TABLE temp.import_staging", u"无法导入聊天记录"_s);
    } catch (const SqliteError &e) {
        failed = true;
        if (error)
            *error = e.message();
    }
    {
        const std::lock_guard lock(connectionLock_);
        connection_ = nullptr;
    }
    if (failed)
        return {};
    return report;
}

void LogImporter::stage(SqliteConnection &connection, const QString &folder, ImportReport *report)
{
    const QString what = u"无法导入聊天记录"_s;
    const QString transcript = QFileInfo(ChatLog::transcriptFileName(u"."_s)).fileName();
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    const LogStamp stamps;
    // Only the temporary table is written: the database stays open to other writers meanwhile.
    SqliteWriteTransaction transaction(connection, what, SqliteWriteTransaction::Lock::Deferred);
    SqliteStatement insert(
        connection, "INSERT INTO import_staging(time, buddy, direction, text) VALUES (?1, ?2, ?3, ?4)");
    int taken = 0;
    for (const QFileInfo &file : files) {
        if (!file.fileName().endsWith(u".txt"_s, Qt::CaseInsensitive) || file.fileName() == transcript)
            continue;
        if (++taken > MaxFiles) {
            if (report->unreadable.size() < MaxReportedFiles)
                report->unreadable.append(file.filePath());
            continue;
        }
        stageFile(file.filePath(), stamps, insert, report);
    }
    transaction.commit(what);
    // The order the entries are stored in: time, then the order they were read in.
    connection.exec("CREATE INDEX temp.import_order ON import_staging(time)", what);
}

void LogImporter::stageFile(const QString &path, const LogStamp &stamps, SqliteStatement &insert,
                            ImportReport *report)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (report->unreadable.size() < MaxReportedFiles)
            report->unreadable.append(path);
        return;
    }
    const QFileInfo info(path);
    const QString buddy = info.fileName().chopped(4);
    LogReader reader(file, stamps, buddy, {buddy, ownNickname_}, info.lastModified().toSecsSinceEpoch());
    LogEntry entry;
    while (reader.next(&entry)) {
        // The log does not mark automatic replies; their text starts with the reply's prefix.
        const MessageDirection direction = entry.name == ownNickname_ ? MessageDirection::Sent
            : entry.text.startsWith(StatusModes::replyPrefix())     ? MessageDirection::AutoReply
                                                                      : MessageDirection::Received;
        insert.restart().bind(1, entry.time).bind(2, buddy).bind(3, qint64(direction)).bind(4, entry.text);
        insert.run(u"无法导入聊天记录"_s);
        if (++report->entries % CancelCheckEntries == 0)
            throwIfCancelled();
    }
    if (file.error() != QFileDevice::NoError && report->unreadable.size() < MaxReportedFiles)
        report->unreadable.append(path);
    ++report->files;
}

void LogImporter::store(SqliteConnection &connection, ImportReport *report)
{
    const QString what = u"无法导入聊天记录"_s;
    SqliteStatement next(connection,
                         "SELECT rowid, time, buddy, direction, text FROM import_staging"
                         " WHERE (time, rowid) > (?1, ?2) ORDER BY time, rowid LIMIT ?3");
    MessageTable table(connection);
    SqliteStatement sameSecond(connection, "SELECT id, text FROM messages WHERE buddy = ?1 AND time = ?2");
    SqliteStatement setFlag(connection, "INSERT OR REPLACE INTO meta(key, value) VALUES ('import_done', 1)");

    QHash<QString, qint64> buddyIds;
    // The messages of the current second that an entry was matched with or that this run
    // stored: none of them stands for a further entry.
    QSet<qint64> taken;
    qint64 takenSecond = 0;
    qint64 lastTime = std::numeric_limits<qint64>::min();
    qint64 lastRow = 0;
    for (;;) {
        throwIfCancelled();
        SqliteWriteTransaction transaction(connection, what);
        next.restart().bind(1, lastTime).bind(2, lastRow).bind(3, qint64(BatchRows));
        int rows = 0;
        while (next.step(what)) {
            ++rows;
            lastRow = next.integer(0);
            lastTime = next.integer(1);
            const QString buddy = next.text(2);
            const QString text = next.text(4);
            if (lastTime != takenSecond) {
                taken.clear();
                takenSecond = lastTime;
            }
            qint64 buddyId = buddyIds.value(buddy, 0);
            if (!buddyId) {
                buddyId = table.findBuddy(buddy).value_or(0);
                if (buddyId)
                    buddyIds.insert(buddy, buddyId);
            }
            bool stored = false;
            if (buddyId) {
                QString logged; // made only when a message of that second is there
                sameSecond.restart().bind(1, buddyId).bind(2, lastTime);
                while (!stored && sameSecond.step(what)) {
                    const qint64 id = sameSecond.integer(0);
                    if (taken.contains(id))
                        continue;
                    if (logged.isNull())
                        logged = asLogged(text);
                    if (asLogged(sameSecond.text(1)) == logged) {
                        taken.insert(id);
                        stored = true;
                    }
                }
                sameSecond.restart();
            }
            if (stored) {
                ++report->alreadyStored;
                continue;
            }
            if (!buddyId) {
                buddyId = table.buddy(buddy);
                buddyIds.insert(buddy, buddyId);
            }
            const qint64 direction = next.integer(3);
            taken.insert(table.insert(buddyId, lastTime,
                                      direction == qint64(MessageDirection::Sent)        ? MessageDirection::Sent
                                          : direction == qint64(MessageDirection::AutoReply) ? MessageDirection::AutoReply
                                                                                             : MessageDirection::Received,
                                      {}, text));
            ++report->added;
        }
        if (rows == 0)
            setFlag.restart().run(what);
        transaction.commit(what);
        if (rows == 0)
            return;
    }
}
