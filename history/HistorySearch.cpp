#include "history/HistorySearch.h"

#include "history/AddressNumber.h"
#include "history/HistoryFile.h"
#include "history/SearchText.h"
#include "history/Sqlite.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

// How a search finds its hits.
//
// Three characters and more: the trigram index (HistorySchema), walked from the newest row
// backwards (ORDER BY rowid DESC), stopping after the page; the count is a second walk of the
// same index, which reads no text unless a buddy filter or the check of a long query needs the
// row. CROSS JOIN keeps the index as the outer loop, so that the order comes from it.
//
// One or two characters: no trigram holds them, so the messages table is scanned from the
// newest row back, once: the rows of the page are kept and all hits counted on the way.
namespace {

const char *const MessageColumns = "m.id, b.name, m.time, m.direction, m.address, m.text, m.buddy";

StoredMessage messageOf(const SqliteStatement &row)
{
    StoredMessage message;
    message.id = row.integer(0);
    message.buddy = row.text(1);
    message.time = QDateTime::fromSecsSinceEpoch(row.integer(2));
    const qint64 direction = row.integer(3);
    message.direction = direction == qint64(MessageDirection::Sent) ? MessageDirection::Sent
        : direction == qint64(MessageDirection::AutoReply)          ? MessageDirection::AutoReply
                                                                    : MessageDirection::Received;
    if (!row.isNull(4))
        message.address = AddressNumber::toText(row.integer(4));
    message.text = row.text(5);
    return message;
}

} // namespace

HistorySearch::HistorySearch(std::unique_ptr<SqliteConnection> connection)
    : connection_(std::move(connection))
{}

HistorySearch::~HistorySearch() { statements_.clear(); }

std::unique_ptr<HistorySearch> HistorySearch::open(const QString &path, QString *error)
{
    try {
        std::unique_ptr<SqliteConnection> connection = HistoryFile::openMore(path, true);
        SearchText::registerFunction(connection->handle());
        return std::unique_ptr<HistorySearch>(new HistorySearch(std::move(connection)));
    } catch (const SqliteError &e) {
        if (error)
            *error = e.message();
        return nullptr;
    }
}

void HistorySearch::cancel() { connection_->interrupt(); }

SqliteStatement &HistorySearch::statement(const std::string &sql)
{
    std::unique_ptr<SqliteStatement> &slot = statements_[sql];
    if (!slot)
        slot = std::make_unique<SqliteStatement>(*connection_, sql.c_str());
    return slot->restart();
}

std::optional<qint64> HistorySearch::buddyNumber(const QString &buddy)
{
    SqliteStatement &find = statement("SELECT id FROM buddies WHERE name = ?1");
    if (!find.bind(1, buddy).step(u"无法搜索聊天记录"_s))
        return {};
    const qint64 id = find.integer(0);
    find.restart();
    return id;
}

QList<qint64> HistorySearch::indexSearch(const SearchText &text, std::optional<qint64> buddy, int limit,
                                         int offset, qint64 *total)
{
    const QString what = u"无法搜索聊天记录"_s;
    const bool joined = buddy || text.needsCheck();
    std::string from = "messages_text";
    std::string where = " WHERE messages_text MATCH ?1";
    if (joined)
        from += " CROSS JOIN messages m ON m.id = messages_text.rowid";
    if (buddy)
        where += " AND m.buddy = ?2";
    if (text.needsCheck())
        where += " AND history_contains(m.text, ?3)";
    const auto bind = [&](SqliteStatement &s) -> SqliteStatement & {
        s.bind(1, text.indexQuery());
        if (buddy)
            s.bind(2, *buddy);
        if (text.needsCheck())
            s.bind(3, text.text());
        return s;
    };

    SqliteStatement &page = bind(statement("SELECT messages_text.rowid FROM " + from + where
                                           + " ORDER BY messages_text.rowid DESC LIMIT ?4 OFFSET ?5"));
    page.bind(4, qint64(limit)).bind(5, qint64(offset));
    QList<qint64> ids;
    while (page.step(what))
        ids.append(page.integer(0));

    SqliteStatement &count = bind(statement("SELECT count(*) FROM " + from + where));
    *total = count.step(what) ? count.integer(0) : 0;
    count.restart();
    return ids;
}

