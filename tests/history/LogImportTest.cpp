// Reading the chat logs into the history: the time stamps of any locale, the entries of a log in
// every line-break variant with legacy bytes, control characters, cut-short entries and text
// that looks like a header, and the import itself: time order over all files, nothing twice.
#include "core/Gbk.h"
#include "core/LocalTime.h"
#include "history/LogReader.h"
#include "history/LogStamp.h"
#include "tests/history/HistoryFixture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr char Stamp[] = "2024/1/5 14:05:09";

QDateTime at(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

// A log entry as the message window writes it, with the line break the window adds after it.
QByteArray entry(const QString &name, const QString &stamp, const QString &text)
{
    return Gbk::encode(name + u":["_s + stamp + u"]\r"_s + text + u"\r"_s) + "\r\n";
}

QString stampOf(const QDateTime &time) { return time.toString(u"yyyy/M/d H:mm:ss"_s); }

TEST(LogStamp, ReadsTheDateAndTimeOfAnyLocale)
{
    const LogStamp stamps;
    const QDateTime expected = at(2024, 1, 5, 14, 5, 9);
    struct Case {
        QString text;
        QDateTime expected; // invalid: no time stamp
    };
    const Case cases[] = {
        {u"2024/1/5 14:05:09"_s, expected},
        {u"2024-01-05 14:05:09"_s, expected},
        {u"2024年1月5日 14:05:09"_s, expected},
        {u"2024/1/5 下午2:05:09"_s, expected},
        {u"2024/1/5 上午12:05:09"_s, at(2024, 1, 5, 0, 5, 9)},
        {u"5 Jan 2024 2:05:09 PM"_s, expected},
        {u"Jan 5, 2024 2:05 PM"_s, at(2024, 1, 5, 14, 5, 0)},
        {u"13/1/2024 14:05:09"_s, at(2024, 1, 13, 14, 5, 9)},
        {u"2024/1/5 14:05:09.250"_s, expected},
        {u"2024/2/30 10:00:00"_s, {}},
        {u"2024/1/5 25:00:00"_s, {}},
        {u"2024/1/5"_s, {}},
        {u"100 200 300 400 500"_s, {}},
        {u"12345/1/5 10:00:00"_s, {}},
        {u"你好"_s, {}},
        {QString(), {}},
        {u"2024/1/5 14:05:09"_s + QString(80, u' '), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const std::optional<qint64> seconds = stamps.parse(c.text);
        ASSERT_EQ(seconds.has_value(), c.expected.isValid());
        if (seconds) {
            EXPECT_EQ(QDateTime::fromSecsSinceEpoch(*seconds), c.expected);
        }
    }
    // What this system's locale writes reads back (the window writes the short date and the
    // long time of the day).
    for (const QDateTime &time :
         {at(2023, 11, 14, 15, 30, 45), at(2001, 2, 3, 4, 5, 6), at(2024, 12, 31, 23, 59, 59)}) {
        const QString written = LocalTime::shortDate(time.date()) + u" "_s + LocalTime::longTime(time.time());
        SCOPED_TRACE(written.toStdString());
        EXPECT_EQ(stamps.parse(written), std::optional<qint64>(time.toSecsSinceEpoch()));
    }
}

TEST(LogReader, ReadsEveryEntryWhateverTheFileHolds)
{
    const qint64 headerTime = at(2024, 1, 5, 14, 5, 9).toSecsSinceEpoch();
    constexpr qint64 FileTime = 1600000000;
    struct Expected {
        QString name;
        QString text;
        qint64 time;
    };
    struct Case {
        const char *name;
        QByteArray bytes;
        QList<Expected> entries;
    };
    const QString s = QString::fromLatin1(Stamp);
    const QString other = u"2024/1/5 14:06:00"_s;
    const qint64 otherTime = headerTime + 51;
    const Case cases[] = {
        {"as the window writes it",
         entry(u"小明"_s, s, u"你好"_s) + entry(u"我"_s, other, u"在吗"_s),
         {{u"小明"_s, u"你好"_s, headerTime}, {u"我"_s, u"在吗"_s, otherTime}}},
        {"read back and written again (CR LF)",
         Gbk::encode(u"小明:[%1]\r\n你好\r\n\r\n我:[%2]\r\n在吗\r\n\r\n"_s.arg(s, other)),
         {{u"小明"_s, u"你好"_s, headerTime}, {u"我"_s, u"在吗"_s, otherTime}}},
        {"LF only",
         Gbk::encode(u"小明:[%1]\n你好\n\n我:[%2]\n在吗\n"_s.arg(s, other)),
         {{u"小明"_s, u"你好"_s, headerTime}, {u"我"_s, u"在吗"_s, otherTime}}},
        {"a text with line breaks and an empty line of its own",
         entry(u"小明"_s, s, u"第一行\r\n\r\n第三行"_s),
         {{u"小明"_s, u"第一行\r\n\r\n第三行"_s, headerTime}}},
        {"a line that looks like a header inside a text",
         entry(u"小明"_s, s, u"引用如下\r\n老王:[2023/5/1 10:00:00]\r\n原话"_s),
         {{u"小明"_s, u"引用如下\r\n老王:[2023/5/1 10:00:00]\r\n原话"_s, headerTime}}},
        {"an entry cut short and the next one written after it",
         Gbk::encode(u"小明:[%1]\r你\r\n"_s.arg(s)) + entry(u"我"_s, other, u"在吗"_s),
         {{u"小明"_s, u"你"_s, headerTime}, {u"我"_s, u"在吗"_s, otherTime}}},
        {"a file that ends inside an entry",
         entry(u"小明"_s, s, u"你好"_s) + Gbk::encode(u"我:[%1]\r在"_s.arg(other)),
         {{u"小明"_s, u"你好"_s, headerTime}, {u"我"_s, u"在"_s, otherTime}}},
        {"bytes that are not GBK",
         entry(u"小明"_s, s, {}).replace("]\r\r", "]\rabc\x81 def\x81\r\r") + entry(u"我"_s, other, u"好"_s),
         {{u"小明"_s, u"abc\uFFFD def\uFFFD"_s, headerTime}, {u"我"_s, u"好"_s, otherTime}}},
        {"control characters",
         entry(u"小明"_s, s, {}).replace("]\r\r", QByteArray("]\rx\x01y\0z\x1b\r\r", 10)),
         {{u"小明"_s, u"x\uFFFDy\uFFFDz\uFFFD"_s, headerTime}}},
        {"text before the first header",
         Gbk::encode(u"开头没有标题\r\n"_s) + entry(u"小明"_s, s, u"你好"_s),
         {{u"小明"_s, u"开头没有标题"_s, headerTime}, {u"小明"_s, u"你好"_s, headerTime}}},
        {"no header at all",
         Gbk::encode(u"只是一些文字\r\n第二行"_s),
         {{u"小明"_s, u"只是一些文字\r\n第二行"_s, FileTime}}},
        {"a name that holds \":[\"", entry(u"a:[b"_s, s, u"内容"_s), {{u"a:[b"_s, u"内容"_s, headerTime}}},
        {"an empty file", {}, {}},
        {"only line breaks", "\r\n\r\n\n\r", {}},
    };
    const LogStamp stamps;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = c.bytes;
        QBuffer file(&bytes);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        LogReader reader(file, stamps, u"小明"_s, {u"小明"_s, u"我"_s}, FileTime);
        QList<Expected> got;
        LogEntry e;
        while (reader.next(&e))
            got.append({e.name, e.text, e.time});
        ASSERT_EQ(got.size(), c.entries.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].name, c.entries[i].name) << i;
            EXPECT_EQ(got[i].text, c.entries[i].text) << i;
            EXPECT_EQ(got[i].time, c.entries[i].time) << i;
        }
    }
}

