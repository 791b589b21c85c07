// The history database as a file: made private and in WAL mode with its version; damaged files
// moved aside and replaced; a full disk failing the add without losing what was stored; removing
// a buddy's messages or all; and a writer killed in the middle of its writes.
#include "tests/history/HistoryFixture.h"
#include "tests/history/WrittenText.h"
#include "tests/support/Waits.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <csignal>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class HistoryStoreTest : public HistoryFixture {
protected:
    static int modeOf(const QString &path)
    {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
    }

    static QByteArray bytesOf(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    // Closes everything and removes the database and its companions.
    void removeDatabase()
    {
        closeAll();
        for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s})
            QFile::remove(path_ + suffix);
    }

    // A closed database of count messages.
    void makeDatabase(int count)
    {
        openStore();
        for (int i = 0; i < count; ++i)
            add(u"好友%1"_s.arg(i % 5), i, WrittenText::text(i));
        closeAll();
    }
};

TEST_F(HistoryStoreTest, NewDatabaseIsPrivateInWalModeAndVersioned)
{
    EXPECT_TRUE(report_.created);
    EXPECT_TRUE(report_.movedAsideTo.isEmpty());
    const qint64 id = add(u"小明"_s, 1, u"你好"_s);
    EXPECT_EQ(modeOf(path_), 0600);
    EXPECT_EQ(modeOf(path_ + u"-wal"_s), 0600);
    EXPECT_EQ(rawQuery(path_, "PRAGMA journal_mode"), u"wal"_s);
    EXPECT_EQ(rawQuery(path_, "PRAGMA user_version"), u"1"_s);
    EXPECT_EQ(rawQuery(path_, "PRAGMA encoding"), u"UTF-16le"_s);
    QString error;
    EXPECT_EQ(store_->importDone(&error), std::optional<bool>(false));

    closeAll();
    EXPECT_FALSE(QFile::exists(path_ + u"-wal"_s)); // a clean close leaves no log behind
    openStore();
    EXPECT_FALSE(report_.created);
    EXPECT_TRUE(report_.movedAsideTo.isEmpty()) << report_.problem.toStdString();
    EXPECT_EQ(idsOf(find(u"你好"_s)), QList<qint64>{id});
}

