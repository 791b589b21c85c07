#include "history/MessageTable.h"

#include "history/Sqlite.h"

#include <sqlite3.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Writing = u"无法保存消息"_s;

} // namespace

MessageTable::MessageTable(SqliteConnection &connection)
    : connection_(connection),
      findBuddy_(std::make_unique<SqliteStatement>(connection, "SELECT id FROM buddies WHERE name = ?1")),
      insertBuddy_(std::make_unique<SqliteStatement>(connection, "INSERT INTO buddies(name) VALUES (?1)")),
      insertMessage_(std::make_unique<SqliteStatement>(
          connection,
          "INSERT INTO messages(buddy, time, direction, address, text) VALUES (?1, ?2, ?3, ?4, ?5)")),
      indexMessage_(std::make_unique<SqliteStatement>(
          connection, "INSERT INTO messages_text(rowid, text) VALUES (?1, ?2)"))
{}

MessageTable::~MessageTable() = default;

std::optional<qint64> MessageTable::findBuddy(const QString &name)
{
    if (!findBuddy_->restart().bind(1, name).step(Writing))
        return {};
    const qint64 id = findBuddy_->integer(0);
    findBuddy_->restart();
    return id;
}

qint64 MessageTable::buddy(const QString &name)
{
    if (const std::optional<qint64> id = findBuddy(name))
        return *id;
    insertBuddy_->restart().bind(1, name).run(Writing);
    return sqlite3_last_insert_rowid(connection_.handle());
}

qint64 MessageTable::insert(qint64 buddy, qint64 time, MessageDirection direction,
                            std::optional<qint64> address, const QString &text)
{
    insertMessage_->restart().bind(1, buddy).bind(2, time).bind(3, qint64(direction)).bind(5, text);
    if (address)
        insertMessage_->bind(4, *address);
    insertMessage_->run(Writing);
    const qint64 id = sqlite3_last_insert_rowid(connection_.handle());
    indexMessage_->restart().bind(1, id).bind(2, text).run(Writing);
    return id;
}

void MessageTable::removeBuddy(qint64 buddy)
{
    const QString what = u"无法删除聊天记录"_s;
    SqliteStatement unindex(connection_,
                            "INSERT INTO messages_text(messages_text, rowid, text)"
                            " SELECT 'delete', id, text FROM messages WHERE buddy = ?1");
    unindex.bind(1, buddy).run(what);
    SqliteStatement messages(connection_, "DELETE FROM messages WHERE buddy = ?1");
    messages.bind(1, buddy).run(what);
    SqliteStatement buddies(connection_, "DELETE FROM buddies WHERE id = ?1");
    buddies.bind(1, buddy).run(what);
}
