#include "tests/net/RawTcp.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/transfer/RawPost.h"
#include "tests/transfer/TwoPeers.h"

#include <fcntl.h>
#include <sys/resource.h>

namespace {

const QString Interrupted = u"连接已中断"_s;
const QString Received = u"接收完毕！"_s;
const QString TimedOut = u"10060:Connection timed out"_s;
constexpr int ShortStall = 300;

// B's file windows against peers that are not our code: a raw host on 127.0.0.4 offers files
// and posts streams the way it likes.
class HostileTransfer : public TwoPeers {
protected:
    // The raw host offers a file of size bytes; gives B's new receive-file window.
    TForm7 *rawOffer(qint64 size = 9, const QString &name = u"c.txt"_s)
    {
        const qsizetype before = b.files->receiveWindows().size();
        other.send(b.ip(), Packet::fileOffer(size, name, QString()));
        if (!QTest::qWaitFor([&] { return b.files->receiveWindows().size() > before; }, Wait))
            return nullptr;
        return b.files->receiveWindows().last();
    }

    // B's user accepts into target; true once the file accept reached the raw host.
    bool acceptRaw(TForm7 *window, const QString &target)
    {
        const qsizetype before = other.received.size();
        accept(window, target);
        return other.waitForDatagrams(int(before) + 1) && other.received.last() == "3";
    }

    // Nothing stored in the files folder but the names given.
    void expectOnlyFiles(const QStringList &names) const { EXPECT_EQ(filesThere(files.path()), names); }

    RawUdpPeer other{u"127.0.0.4"_s};
};

// The lowest descriptor number not in use.
int lowestFreeDescriptor()
{
    const int fd = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    ::close(fd);
    return fd;
}

} // namespace

TEST_F(HostileTransfer, OfferFloodAtALowDescriptorLimitOpensNoMoreThanTheBound)
{
    // Room for about 30 receive-file windows' descriptors: a flood twice that size would run
    // out without the bound.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = rlim_t(lowestFreeDescriptor() + 90);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    for (int i = 0; i < 60; ++i)
        other.send(b.ip(), Packet::fileOffer(9, u"c%1.txt"_s.arg(i), QString()));
    // Datagrams are handled in order: the friend request is answered after every offer.
    other.send(b.ip(), Packet::friendRequest(u"丙"_s));
    const bool answered = QTest::qWaitFor([&] { return !b.prompts.texts(u"confirm"_s).isEmpty(); }, Wait);
    setrlimit(RLIMIT_NOFILE, &saved);

    ASSERT_TRUE(answered);
    const QList<TForm7 *> windows = b.files->receiveWindows();
    ASSERT_EQ(windows.size(), TransferWindows::MaxReceiveWindows);
    EXPECT_TRUE(b.reporter.errors.isEmpty());
    EXPECT_TRUE(windows.last()->fsm->text().contains(u"c15.txt"_s));

    // Once one closes, the next offer opens a window again.
    windows.first()->Button2->click();
    TForm7 *next = rawOffer(9, u"after.txt"_s);
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->fsm->text().contains(u"after.txt"_s));
    EXPECT_EQ(b.files->openReceiveWindowCount(), TransferWindows::MaxReceiveWindows);
}

TEST_F(HostileTransfer, PostAfterTheUserRefusedAnAcceptedOfferIsTurnedAway)
{
    for (const bool byClose : {false, true}) {
        QPointer<TForm7> window = rawOffer();
        ASSERT_TRUE(window);
        window->Timer1->setInterval(60000); // the window lingers long after the refusal
        ASSERT_TRUE(acceptRaw(window, files.file(u"target.bin"_s)));
        if (byClose)
            window->close();
        else
            window->Button2->click();

        RawPost post(other.address(), b.ip(), "123456789");
        ASSERT_TRUE(post.waitAnswered());
        EXPECT_TRUE(post.closed());
        EXPECT_TRUE(post.reply.isEmpty());
        EXPECT_EQ(window->jsd->ConnectionCount(), 0);
        delete window;
    }
    expectOnlyFiles({});
    EXPECT_FALSE(b.prompts.texts(u"message"_s).contains(Received));
}

