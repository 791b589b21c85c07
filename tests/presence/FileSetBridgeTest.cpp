// File sets between complete peers, each a process in a namespace of its own on one bridge,
// each with its own folder: a large tree of files and folders arrives identical with one
// accept, and a set that broke off (either process killed, or paused with its held bytes
// changed) goes on after a restart from where the receiver stands.
#include "tests/presence/BridgePeers.h"
#include "tests/support/FileTree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int TransferMs = 60'000; // a set of some MiB, or thousands of small files
constexpr int PollMs = 10;
constexpr qint64 MiB = 1 << 20;
constexpr qint64 BigFileBytes = 64 * MiB;
// The set breaks off once the receiver holds this much of the big file: well inside it.
constexpr qint64 BreakAtBytes = 8 * MiB;
// The sender's link is slowed to this, so that the big file takes seconds, not a blink.
const QString LinkRate = u"200mbit"_s;

// Runs the event loop until done() holds, looking every PollMs (for conditions no event tells).
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QTimer poll;
    poll.start(PollMs);
    return runEventsUntil(done, timeoutMs);
}

// A file of size random bytes (the same for the same seed).
void writeFile(const QString &path, qint64 size, quint32 seed)
{
    QRandomGenerator random(seed);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    const qint64 block = std::min(size, MiB);
    QList<quint32> words(int(block / 4 + 1));
    for (qint64 left = size; left > 0; left -= block) {
        random.fillRange(words.data(), words.size());
        const qint64 n = std::min(left, block);
        ASSERT_EQ(file.write(reinterpret_cast<const char *>(words.constData()), n), n);
    }
}

class FileSetBridge : public BridgePeers {
protected:
    void SetUp() override
    {
        BridgePeers::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(work.isValid());
        for (const QString &name : {u"a"_s, u"b"_s, u"from"_s})
            QDir().mkpath(work.filePath(name));
        peers.reserve(2);
        sender = &addPeer(1, u"发"_s, {u"--dir"_s, work.filePath(u"a"_s)});
        receiver = &addPeer(2, u"收"_s, {u"--dir"_s, work.filePath(u"b"_s)});
        startAll();
        ASSERT_TRUE(allFound({sender, receiver}));
    }

    // The sender drops paths on the receiver's buddy, the receiver accepts the set into a new
    // folder called into; the set's id, or empty.
    QString offer(const QStringList &paths, const QString &into)
    {
        QDir().mkpath(work.filePath(into));
        receiver->process->send(u"acceptsets "_s + work.filePath(into));
        const qsizetype mark = sender->process->lines().size();
        sender->process->send(u"offerset "_s + receiver->address + u' ' + paths.join(u'|'));
        const QString sent = sender->process->waitForLine(u"setsent "_s, DiscoveryMs, mark);
        const QString id = sent.section(u' ', 1, 1);
        if (id.isEmpty() || receiver->process->waitForLine(u"setoffer "_s + id, DiscoveryMs).isEmpty())
            return {};
        return id;
    }

    bool arrived(const QString &id)
    {
        return !receiver->process->waitForLine(u"setdone "_s + id, TransferMs).isEmpty();
    }

    // SIGKILL, then the same command with the same folder; true once each of the two lists
    // the other again (the sealed answers need the other's key from presence).
    bool restart(BridgePeer &peer, BridgePeer &other)
    {
        peer.process->kill();
        if (!runEventsUntil([&] { return !peer.process->running(); }, StartMs))
            return false;
        peer.process = std::make_unique<PeerProcess>(peer.command);
        return peer.process->waitReady(StartMs)
            && waitUntil([&] { return lists(peer, other) && lists(other, peer); }, DiscoveryMs);
    }

    static bool lists(BridgePeer &peer, const BridgePeer &other)
    {
        const QStringList listed = peer.process->list(DiscoveryMs);
        return std::any_of(listed.begin(), listed.end(),
                           [&](const QString &line) { return line.section(u' ', 2, 2) == other.address; });
    }

    // The body bytes of the set's streams that peer reported from line mark on, and whether
    // the last was acknowledged.
    static QPair<qint64, bool> streamedSince(const BridgePeer &peer, const QString &id, qsizetype mark)
    {
        qint64 bytes = 0;
        bool acknowledged = false;
        for (const QString &line : peer.process->linesStartingWith(u"setstream "_s + id + u' ', mark)) {
            bytes += line.section(u' ', 2, 2).toLongLong();
            acknowledged = line.section(u' ', 3, 3) == u"1"_s;
        }
        return {bytes, acknowledged};
    }

