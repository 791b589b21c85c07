// Privacy between complete peers on one bridge, as a host on the same LAN sees it: a capture
// of every packet that enters the bridge looks for random markers in the messages, offers and
// files two peers exchange, sealed while both announce their keys and in the clear when one does
// not; and a message forged with a peer's address from a third namespace.
#include "bench/WireCapture.h"
#include "tests/presence/BridgePeers.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

// A marker no packet holds by chance: 24 random letters.
QString marker()
{
    QString text;
    for (int i = 0; i < 24; ++i)
        text += QChar(u'a' + QRandomGenerator::global()->bounded(26));
    return text;
}

class SealedBridge : public BridgePeers {
protected:
    void startCapturing()
    {
        QStringList ports;
        for (const BridgePeer &p : peers)
            ports << p.ports;
        capture = std::make_unique<WireCapture>(ports);
        ASSERT_TRUE(capture->isOpen()) << "no packet socket";
    }

    // from sends text to to's address; true once to shows it (as shown, marks included).
    bool delivered(BridgePeer &from, BridgePeer &to, const QString &text, const QString &shown)
    {
        const qsizetype mark = to.process->lines().size();
        from.process->send(u"send "_s + to.address + u' ' + text);
        return !to.process->waitForLine(u"message "_s + from.address + u' ' + shown, DiscoveryMs, mark).isEmpty();
    }

    // from offers a file named name holding content to to, which accepts it; true once to
    // has shown the offer and received the file whole.
    bool sentFile(BridgePeer &from, BridgePeer &to, const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return false;
        file.close();
        const qsizetype mark = to.process->lines().size();
        const QString target = dir.filePath(u"received-"_s + name);
        to.process->send(u"accept "_s + target);
        from.process->send(u"offer "_s + to.address + u' ' + path);
        const QString line = to.process->waitForLine(u"offer "_s + from.address + u' ', DiscoveryMs, mark);
        if (!line.contains(name) || to.process->waitForLine(u"box 接收完毕！"_s, DiscoveryMs, mark).isEmpty())
            return false;
        QFile received(target);
        return received.open(QIODevice::ReadOnly) && received.readAll() == content;
    }

    // A file's bytes: the marker again and again, 256 KiB in all.
    static QByteArray fileOf(const QString &marker)
    {
        return QByteArray(marker.toLatin1() + '\n').repeated((256 << 10) / (marker.size() + 1));
    }

    bool crossed(const QString &text) const
    {
        capture->readAll();
        return capture->contains(text.toLatin1());
    }

    QTemporaryDir dir;
    std::unique_ptr<WireCapture> capture;
};

TEST_F(SealedBridge, MessagesOffersAndFilesBetweenCapablePeersNeverCrossInTheClear)
{
    peers.reserve(3);
    // Single files here: B takes one file per offer, as an earlier version of this program.
    BridgePeer &a = addPeer(1, u"甲"_s);
    BridgePeer &b = addPeer(2, u"乙"_s, {u"--file-sets"_s, u"off"_s});
    BridgePeer &base = addPeer(3, u"丙"_s, {u"--presence"_s, u"off"_s}); // announces nothing
    startAll();
    ASSERT_TRUE(allFound({&a, &b}));
    startCapturing();

    // A message and a file from A to peer; their markers.
    const auto exchange = [&](BridgePeer &peer) {
        const QStringList markers{marker(), marker() + u".txt"_s, marker()};
        EXPECT_TRUE(delivered(a, peer, markers[0], markers[0])) << "shown as sent, without a mark";
        EXPECT_TRUE(sentFile(a, peer, markers[1], fileOf(markers[2])));
        return markers;
    };
    QStringList sealed = exchange(b);
    sealed << marker();
    ASSERT_TRUE(delivered(b, a, sealed.last(), sealed.last()));
    EXPECT_GE(capture->tcpBytes(2921), 256 << 10) << "the file did cross the bridge";
    EXPECT_GE(capture->datagrams('9'), 3) << "they went in envelopes";
    EXPECT_EQ(capture->datagrams('1') + capture->datagrams('5'), 0);

    // Both show the same safety code.
    a.process->send(u"code "_s + b.address);
    b.process->send(u"code "_s + a.address);
    const QString codeA = a.process->waitForLine(u"code "_s + b.address, DiscoveryMs).section(u' ', 2);
    const QString codeB = b.process->waitForLine(u"code "_s + a.address, DiscoveryMs).section(u' ', 2);
    EXPECT_TRUE(QRegularExpression(u"^\\d{4} \\d{4} \\d{4}$"_s).match(codeA).hasMatch()) << codeA.toStdString();
    EXPECT_EQ(codeA, codeB);

    // With a peer that announced nothing, everything is as it always was: in the clear.
    const QStringList plain = exchange(base);
    for (const QString &text : sealed)
        EXPECT_FALSE(crossed(text)) << text.toStdString() << " crossed in the clear";
    for (const QString &text : plain)
        EXPECT_TRUE(crossed(text)) << text.toStdString() << " was not seen: the capture missed it";
    EXPECT_FALSE(capture->lost()) << "frames were lost: the absences above prove nothing";
}

TEST_F(SealedBridge, AMessageForgedWithABuddysAddressFromAThirdHostIsShownMarked)
{
    peers.reserve(3);
    BridgePeer &a = addPeer(1, u"甲"_s);
    BridgePeer &b = addPeer(2, u"乙"_s);
    // The forger's host also holds A's address, so that it can send from it; it announces
    // nothing there.
    BridgePeer &forger = addPeer({{u"10.88.0.3/24"_s, u"10.88.0.1/32"_s}}, u"丁"_s,
                                 {u"--ip"_s, u"10.88.0.1"_s, u"--presence"_s, u"off"_s});
    startAll();
    ASSERT_TRUE(allFound({&a, &b}));
    const QString first = marker();
    ASSERT_TRUE(delivered(a, b, first, first)) << "B pins A's key";

    startCapturing();
    const QString forged = marker();
    const qsizetype mark = b.process->lines().size();
    forger.process->send(u"send "_s + b.address + u' ' + forged);
    EXPECT_FALSE(b.process->waitForLine(u"message 10.88.0.1 [未加密]"_s + forged, DiscoveryMs, mark).isEmpty())
        << "a plain message from a pinned address may be forged: it is marked";
    EXPECT_TRUE(b.process->linesStartingWith(u"message 10.88.0.1 "_s + forged, mark).isEmpty()) << "never unmarked";
    EXPECT_TRUE(crossed(forged)) << "it did go in the clear: the forger has no key";
}

} // namespace
