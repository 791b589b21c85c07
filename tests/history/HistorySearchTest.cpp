// Searching the history: Chinese queries of every length (the scan below three characters, the
// trigram index from three), Latin in either case, emoji, query syntax typed as text, the buddy
// filter, newest first and paging, the excerpt's marks, and a hit shown in its conversation.
#include "history/SearchText.h"
#include "tests/history/HistoryFixture.h"

#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

class HistorySearchTest : public HistoryFixture {
protected:
    void SetUp() override
    {
        HistoryFixture::SetUp();
        ids_ = {
            0,
            add(u"小明"_s, 1, u"今天天气很好，我们去公园吧"_s),
            add(u"小红"_s, 2, u"明天开会讨论项目进度"_s, MessageDirection::Sent),
            add(u"小明"_s, 3, u"Hello World，下午三点开会"_s, MessageDirection::Received, u"192.168.1.5"_s),
            add(u"小明"_s, 4, u"请把 \"AND\" OR (NEAR) x* ^y a:b 当作文字"_s),
            add(u"小红"_s, 5, u"生日快乐🎉🎂 祝你天天开心"_s, MessageDirection::AutoReply),
            add(u"小红"_s, 6, u"HELLO again"_s),
            add(u"小明"_s, 7, u"开会"_s),
            add(u"小明"_s, 8, u"项目进展顺利，进度很好"_s),
            add(u"小明"_s, 9, u"Café ÉCOLE"_s),
        };
    }

    QList<qint64> ids(std::initializer_list<int> numbers) const
    {
        QList<qint64> list;
        for (int n : numbers)
            list.append(ids_[n]);
        return list;
    }

    QList<qint64> ids_;
};

TEST_F(HistorySearchTest, FindsTextOfEveryLengthNewestFirst)
{
    struct Case {
        QString query;
        QString buddy;
        std::initializer_list<int> expected;
    };
    const Case cases[] = {
        // Chinese: one and two characters by the scan, three and more by the index.
        {u"会"_s, {}, {7, 3, 2}},
        {u"开会"_s, {}, {7, 3, 2}},
        {u"天天"_s, {}, {5, 1}},
        {u"天气很"_s, {}, {1}},
        {u"讨论项目进度"_s, {}, {2}},
        {u"进度很好"_s, {}, {8}},
        // Every trigram of the query is in message 8, but not the query as a whole.
        {u"项目进度很好"_s, {}, {}},
        {u"不存在的词"_s, {}, {}},
        // Latin in either case, by index and by scan, accented letters too.
        {u"hello"_s, {}, {6, 3}},
        {u"HELLO"_s, {}, {6, 3}},
        {u"wORLD，下"_s, {}, {3}},
        {u"école"_s, {}, {9}},
        {u"CA"_s, {}, {9}},
        {u"é"_s, {}, {9}},
        // Emoji: one and two characters (two UTF-16 units each), and within three.
        {u"🎉"_s, {}, {5}},
        {u"🎉🎂"_s, {}, {5}},
        {u"乐🎉🎂"_s, {}, {5}},
        // What the index's query language would read as syntax is text.
        {u"\"AND\""_s, {}, {4}},
        {u"AND"_s, {}, {4}},
        {u"OR (NEAR)"_s, {}, {4}},
        {u"x* ^y"_s, {}, {4}},
        {u"a:b"_s, {}, {4}},
        {u"\""_s, {}, {4}},
        {u"("_s, {}, {4}},
        {u"*"_s, {}, {4}},
        {u"NOT"_s, {}, {}},
        {u"\" OR \"\""_s, {}, {}},
        {u"text:开会"_s, {}, {}},
        {u"'; DROP TABLE messages; --"_s, {}, {}},
        // Surrounding white space is no part of the query; nothing is no query.
        {u"  天气很  "_s, {}, {1}},
        {u"   "_s, {}, {}},
        // The buddy filter, on both paths; an unknown buddy has no messages.
        {u"会"_s, u"小红"_s, {2}},
        {u"hello"_s, u"小明"_s, {3}},
        {u"天气很"_s, u"小红"_s, {}},
        {u"会"_s, u"陌生人"_s, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QString(c.query + u" / "_s + c.buddy).toStdString());
        const SearchPage page = find(c.query, c.buddy);
        EXPECT_EQ(idsOf(page), ids(c.expected));
        EXPECT_EQ(page.total, qint64(c.expected.size()));
    }
    // The table survived the query that looked like SQL.
    EXPECT_EQ(find(u"公园"_s).total, 1);
}