TEST_F(HostileTransfer, SenderThatStallsEndsTheTransferAsInterrupted)
{
    // Stalled inside the header, and inside the body (a temporary file then exists).
    for (const QByteArray &sent : {QByteArray("00"), QByteArray("0000         9abc")}) {
        QPointer<TForm7> window = rawOffer();
        ASSERT_TRUE(window);
        window->Timer1->setInterval(10);
        window->jsd->StallTimeOut = ShortStall;
        ASSERT_TRUE(acceptRaw(window, files.file(u"target.bin"_s)));
        const qsizetype before = b.prompts.texts(u"message"_s).size();

        QTcpSocket stalled;
        QByteArray reply;
        QObject::connect(&stalled, &QTcpSocket::readyRead, [&] { reply += stalled.readAll(); });
        stalled.bind(QHostAddress(other.address()), 0);
        stalled.connectToHost(QHostAddress(b.ip()), 2921);
        stalled.write(sent);

        ASSERT_TRUE(released(window));
        EXPECT_EQ(b.prompts.texts(u"message"_s).mid(before), QStringList{Interrupted});
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return stalled.state() == QAbstractSocket::UnconnectedState; }, Wait));
        EXPECT_TRUE(reply.isEmpty());
    }
    expectOnlyFiles({});
}

TEST_F(HostileTransfer, ReceiverThatNeverAcknowledgesEndsTheTransferAsInterrupted)
{
    // A receiver on B's address that takes the connection and reads nothing and answers nothing.
    RawTcp::Socket silent = RawTcp::listenOn(b.ip().toLatin1().constData(), 2921);
    ASSERT_GE(silent.fd(), 0);
    int round = 0;
    // A small file waits for the acknowledgement; a large one stalls inside the body.
    for (const qint64 size : {qint64(1000), qint64(64 * 1024 * 1024)}) {
        QPointer<TForm6> sending = openSendWindow();
        ASSERT_TRUE(sending);
        sending->fsd->StallTimeOut = ShortStall;
        a.prompts.openAnswers << makeFile(u"a%1.bin"_s.arg(round++), size);
        sending->Button1->click();
        Packet::send(b.endpoint(), a.ip(), Packet::fileAccept());
        ASSERT_TRUE(released(sending));
    }
    EXPECT_EQ(a.prompts.texts(u"message"_s), (QStringList{Interrupted, Interrupted}));
    EXPECT_EQ(a.reporter.errors, (QStringList{TimedOut, TimedOut}));
}

TEST_F(HostileTransfer, StreamLongerOrShorterThanTheOfferIsRefusedUnacknowledged)
{
    for (const QByteArray &body : {QByteArray("1234567890"), QByteArray("12345678")}) {
        QPointer<TForm7> window = rawOffer(9);
        ASSERT_TRUE(window);
        window->Timer1->setInterval(10);
        ASSERT_TRUE(acceptRaw(window, files.file(u"target.bin"_s)));
        RawPost post(other.address(), b.ip(), body);
        ASSERT_TRUE(post.waitAnswered());
        EXPECT_TRUE(post.closed());
        EXPECT_TRUE(post.reply.isEmpty());
        ASSERT_TRUE(released(window));
    }
    expectOnlyFiles({});
    EXPECT_EQ(b.prompts.texts(u"message"_s), (QStringList{Interrupted, Interrupted}));
}

// The file windows take exactly the offered size: a post cut short leaves no file, bytes after
// the body stay out of the target.
TEST_F(HostileTransfer, BodyCutShortLeavesNoFileAndBytesAfterTheBodyStayOut)
{
    const qint64 size = 3 * 1024 * 1024;
    QByteArray body(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        body[i] = char(i * 13 + i / 4093);
    const QString target = files.file(u"target.bin"_s);

    QPointer<TForm7> window = rawOffer(size);
    ASSERT_TRUE(window);
    window->Timer1->setInterval(10);
    ASSERT_TRUE(acceptRaw(window, target));
    {
        RawPost cut(other.address(), b.ip(), body.left(size / 2), size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return cut.allWritten(); }, Wait));
        cut.close();
        ASSERT_TRUE(released(window));
        EXPECT_TRUE(cut.reply.isEmpty());
    }
    expectOnlyFiles({});

    window = rawOffer(size);
    ASSERT_TRUE(window);
    window->Timer1->setInterval(10);
    ASSERT_TRUE(acceptRaw(window, target));
    RawPost longer(other.address(), b.ip(), body + QByteArray(70000, 'X'), size);
    ASSERT_TRUE(longer.waitAnswered());
    EXPECT_EQ(longer.reply, QByteArray("OK") + QByteArray(14, ' '));
    longer.close(); // the receiver waits for the sender to close after the acknowledgement
    ASSERT_TRUE(released(window));
    EXPECT_TRUE(files.read(u"target.bin"_s) == body);
    expectOnlyFiles({u"target.bin"_s});
    EXPECT_EQ(b.prompts.texts(u"message"_s), (QStringList{Interrupted, Received}));
}
