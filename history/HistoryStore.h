#pragma once

#include "history/HistoryTypes.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class HistoryUpkeep;
class MessageTable;
class SqliteConnection;

// The writing side of the history database: adds messages as they are sent and received, and
// removes them. Made once per session, before any HistorySearch or LogImporter on the same
// file, by open(), which also mends a damaged file (history/History.h). One thread at a time;
// the database's upkeep (HistoryUpkeep) runs on a thread of its own while the store lives.
class HistoryStore {
public:
    // The database may grow to this size; an add beyond it fails as a full disk does.
    static constexpr qint64 DefaultMaxBytes = qint64(16) << 30;
    // Longer texts are cut to this many characters (no message the program sends comes near).
    static constexpr qsizetype MaxTextChars = 64 * 1024;
    // Longer buddy entries are cut to this many characters.
    static constexpr qsizetype MaxBuddyChars = 256;
    // Buddy ids kept in memory; the cache is emptied when it would grow beyond.
    static constexpr qsizetype MaxCachedBuddies = 4096;

    // Opens (making or mending) the database at path. Null when no database can be had there;
    // report->problem then says why. maxBytes bounds the file.
    static std::unique_ptr<HistoryStore> open(const QString &path, OpenReport *report,
                                              qint64 maxBytes = DefaultMaxBytes);
    ~HistoryStore();

    const QString &path() const;
    // What the file may grow to; an importer of the same file is given it too.
    qint64 maxBytes() const { return maxBytes_; }

    // Stores one message in a transaction of its own; its id, or nothing with *error set (for
    // a full disk: "...database or disk is full (SQLITE_FULL)"). A failed add leaves what was
    // stored before as it was.
    std::optional<qint64> add(const NewMessage &message, QString *error);

    // Removes every message of one buddy (a log entry); the removed text is overwritten in the
    // file and the space given back. False with *error when that failed (nothing is removed).
    bool removeBuddy(const QString &buddy, QString *error);
    // Removes every message of every buddy. The import flag stays as it is, so the chat logs
    // are not read in again by themselves.
    bool removeAll(QString *error);

    // Whether the one-time import of the chat logs was done (LogImporter sets it).
    std::optional<bool> importDone(QString *error);

private:
    HistoryStore(std::unique_ptr<SqliteConnection> connection, qint64 maxBytes);
    void giveSpaceBack();
    bool removeSecurely(const std::function<void(const QString &what)> &remove, QString *error);

    std::unique_ptr<SqliteConnection> connection_;
    qint64 maxBytes_;
    std::unique_ptr<HistoryUpkeep> upkeep_;
    std::unique_ptr<MessageTable> table_;
    QHash<QString, qint64> buddyIds_;
};