    // Slows what peer sends, by a token bucket on its interface; false when refused.
    bool slowDown(const BridgePeer &peer)
    {
        QProcess tc;
        tc.start(u"ip"_s,
                 {u"netns"_s, u"exec"_s, net.namespaceName(peer.ns), u"tc"_s, u"qdisc"_s, u"add"_s, u"dev"_s,
                  u"eth0"_s, u"root"_s, u"tbf"_s, u"rate"_s, LinkRate, u"burst"_s, u"64kb"_s, u"latency"_s,
                  u"100ms"_s});
        if (!tc.waitForFinished(10'000) || tc.exitCode() != 0) {
            std::fprintf(stderr, "tc: %s\n", tc.readAllStandardError().constData());
            return false;
        }
        return true;
    }

    QTemporaryDir work;
    BridgePeer *sender = nullptr;
    BridgePeer *receiver = nullptr;
};

TEST_F(FileSetBridge, ANestedTreeOfTwoThousandFilesWithUnicodeNamesArrivesIdentical)
{
    const QString root = work.filePath(u"from/旅行 été 🎒"_s);
    const QStringList folders = {u""_s, u"/照片"_s, u"/照片/2026 夏天 🌊"_s, u"/Ñoño/文档"_s,
                                 u"/Ñoño/文档/深/更深"_s};
    for (const QString &folder : folders)
        QDir().mkpath(root + folder);
    QDir().mkpath(root + u"/空的文件夹 vacío"_s);
    QRandomGenerator sizes(7);
    for (int i = 0; i < 2000; ++i)
        writeFile(root + folders[i % folders.size()] + u"/文件 %1 café ✓ 😀.bin"_s.arg(i),
                  sizes.bounded(0, 8192), quint32(i));
    for (int i = 0; i < 3; ++i)
        writeFile(root + u"/Ñoño/大文件 %1.dat"_s.arg(i), (2 + i) * MiB + 17, quint32(5000 + i));
    const QString single = work.filePath(u"from/说明 naïve.txt"_s);
    writeFile(single, 1000, 1);

    const QString id = offer({root, single}, u"in"_s);
    ASSERT_FALSE(id.isEmpty());
    EXPECT_EQ(sender->process->linesStartingWith(u"setsent "_s + id).value(0),
              u"setsent "_s + id + u" 2004"_s);
    EXPECT_TRUE(
        receiver->process->linesStartingWith(u"setoffer "_s + id)
            .value(0)
            .startsWith(u"setoffer "_s + id + u' ' + sender->address + u" 2004 个文件，8 个文件夹，共 "_s))
        << "the receiver shows the counts of the set it was offered";
    ASSERT_TRUE(arrived(id)) << receiver->process->lines().join(u'\n').right(2000).toStdString();

    QMap<QString, QByteArray> expected;
    for (auto [path, hash] : treeOf(work.filePath(u"from"_s)).asKeyValueRange())
        expected.insert(path, hash);
    const QMap<QString, QByteArray> received = treeOf(work.filePath(u"in"_s));
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received.contains(u"旅行 été 🎒/空的文件夹 vacío/"_s)) << "the empty folder too";
    EXPECT_TRUE(received == expected) << "every folder and file, identical, and nothing else";
    EXPECT_TRUE(sender->process->waitForLine(u"setstream "_s + id + u' ', DiscoveryMs).endsWith(u" 1"_s))
        << "one stream, acknowledged";
}

