#pragma once

#include "history/HistoryTypes.h"

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

class SearchText;
class SqliteConnection;
class SqliteStatement;

// The reading side of the history database: finds messages by their text, and shows a hit in
// its conversation. Each object has its own connection, so a search on a worker thread runs
// beside the writes of HistoryStore on another thread without waiting for them or holding them
// up; each search sees the database as it was when the search began. One object per thread.
class HistorySearch {
public:
    // Hits of one page at most.
    static constexpr int MaxLimit = 500;
    // Messages before and after a hit at most, for around().
    static constexpr int MaxAround = 200;
    // A longer query finds nothing: no stored text is that long (HistoryStore::MaxTextChars).
    static constexpr qsizetype MaxQueryChars = 64 * 1024;

    // Opens the database at path, which HistoryStore::open opened (and mended) before. Null
    // with *error when it cannot be read.
    static std::unique_ptr<HistorySearch> open(const QString &path, QString *error);
    ~HistorySearch();

    // The messages that contain request.text, newest first: the page asked for and the number
    // of all hits. The text is plain text: quotes, AND, OR, NOT, NEAR, *, ^, parentheses and
    // colons are looked for as they are. Latin letters match in either case. An empty text
    // finds nothing. Nothing with *error when the database failed, or when cancel() stopped it.
    std::optional<SearchPage> search(const SearchRequest &request, QString *error);

    // The message with this id and up to `before` messages of the same buddy before it and
    // `after` after it, oldest first. Empty when there is no such message.
    std::optional<QList<StoredMessage>> around(qint64 id, int before, int after, QString *error);

    // Makes a search or around() that runs now on another thread stop soon (it then fails with
    // an error). Callable from any thread while this object lives.
    void cancel();

private:
    explicit HistorySearch(std::unique_ptr<SqliteConnection> connection);
    // The prepared statement of sql, made at its first use.
    SqliteStatement &statement(const std::string &sql);
    std::optional<qint64> buddyNumber(const QString &buddy);
    // Ids of the page, newest first, and the count of all hits.
    QList<qint64> indexSearch(const SearchText &text, std::optional<qint64> buddy, int limit, int offset,
                              qint64 *total);
    QList<qint64> scanSearch(const SearchText &text, std::optional<qint64> buddy, int limit, int offset,
                             qint64 *total);
    std::optional<StoredMessage> message(qint64 id, qint64 *buddy = nullptr);
    QList<StoredMessage> neighbours(qint64 buddy, const StoredMessage &hit, int count, bool later);

    std::unique_ptr<SqliteConnection> connection_;
    std::unordered_map<std::string, std::unique_ptr<SqliteStatement>> statements_;
};
