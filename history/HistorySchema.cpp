#include "history/HistorySchema.h"

#include "history/Sqlite.h"

using namespace Qt::Literals::StringLiterals;

// Layout
//
// - messages: one row per message. Its rowid (id) is the order of storing; new messages and
//   imports (which insert in time order) keep it in time order, so "newest first" is
//   "ORDER BY rowid DESC", which the full-text index walks backwards without sorting and stops
//   after one page. The buddy is a small integer into buddies, the address an IPv4 number
//   (NULL when unknown), the time seconds since 1970 (UTC).
// - messages_by_buddy (buddy, time): one buddy's messages in time order, for the buddy filter,
//   the context around a hit, removing a buddy and recognising a message imported twice.
// - messages_text: an FTS5 trigram index over messages.text. It keeps no copy of the text
//   (content='messages'); MessageTable writes it with messages in the same transaction.
//   The trigram tokenizer folds case, so Latin text is found in either case.
//   detail=none: the index keeps only which rows hold each trigram, no positions. Measured on
//   the benchmark's history (bench/HistoryBench.cpp --full --compare-detail: 1 000 000
//   messages, 72 MiB of chat logs; docs/history.md): the detail=none index takes 68 MiB, and
//   the whole database 2.05 times the logs' size; detail=full takes 128 MiB (1.89 times) and
//   detail=column, which for one column keeps no less, 127 MiB; either would bring the
//   database to about 2.9 times the logs, at the edge of the 3 allowed, for searches that are
//   fast enough either way (3 characters: 0.5 ms median). Without positions FTS5 cannot match a
//   phrase, so a query of more than three characters is asked as an AND of its trigrams and the
//   rows it returns are checked against the whole query (HistorySearch): the check reads only
//   the candidates' text, which for a query that long are few. columnsize=0: no ranking, so no
//   per-row token counts. automerge=0: HistoryUpkeep merges the index's segments instead, off
//   the adding thread.
// - The text is stored in UTF-16: a Chinese character takes 2 bytes instead of UTF-8's 3, and
//   the search's own check reads the text without converting it.
// - meta: key-value settings of the database, such as the flag that the chat logs were
//   imported.
namespace {

const char *const MessageTables = R"sql(
CREATE TABLE buddies(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE);
CREATE TABLE messages(
    id INTEGER PRIMARY KEY,
    buddy INTEGER NOT NULL,
    time INTEGER NOT NULL,
    direction INTEGER NOT NULL,
    address INTEGER,
    text TEXT NOT NULL);
CREATE INDEX messages_by_buddy ON messages(buddy, time);
CREATE VIRTUAL TABLE messages_text USING fts5(
    text, content='messages', content_rowid='id', tokenize='trigram', detail=none, columnsize=0);
INSERT INTO messages_text(messages_text, rank) VALUES ('automerge', 0);
)sql";

const char *const DropMessageTables = R"sql(
DROP TABLE messages_text;
DROP TABLE messages;
DROP TABLE buddies;
)sql";

// 4 KiB pages: the FTS5 index writes its segments in pieces of about that size, and one add
// dirties few pages. Incremental auto-vacuum lets a removal give the freed pages back to the
// file system without rewriting the whole file.
const char *const FileSettings = R"sql(
PRAGMA page_size = 4096;
PRAGMA auto_vacuum = INCREMENTAL;
PRAGMA encoding = 'UTF-16le';
)sql";

} // namespace

namespace HistorySchema {

State inspect(SqliteConnection &connection)
{
    const QString what = u"无法读取聊天记录数据库"_s;
    const qint64 applicationId = connection.integer("PRAGMA application_id", what);
    const qint64 version = connection.integer("PRAGMA user_version", what);
    const qint64 tables = connection.integer("SELECT count(*) FROM sqlite_schema", what);
    if (applicationId == 0 && version == 0 && tables == 0)
        return State::Empty;
    if (applicationId != ApplicationId)
        return State::Foreign;
    if (version > Version)
        return State::Newer;
    if (version < Version)
        return State::Foreign; // no older layout exists yet
    return State::Current;
}

void create(SqliteConnection &connection)
{
    const QString what = u"无法建立聊天记录数据库"_s;
    connection.exec(FileSettings, what);
    SqliteWriteTransaction transaction(connection, what);
    connection.exec("CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID", what);
    connection.exec(MessageTables, what);
    connection.exec(QByteArray("PRAGMA application_id = " + QByteArray::number(ApplicationId)
                               + ";PRAGMA user_version = " + QByteArray::number(Version))
                        .constData(),
                    what);
    transaction.commit(what);
}

void recreateMessages(SqliteConnection &connection)
{
    const QString what = u"无法删除聊天记录"_s;
    connection.exec(DropMessageTables, what);
    connection.exec(MessageTables, what);
}

} // namespace HistorySchema
