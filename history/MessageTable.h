#pragma once

#include "history/HistoryTypes.h"

#include <QString>
#include <memory>
#include <optional>

class SqliteConnection;
class SqliteStatement;

// Writes the rows of buddies and messages and the messages' entries in the full-text index
// together, in the caller's transaction. Every write of messages goes through here, so that
// the index stays in step with them; the schema has no triggers for it: a row inserted through
// a trigger makes FTS5 write its pending entries out at once (the trigger's statement opens a
// savepoint), which made the import twice as slow and its index larger.
class MessageTable {
public:
    // Prepares the statements on connection. Throws SqliteError.
    explicit MessageTable(SqliteConnection &connection);
    ~MessageTable();
    MessageTable(const MessageTable &) = delete;
    MessageTable &operator=(const MessageTable &) = delete;

    // The buddy's number, if the buddy has one.
    std::optional<qint64> findBuddy(const QString &name);
    // The buddy's number, made when the buddy has none.
    qint64 buddy(const QString &name);
    // Stores a message and indexes its text; its id.
    qint64 insert(qint64 buddy, qint64 time, MessageDirection direction, std::optional<qint64> address,
                  const QString &text);
    // Removes a buddy with its messages and their index entries.
    void removeBuddy(qint64 buddy);

private:
    SqliteConnection &connection_;
    std::unique_ptr<SqliteStatement> findBuddy_;
    std::unique_ptr<SqliteStatement> insertBuddy_;
    std::unique_ptr<SqliteStatement> insertMessage_;
    std::unique_ptr<SqliteStatement> indexMessage_;
};