// The big file breaks off while it moves; what the receiver holds is kept, and the rest comes
// after the restart of the side that was killed, or the whole file again when the held bytes
// are no longer the sender's.
TEST_F(FileSetBridge, ASetThatBrokeOffGoesOnFromWhereTheReceiverStands)
{
    enum class Break { KillReceiver, KillSender, PauseAndChangeHeldBytes };
    struct Case {
        const char *name;
        Break how;
    };
    if (!slowDown(*sender))
        GTEST_SKIP() << "the sender's link cannot be slowed here";
    // Small files before the big one: more of them than the slack below, so that sending them
    // again would show.
    const QString small = work.filePath(u"from/小文件"_s);
    QDir().mkpath(small);
    for (int i = 0; i < 8; ++i)
        writeFile(small + u"/片 %1.bin"_s.arg(i), 256 << 10, quint32(i));
    const QString big = work.filePath(u"from/大文件.bin"_s);
    writeFile(big, BigFileBytes, 42);
    const QMap<QString, QByteArray> expected = treeOf(work.filePath(u"from"_s));

    int round = 0;
    for (const Case &c :
         {Case{"receiver killed", Break::KillReceiver}, Case{"sender killed", Break::KillSender},
          Case{"paused, held bytes changed", Break::PauseAndChangeHeldBytes}}) {
        SCOPED_TRACE(c.name);
        const QString into = u"in-%1"_s.arg(++round);
        const QString id = offer({small, big}, into);
        ASSERT_FALSE(id.isEmpty());
        // The big file arrives in a hidden part beside its final name.
        const QDir target(work.filePath(into));
        const auto partPath = [&] {
            const QStringList parts = target.entryList({u"."_s + id.left(8) + u"-*.part"_s},
                                                       QDir::Files | QDir::Hidden);
            return parts.size() == 1 ? target.filePath(parts[0]) : QString();
        };
        const auto held = [&] { return partPath().isEmpty() ? 0 : QFileInfo(partPath()).size(); };
        ASSERT_TRUE(waitUntil([&] { return held() >= BreakAtBytes; }, TransferMs)) << "the big file began";

        qsizetype mark = 0; // the sender's lines from which its streams after the break count
        switch (c.how) {
        case Break::KillReceiver:
            ASSERT_TRUE(restart(*receiver, *sender));
            ASSERT_FALSE(receiver->process->waitForLine(u"setstate recv "_s + id + u" 已暂停"_s, DiscoveryMs)
                             .isEmpty())
                << "the restarted receiver shows the set paused";
            ASSERT_FALSE(sender->process->waitForLine(u"setstream "_s + id + u' ', DiscoveryMs).isEmpty());
            mark = sender->process->lines().size();
            break;
        case Break::KillSender:
            ASSERT_TRUE(restart(*sender, *receiver));
            ASSERT_FALSE(
                receiver->process->waitForLine(u"setstate recv "_s + id + u" 连接已中断"_s, DiscoveryMs)
                    .isEmpty());
            break;
        case Break::PauseAndChangeHeldBytes: {
            receiver->process->send(u"pausesets"_s);
            ASSERT_FALSE(sender->process->waitForLine(u"setstream "_s + id + u' ', DiscoveryMs).isEmpty());
            mark = sender->process->lines().size();
            // The receiver's last writes have landed once the part keeps its size a while.
            for (qint64 before = -1; before != held();) {
                before = held();
                QTest::qWait(300);
            }
            QFile part(partPath());
            ASSERT_TRUE(part.open(QIODevice::ReadWrite));
            ASSERT_TRUE(part.seek(part.size() - 1));
            const char byte = part.read(1).at(0);
            ASSERT_TRUE(part.seek(part.size() - 1));
            ASSERT_EQ(part.write(QByteArray(1, char(byte ^ 0x5a))), 1);
            break;
        }
        }
        const qint64 heldBefore = held();
        ASSERT_GE(heldBefore, BreakAtBytes);
        ASSERT_LT(heldBefore, BigFileBytes);
        receiver->process->send(u"continuesets"_s);
        ASSERT_TRUE(arrived(id)) << receiver->process->lines().join(u'\n').right(2000).toStdString();

        ASSERT_TRUE(waitUntil([&] { return streamedSince(*sender, id, mark).second; }, DiscoveryMs));
        const qint64 resent = streamedSince(*sender, id, mark).first;
        if (c.how == Break::PauseAndChangeHeldBytes)
            EXPECT_EQ(resent, BigFileBytes) << "the big file again from its start, and nothing else";
        else
            EXPECT_LE(resent, BigFileBytes - heldBefore + MiB) << "only what the receiver did not hold";
        QMap<QString, QByteArray> received = treeOf(work.filePath(into));
        EXPECT_TRUE(received == expected) << "arrived identical, no part left behind";
    }
}

} // namespace