TEST_F(HistoryStoreTest, DamagedFileIsMovedAsideAndANewOneMade)
{
    struct Case {
        const char *name;
        std::function<void()> damage;
        bool companion; // a write-ahead log was left beside it and moves with it
    };
    const Case cases[] = {
        {"garbage bytes",
         [this] {
             QByteArray garbage(64 * 1024, '\0');
             QRandomGenerator generator(7);
             for (char &c : garbage)
                 c = char(generator.bounded(256));
             writeFile(path_, garbage);
         },
         false},
        {"a database cut short after a clean close",
         [this] {
             makeDatabase(2000);
             QFile(path_).resize(QFileInfo(path_).size() / 2);
         },
         false},
        {"a database cut short after a kill",
         [this] {
             makeDatabase(2000);
             QFile(path_).resize(QFileInfo(path_).size() / 2);
             writeFile(path_ + u"-wal"_s, QByteArray(5000, 'w'));
         },
         true},
        {"another program's database",
         [this] { rawExec(path_, "CREATE TABLE notes(x); INSERT INTO notes VALUES (1)"); }, false},
        {"a folder in its place", [this] { QDir().mkpath(path_); }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        removeDatabase();
        c.damage();
        closeAll();
        const QByteArray damaged = bytesOf(path_);
        const QByteArray damagedLog = bytesOf(path_ + u"-wal"_s);

        openStore();
        EXPECT_FALSE(report_.problem.isEmpty());
        ASSERT_FALSE(report_.movedAsideTo.isEmpty());
        EXPECT_TRUE(report_.movedAsideTo.startsWith(path_ + u".damaged-"_s));
        EXPECT_TRUE(report_.created);
        EXPECT_TRUE(QFileInfo::exists(report_.movedAsideTo));
        EXPECT_EQ(bytesOf(report_.movedAsideTo), damaged);
        if (c.companion) {
            EXPECT_EQ(bytesOf(report_.movedAsideTo + u"-wal"_s), damagedLog);
        }
        // The new database is empty and works.
        EXPECT_EQ(find(u"条消息"_s).total, 0);
        const qint64 id = add(u"小明"_s, 1, u"重新开始"_s);
        EXPECT_EQ(idsOf(find(u"重新开始"_s)), QList<qint64>{id});
        QDir(report_.movedAsideTo).removeRecursively();
        QFile::remove(report_.movedAsideTo);
        QFile::remove(report_.movedAsideTo + u"-wal"_s);
        QFile::remove(report_.movedAsideTo + u"-shm"_s);
    }
}

TEST_F(HistoryStoreTest, DatabaseOfANewerVersionIsLeftAlone)
{
    add(u"小明"_s, 1, u"你好"_s);
    closeAll();
    ASSERT_EQ(rawExec(path_, "PRAGMA user_version = 99"), u"ok"_s);
    OpenReport report;
    EXPECT_FALSE(HistoryStore::open(path_, &report));
    EXPECT_TRUE(report.problem.contains(u"更新版本"_s)) << report.problem.toStdString();
    EXPECT_TRUE(report.movedAsideTo.isEmpty());
    EXPECT_EQ(rawQuery(path_, "PRAGMA user_version"), u"99"_s);
    EXPECT_EQ(QDir(dir_.path()).entryList({u"*.damaged-*"_s}).size(), 0);
}

TEST_F(HistoryStoreTest, FullDiskFailsTheAddAndLosesNothingStored)
{
    removeDatabase();
    openStore(512 * 1024);
    QString error;
    int stored = 0;
    std::optional<qint64> id;
    for (int n = 1; n < 5000; ++n) {
        id = store_->add({u"小明"_s,
                          {},
                          QDateTime::fromSecsSinceEpoch(Start + n),
                          MessageDirection::Sent,
                          u"存满了"_s + WrittenText::text(n) + QString(400, u'满')},
                         &error);
        if (!id)
            break;
        ++stored;
    }
    ASSERT_FALSE(id) << "the database never got full";
    EXPECT_GT(stored, 10);
    EXPECT_TRUE(error.contains(u"SQLITE_FULL"_s)) << error.toStdString();
    EXPECT_TRUE(error.contains(u"full"_s)) << error.toStdString();

    // Everything stored before is there, whole, and the file is consistent.
    EXPECT_EQ(find(u"存满了"_s).total, stored);
    EXPECT_EQ(find(u"满"_s).total, stored);
    EXPECT_EQ(integrity(path_), u"ok / ok"_s);
    // The next add fails the same way, and with room again adds succeed.
    EXPECT_FALSE(store_->add(
        {u"小明"_s, {}, QDateTime::fromSecsSinceEpoch(Start), MessageDirection::Sent, QString(2000, u'再')},
        &error));
    openStore(HistoryStore::DefaultMaxBytes);
    add(u"小明"_s, 9000, u"存满了又能存"_s);
    EXPECT_EQ(find(u"存满了"_s).total, stored + 1);
}

TEST_F(HistoryStoreTest, RemovingABuddyOrAllLeavesTheRestAndNoTrace)
{
    const qint64 gone = add(u"小明"_s, 1, u"秘密暗号甲：月亮"_s);
    add(u"小明"_s, 2, u"秘密暗号甲又一次"_s);
    const qint64 kept1 = add(u"小红"_s, 3, u"秘密暗号乙：太阳"_s);
    const qint64 kept2 = add(u"小红"_s, 4, u"暗号乙"_s);
    QString error;

    struct Case {
        QString query;
        QList<qint64> expected;
    };
    ASSERT_TRUE(store_->removeBuddy(u"小明"_s, &error)) << error.toStdString();
    const Case afterBuddy[] = {
        {u"秘密暗号"_s, {kept1}}, {u"暗号"_s, {kept2, kept1}}, {u"月亮"_s, {}}, {u"甲"_s, {}}};
    for (const Case &c : afterBuddy) {
        SCOPED_TRACE(c.query.toStdString());
        EXPECT_EQ(idsOf(find(c.query)), c.expected);
        EXPECT_EQ(idsOf(find(c.query, u"小明"_s)), QList<qint64>());
    }
    EXPECT_EQ(search_->around(gone, 5, 5, &error).value_or(QList<StoredMessage>{{}}).size(), 0);
    EXPECT_EQ(integrity(path_), u"ok / ok"_s);
    // The removed text is in neither the file nor its log: not as stored (UTF-16) nor as
    // indexed (UTF-8 trigrams).
    const QByteArray onDisk = bytesOf(path_) + bytesOf(path_ + u"-wal"_s);
    const QString secret = u"月亮"_s;
    EXPECT_FALSE(
        onDisk.contains(QByteArray(reinterpret_cast<const char *>(secret.utf16()), secret.size() * 2)));
    EXPECT_FALSE(onDisk.contains(u"号甲："_s.toUtf8()));

    EXPECT_TRUE(store_->removeBuddy(u"不存在"_s, &error)) << error.toStdString();
    ASSERT_EQ(rawExec(path_, "INSERT INTO meta(key, value) VALUES ('import_done', 1)"), u"ok"_s);
    ASSERT_TRUE(store_->removeAll(&error)) << error.toStdString();
    const Case afterAll[] = {{u"秘密暗号"_s, {}}, {u"暗号"_s, {}}, {u"太阳"_s, {}}};
    for (const Case &c : afterAll) {
        SCOPED_TRACE(c.query.toStdString());
        EXPECT_EQ(idsOf(find(c.query)), c.expected);
    }
    EXPECT_EQ(store_->importDone(&error), std::optional<bool>(true));
    const qint64 fresh = add(u"小红"_s, 5, u"秘密暗号丙"_s);
    EXPECT_EQ(idsOf(find(u"秘密暗号"_s)), QList<qint64>{fresh});
    EXPECT_EQ(integrity(path_), u"ok / ok"_s);
}

TEST_F(HistoryStoreTest, IndexIsMergedOnceTheWriterIsQuiet)
{
    // Each add leaves a small segment of the index; the upkeep merges them on its own thread
    // after the adds stop, and the searches find the same.
    for (int i = 0; i < 300; ++i)
        add(u"小明"_s, i, WrittenText::text(i));
    const int before = rawQuery(path_, "SELECT count(*) FROM messages_text_data").toInt();
    EXPECT_EVENTUALLY(rawQuery(path_, "SELECT count(*) FROM messages_text_data").toInt() < before, 10000)
        << before << " rows of segments";
    EXPECT_EQ(find(u"条消息"_s).total, 300);
    EXPECT_EQ(integrity(path_), u"ok / ok"_s);
}

TEST_F(HistoryStoreTest, KillInTheMiddleOfWritesLeavesAConsistentDatabase)
{
    constexpr int ReportedBeforeKill = 300;
    closeAll();
    QProcess writer;
    writer.start(QStringLiteral(HISTORY_WRITER), {path_});
    ASSERT_TRUE(writer.waitForStarted(10000));
    int reported = 0;
    QByteArray pending;
    QDeadlineTimer deadline(60000);
    while (reported < ReportedBeforeKill && !deadline.hasExpired() && writer.state() == QProcess::Running) {
        writer.waitForReadyRead(1000);
        pending += writer.readAllStandardOutput();
        while (pending.contains('\n')) {
            const qsizetype end = pending.indexOf('\n');
            reported = pending.left(end).toInt();
            pending.remove(0, end + 1);
        }
    }
    ASSERT_EQ(writer.state(), QProcess::Running) << writer.readAllStandardError().toStdString();
    ::kill(pid_t(writer.processId()), SIGKILL);
    ASSERT_TRUE(writer.waitForFinished(10000));
    // What the writer reported between the last read and the kill (whole lines only).
    pending += writer.readAllStandardOutput();
    const QByteArrayList lines = pending.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        reported = lines[i].toInt();
    ASSERT_GE(reported, ReportedBeforeKill);

    EXPECT_EQ(integrity(path_), u"ok / ok"_s);
    // Every row is a whole message, numbered without gaps: each add was all or nothing.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path_.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *rows = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT id, text FROM messages ORDER BY id", -1, &rows, nullptr),
              SQLITE_OK);
    int count = 0;
    while (sqlite3_step(rows) == SQLITE_ROW) {
        ++count;
        const QString text = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(rows, 1)));
        if (sqlite3_column_int64(rows, 0) != count || text != WrittenText::text(count)) {
            ADD_FAILURE() << "row " << count << " is not the message written";
            break;
        }
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
    EXPECT_GE(count, reported); // what was reported added was committed
    EXPECT_LE(count, reported + 1);

    openStore();
    EXPECT_TRUE(report_.movedAsideTo.isEmpty()) << report_.problem.toStdString();
    EXPECT_EQ(find(u"条消息"_s).total, count);
}

} // namespace
