#include "history/HistoryStore.h"

#include "history/AddressNumber.h"
#include "history/HistoryFile.h"
#include "history/HistorySchema.h"
#include "history/HistoryUpkeep.h"
#include "history/MessageTable.h"
#include "history/Sqlite.h"

#include <sqlite3.h>

using namespace Qt::Literals::StringLiterals;

HistoryStore::HistoryStore(std::unique_ptr<SqliteConnection> connection, qint64 maxBytes)
    : connection_(std::move(connection)), maxBytes_(maxBytes)
{
    upkeep_ = std::make_unique<HistoryUpkeep>(connection_->path(), maxBytes_, connection_->handle());
    table_ = std::make_unique<MessageTable>(*connection_);
}

HistoryStore::~HistoryStore()
{
    // The upkeep and the statements end before the connection they belong to.
    upkeep_.reset();
    table_.reset();
}

std::unique_ptr<HistoryStore> HistoryStore::open(const QString &path, OpenReport *report, qint64 maxBytes)
{
    OpenReport unread;
    OpenReport &told = report ? *report : unread;
    try {
        return std::unique_ptr<HistoryStore>(new HistoryStore(HistoryFile::openFirst(path, maxBytes, &told), maxBytes));
    } catch (const SqliteError &e) {
        told.problem = e.message();
        return nullptr;
    }
}

const QString &HistoryStore::path() const { return connection_->path(); }

std::optional<qint64> HistoryStore::add(const NewMessage &message, QString *error)
{
    const QString what = u"无法保存消息"_s;
    if (!message.time.isValid()) {
        if (error)
            *error = what + u"：时间无效"_s;
        return {};
    }
    const QString buddy = message.buddy.left(MaxBuddyChars);
    try {
        SqliteWriteTransaction transaction(*connection_, what);
        const auto cached = buddyIds_.constFind(buddy);
        const qint64 buddyNumber = cached != buddyIds_.cend() ? *cached : table_->buddy(buddy);
        const qint64 id = table_->insert(buddyNumber, message.time.toSecsSinceEpoch(), message.direction,
                                         AddressNumber::fromText(message.address),
                                         message.text.left(MaxTextChars));
        transaction.commit(what);
        // Only now: a rolled-back buddy row has no id to remember.
        if (buddyIds_.size() >= MaxCachedBuddies)
            buddyIds_.clear();
        buddyIds_.insert(buddy, buddyNumber);
        return id;
    } catch (const SqliteError &e) {
        if (error)
            *error = e.message();
        return {};
    }
}

void HistoryStore::giveSpaceBack()
{
    // Best effort: a search running now keeps the log from being cut until the next time.
    sqlite3_exec(connection_->handle(), "PRAGMA incremental_vacuum; PRAGMA wal_checkpoint(TRUNCATE)", nullptr,
                 nullptr, nullptr);
}

// Runs remove in a write transaction with removed text overwritten in the file, then gives
// the space back; false with *error when it failed (nothing is removed then).
bool HistoryStore::removeSecurely(const std::function<void(const QString &what)> &remove, QString *error)
{
    const QString what = u"无法删除聊天记录"_s;
    buddyIds_.clear();
    try {
        connection_->exec("PRAGMA secure_delete = ON", what);
        SqliteWriteTransaction transaction(*connection_, what);
        remove(what);
        transaction.commit(what);
        connection_->exec("PRAGMA secure_delete = FAST", what);
    } catch (const SqliteError &e) {
        sqlite3_exec(connection_->handle(), "PRAGMA secure_delete = FAST", nullptr, nullptr, nullptr);
        if (error)
            *error = e.message();
        return false;
    }
    giveSpaceBack();
    return true;
}

bool HistoryStore::removeBuddy(const QString &buddy, QString *error)
{
    return removeSecurely(
        [&](const QString &what) {
            if (const std::optional<qint64> id = table_->findBuddy(buddy.left(MaxBuddyChars))) {
                table_->removeBuddy(*id);
                // Merging the index's segments into one drops the removed rows from it as well.
                connection_->exec("INSERT INTO messages_text(messages_text) VALUES ('optimize')", what);
            }
        },
        error);
}

bool HistoryStore::removeAll(QString *error)
{
    return removeSecurely([&](const QString &) { HistorySchema::recreateMessages(*connection_); }, error);
}

std::optional<bool> HistoryStore::importDone(QString *error)
{
    try {
        SqliteStatement flag(*connection_, "SELECT value FROM meta WHERE key = 'import_done'");
        return flag.step(u"无法读取聊天记录数据库"_s) && flag.integer(0) != 0;
    } catch (const SqliteError &e) {
        if (error)
            *error = e.message();
        return {};
    }
}