QList<qint64> HistorySearch::scanSearch(const SearchText &text, std::optional<qint64> buddy, int limit,
                                        int offset, qint64 *total)
{
    const QString what = u"无法搜索聊天记录"_s;
    SqliteStatement &scan = buddy
        ? statement("SELECT id FROM messages WHERE buddy = ?2 AND history_contains(text, ?3)"
                    " ORDER BY time DESC, id DESC")
        : statement("SELECT id FROM messages WHERE history_contains(text, ?3) ORDER BY id DESC");
    if (buddy)
        scan.bind(2, *buddy);
    scan.bind(3, text.text());
    QList<qint64> ids;
    qint64 seen = 0;
    while (scan.step(what)) {
        if (seen >= offset && seen < qint64(offset) + limit)
            ids.append(scan.integer(0));
        ++seen;
    }
    *total = seen;
    return ids;
}

std::optional<StoredMessage> HistorySearch::message(qint64 id, qint64 *buddy)
{
    SqliteStatement &row = statement(std::string("SELECT ") + MessageColumns
                                     + " FROM messages m JOIN buddies b ON b.id = m.buddy WHERE m.id = ?1");
    if (!row.bind(1, id).step(u"无法读取聊天记录"_s))
        return {};
    StoredMessage found = messageOf(row);
    if (buddy)
        *buddy = row.integer(6);
    row.restart();
    return found;
}

std::optional<SearchPage> HistorySearch::search(const SearchRequest &request, QString *error)
{
    SearchPage page;
    if (request.text.size() > MaxQueryChars)
        return page;
    const SearchText text(request.text);
    if (text.isEmpty())
        return page;
    const int limit = std::clamp(request.limit, 0, MaxLimit);
    const int offset = std::max(request.offset, 0);
    try {
        SqliteReadTransaction snapshot(*connection_, u"无法搜索聊天记录"_s);
        std::optional<qint64> buddy;
        if (!request.buddy.isEmpty()) {
            buddy = buddyNumber(request.buddy);
            if (!buddy)
                return page;
        }
        const QList<qint64> ids = text.usesIndex() ? indexSearch(text, buddy, limit, offset, &page.total)
                                                   : scanSearch(text, buddy, limit, offset, &page.total);
        for (qint64 id : ids) {
            const std::optional<StoredMessage> found = message(id);
            if (!found)
                continue;
            const Excerpt excerpt = Excerpt::around(found->text, text);
            page.hits.append({found->id, found->buddy, found->address, found->time, found->direction,
                              excerpt.text, excerpt.marks});
        }
        return page;
    } catch (const SqliteError &e) {
        if (error)
            *error = e.message();
        return {};
    }
}

QList<StoredMessage> HistorySearch::neighbours(qint64 buddy, const StoredMessage &hit, int count, bool later)
{
    const std::string sql = std::string("SELECT ") + MessageColumns
        + " FROM messages m JOIN buddies b ON b.id = m.buddy WHERE m.buddy = ?1 AND "
        + (later ? "(m.time, m.id) > (?2, ?3) ORDER BY m.time, m.id"
                 : "(m.time, m.id) < (?2, ?3) ORDER BY m.time DESC, m.id DESC")
        + " LIMIT ?4";
    SqliteStatement &rows = statement(sql);
    rows.bind(1, buddy).bind(2, hit.time.toSecsSinceEpoch()).bind(3, hit.id).bind(4, qint64(count));
    QList<StoredMessage> found;
    while (rows.step(u"无法读取聊天记录"_s))
        found.append(messageOf(rows));
    return found;
}

std::optional<QList<StoredMessage>> HistorySearch::around(qint64 id, int before, int after, QString *error)
{
    try {
        SqliteReadTransaction snapshot(*connection_, u"无法读取聊天记录"_s);
        qint64 buddy = 0;
        const std::optional<StoredMessage> hit = message(id, &buddy);
        if (!hit)
            return QList<StoredMessage>();
        QList<StoredMessage> messages = neighbours(buddy, *hit, std::clamp(before, 0, MaxAround), false);
        std::reverse(messages.begin(), messages.end());
        messages.append(*hit);
        messages.append(neighbours(buddy, *hit, std::clamp(after, 0, MaxAround), true));
        return messages;
    } catch (const SqliteError &e) {
        if (error)
            *error = e.message();
        return {};
    }
}