TEST(LogReader, OverlongLinesAreReadInPiecesWithoutLoss)
{
    const QString text = QString(200000, u'好') + u"尾"_s;
    QByteArray bytes = entry(u"小明"_s, QString::fromLatin1(Stamp), text);
    QBuffer file(&bytes);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const LogStamp stamps;
    LogReader reader(file, stamps, u"小明"_s, {u"小明"_s}, 0);
    QString joined;
    LogEntry e;
    int entries = 0;
    while (reader.next(&e)) {
        ++entries;
        EXPECT_LE(e.text.size(), LogReader::MaxTextChars);
        EXPECT_EQ(e.name, u"小明"_s);
        joined += e.text;
    }
    EXPECT_GT(entries, 1);
    EXPECT_EQ(joined, text);
}

class LogImportTest : public HistoryFixture {
protected:
    void SetUp() override
    {
        HistoryFixture::SetUp();
        logs_ = dir_.filePath(u"chatdat"_s);
        ASSERT_TRUE(QDir().mkpath(logs_));
    }

    void writeLog(const QString &name, const QByteArray &bytes)
    {
        QFile file(logs_ + u"/"_s + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    ImportReport import()
    {
        QString error;
        const std::optional<ImportReport> report = LogImporter(path_, u"我"_s, store_->maxBytes()).run(logs_, &error);
        EXPECT_TRUE(report) << error.toStdString();
        return report.value_or(ImportReport{});
    }

    static QDateTime time(int second) { return QDateTime::fromSecsSinceEpoch(Start + second); }

    QString logs_;
};

TEST_F(LogImportTest, ImportsAllLogsInTimeOrderAndNothingTwice)
{
    // The entries of both files interleave in time; one of 小红's was stored live before.
    writeLog(u"小明.txt"_s,
             entry(u"小明"_s, stampOf(time(10)), u"第一条消息\r\n有两行"_s)
                 + entry(u"我"_s, stampOf(time(30)), u"第三条消息X"_s).replace("X", "\x81\x01")
                 + entry(u"小明"_s, stampOf(time(50)), u"第五条消息"_s));
    writeLog(u"小红.txt"_s,
             entry(u"小红"_s, stampOf(time(20)), u"第二条消息"_s)
                 + entry(u"小红"_s, stampOf(time(40)), u"第四条消息"_s)
                 + entry(u"小红"_s, stampOf(time(40)), u"第四条消息"_s));
    writeLog(u"聊天室.txt"_s, entry(u"你对小明说"_s, stampOf(time(30)), u"第三条消息"_s));
    writeLog(u"说明.md"_s, "not a log");
    add(u"小红"_s, 40, u"第四条消息"_s);

    QString error;
    EXPECT_EQ(store_->importDone(&error), std::optional<bool>(false));
    const ImportReport first = import();
    EXPECT_EQ(first.files, 2);
    EXPECT_EQ(first.entries, 6);
    EXPECT_EQ(first.added, 5);         // the same message twice in one second is kept twice ...
    EXPECT_EQ(first.alreadyStored, 1); // ... but the one stored live is not stored again
    EXPECT_TRUE(first.unreadable.isEmpty());
    EXPECT_EQ(store_->importDone(&error), std::optional<bool>(true));

    const SearchPage page = find(u"条消息"_s);
    EXPECT_EQ(page.total, 6);
    QList<QDateTime> times;
    for (const SearchHit &hit : page.hits) {
        if (hit.id != 1) // the live one, stored first
            times.append(hit.time);
    }
    EXPECT_EQ(times, QList<QDateTime>({time(50), time(40), time(30), time(20), time(10)}));
    const SearchHit sent = find(u"第三条"_s).hits.value(0);
    EXPECT_EQ(sent.direction, MessageDirection::Sent);
    EXPECT_EQ(sent.buddy, u"小明"_s);
    EXPECT_TRUE(sent.address.isEmpty());
    EXPECT_EQ(find(u"\uFFFD"_s).total, 1); // the legacy bytes, kept as replacement characters
    EXPECT_EQ(find(u"有两行"_s).total, 1);

    // Again, and after a run that stopped before one file: only what is missing is added.
    const ImportReport second = import();
    EXPECT_EQ(second.added, 0);
    EXPECT_EQ(second.alreadyStored, 6);
    writeLog(u"小刚.txt"_s, entry(u"小刚"_s, stampOf(time(60)), u"第六条消息"_s));
    const ImportReport third = import();
    EXPECT_EQ(third.added, 1);
    EXPECT_EQ(third.alreadyStored, 6);
    EXPECT_EQ(find(u"条消息"_s).total, 7);
    EXPECT_EQ(integrity(path_), u"ok / ok"_s);
}

// The log does not say which entries were automatic replies: those whose text starts with the
// reply's prefix come back as automatic replies, the rest as the entry's writer says.
TEST_F(LogImportTest, EachEntryComesBackWithItsDirection)
{
    writeLog(u"小明.txt"_s, entry(u"小明"_s, stampOf(time(10)), u"你好"_s)
                               + entry(u"小明"_s, stampOf(time(11)), u"[自动回复]:工作中，请勿打扰"_s)
                               + entry(u"我"_s, stampOf(time(12)), u"[自动回复]:只是这样写"_s));
    import();
    const struct {
        QString text;
        MessageDirection direction;
    } cases[] = {{u"你好"_s, MessageDirection::Received},
                 {u"工作中"_s, MessageDirection::AutoReply},
                 {u"只是这样写"_s, MessageDirection::Sent}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const SearchPage page = find(c.text);
        ASSERT_EQ(page.total, 1);
        EXPECT_EQ(page.hits.value(0).direction, c.direction);
    }
}

TEST_F(LogImportTest, UnreadableFilesAreReportedAndTheRestImported)
{
    writeLog(u"小明.txt"_s, entry(u"小明"_s, stampOf(time(10)), u"读得到"_s));
    writeLog(u"小红.txt"_s, entry(u"小红"_s, stampOf(time(20)), u"读不到"_s));
    QFile::setPermissions(logs_ + u"/小红.txt"_s, QFileDevice::Permissions());
    if (QFile(logs_ + u"/小红.txt"_s).open(QIODevice::ReadOnly))
        GTEST_SKIP() << "running as root: every file is readable";
    const ImportReport report = import();
    EXPECT_EQ(report.added, 1);
    EXPECT_EQ(report.unreadable, QStringList{logs_ + u"/小红.txt"_s});
    EXPECT_EQ(find(u"读得到"_s).total, 1);
}

// An import writes into the database on a connection of its own: it stays within the size the
// store was opened with, and stops as on a full disk there, keeping what was stored before.
TEST_F(LogImportTest, AnImportStaysWithinTheDatabasesSize)
{
    constexpr qint64 Bound = 256 * 1024;
    openStore(Bound);
    add(u"小明"_s, 1, u"导入之前存的"_s);
    // Many different characters: their index alone needs more than the database may hold.
    QByteArray log;
    for (int e = 0; e < 200; ++e) {
        QString text;
        for (int i = 0; i < 300; ++i)
            text += QChar(char16_t(0x4E00 + (e * 300 + i) * 7919 % 20000));
        log += entry(u"小明"_s, stampOf(time(10 + e)), text);
    }
    writeLog(u"小明.txt"_s, log);

    QString error;
    const std::optional<ImportReport> report = LogImporter(path_, u"我"_s, store_->maxBytes()).run(logs_, &error);
    EXPECT_FALSE(report);
    EXPECT_TRUE(error.contains(u"SQLITE_FULL"_s)) << error.toStdString();
    closeAll();
    EXPECT_LE(rawQuery(path_, "PRAGMA page_count").toLongLong() * 4096, Bound);
    EXPECT_EQ(integrity(path_), u"ok / ok"_s);
    openStore(Bound);
    EXPECT_EQ(find(u"导入之前"_s).total, 1);
}

} // namespace