TEST_F(HistorySearchTest, HitsCarryTheirMessagesFieldsAndMarkedExcerpts)
{
    const SearchPage page = find(u"hello"_s, u"小明"_s);
    ASSERT_EQ(page.hits.size(), 1);
    const SearchHit &hit = page.hits[0];
    EXPECT_EQ(hit.buddy, u"小明"_s);
    EXPECT_EQ(hit.address, u"192.168.1.5"_s);
    EXPECT_EQ(hit.time, QDateTime::fromSecsSinceEpoch(Start + 3));
    EXPECT_EQ(hit.direction, MessageDirection::Received);
    EXPECT_EQ(hit.excerpt, u"Hello World，下午三点开会"_s);
    EXPECT_EQ(hit.marks, QList<TextSpan>({{0, 5}}));
    EXPECT_EQ(find(u"明天开会"_s).hits.value(0).direction, MessageDirection::Sent);
    EXPECT_EQ(find(u"生日快乐"_s).hits.value(0).direction, MessageDirection::AutoReply);

    // A long text: the excerpt starts shortly before the first hit, goes on over a line break
    // (shown as a space) and marks every occurrence within it in either case.
    const QString longText = QString(200, u'前') + u"关键词 and\r\nKEY关键词"_s + QString(200, u'后');
    const qint64 id = add(u"小刚"_s, 20, longText);
    const SearchPage keyed = find(u"关键词"_s);
    ASSERT_EQ(idsOf(keyed), QList<qint64>{id});
    const SearchHit &k = keyed.hits[0];
    EXPECT_TRUE(k.excerpt.startsWith(u"…"_s + QString(Excerpt::Lead, u'前')));
    EXPECT_TRUE(k.excerpt.endsWith(u"…"_s));
    EXPECT_TRUE(k.excerpt.contains(u"and  KEY"_s));
    EXPECT_LE(k.excerpt.size(), Excerpt::Length + 2);
    ASSERT_EQ(k.marks.size(), 2);
    for (const TextSpan &mark : k.marks)
        EXPECT_EQ(k.excerpt.mid(mark.start, mark.length), u"关键词"_s);
    const SearchHit latin = find(u"key"_s).hits.value(0);
    ASSERT_EQ(latin.marks.size(), 1);
    EXPECT_EQ(latin.excerpt.mid(latin.marks[0].start, latin.marks[0].length), u"KEY"_s);
    // An emoji's two UTF-16 units are marked together.
    const SearchHit emoji = find(u"🎂"_s).hits.value(0);
    ASSERT_EQ(emoji.marks.size(), 1);
    EXPECT_EQ(emoji.excerpt.mid(emoji.marks[0].start, emoji.marks[0].length), u"🎂"_s);
}

TEST_F(HistorySearchTest, PagesFollowEachOtherNewestFirst)
{
    QList<qint64> added;
    for (int i = 0; i < 120; ++i)
        added.prepend(add(i % 2 ? u"小明"_s : u"小红"_s, 100 + i, u"分页测试第%1条"_s.arg(i)));
    struct Case {
        QString query; // by the index, by the scan
        QString buddy;
        int total;
    };
    const Case cases[] = {{u"分页测试"_s, {}, 120},
                          {u"分页"_s, {}, 120},
                          {u"分页测试"_s, u"小明"_s, 60},
                          {u"页"_s, u"小红"_s, 60}};
    for (const Case &c : cases) {
        SCOPED_TRACE(QString(c.query + u" / "_s + c.buddy).toStdString());
        QList<qint64> all;
        for (int offset = 0; offset < 150; offset += 50) {
            const SearchPage page = find(c.query, c.buddy, 50, offset);
            EXPECT_EQ(page.total, c.total);
            EXPECT_EQ(page.hits.size(), std::clamp(c.total - offset, 0, 50));
            all += idsOf(page);
        }
        QList<qint64> expected;
        for (qint64 id : added) {
            const bool odd = (added.size() - 1 - added.indexOf(id)) % 2;
            if (c.buddy.isEmpty() || (c.buddy == u"小明"_s) == odd)
                expected.append(id);
        }
        EXPECT_EQ(all, expected);
    }
    EXPECT_EQ(find(u"分页测试"_s, {}, 10, 1000).hits.size(), 0);
    EXPECT_EQ(find(u"分页测试"_s, {}, 0).total, 120);
}

TEST_F(HistorySearchTest, AroundShowsTheHitAmongItsBuddysMessages)
{
    struct Case {
        int hit;
        int before;
        int after;
        std::initializer_list<int> expected;
    };
    // 小明's messages are 1, 3, 4, 7, 8 and 9; 小红's in between are left out.
    const Case cases[] = {
        {3, 1, 1, {1, 3, 4}}, {1, 2, 2, {1, 3, 4}}, {9, 2, 0, {7, 8, 9}},
        {5, 5, 5, {2, 5, 6}}, {4, 0, 0, {4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hit);
        QString error;
        const std::optional<QList<StoredMessage>> messages = search_->around(ids_[c.hit], c.before, c.after,
                                                                             &error);
        ASSERT_TRUE(messages) << error.toStdString();
        QList<qint64> got;
        for (const StoredMessage &m : *messages)
            got.append(m.id);
        EXPECT_EQ(got, ids(c.expected));
    }
    QString error;
    EXPECT_EQ(search_->around(ids_.last() + 100, 3, 3, &error).value_or(QList<StoredMessage>{{}}).size(), 0);
}

TEST_F(HistorySearchTest, SearchesOnAWorkerThreadWhileMessagesAreAdded)
{
    constexpr int Adds = 300;
    std::atomic<bool> consistent{true};
    std::atomic<int> searches{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        QString error;
        const std::unique_ptr<HistorySearch> search = HistorySearch::open(path_, &error);
        while (search && !done) {
            const std::optional<SearchPage> page = search->search({u"并发"_s, {}, HistorySearch::MaxLimit, 0},
                                                                  &error);
            // Page and count come from one state of the database.
            if (!page || page->total != page->hits.size())
                consistent = false;
            ++searches;
        }
        if (!search)
            consistent = false;
    });
    for (int i = 0; i < Adds; ++i)
        add(u"小明"_s, 1000 + i, u"并发写入%1"_s.arg(i));
    while (searches < 3 && consistent)
        std::this_thread::yield();
    done = true;
    worker.join();
    EXPECT_TRUE(consistent);
    EXPECT_EQ(find(u"并发"_s).total, Adds);
}

} // namespace
