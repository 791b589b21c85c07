#include "net/TZnUDP.h"
#include "net/Exceptions.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/socket.h>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Addresses of their own, so these tests never meet the peers on 127.0.0.2 and 127.0.0.3.
const QString EndpointIp = u"127.0.0.52"_s;
const QString PeerIp = u"127.0.0.53"_s;
constexpr int Port = 2928;

struct Received {
    int numberBytes = 0;
    QString fromIp;
    int port = 0;
    QByteArray bytes;
    int length = 0;
};

// A plain socket (not our code) that sends numbered datagrams to EndpointIp:2928 from any
// thread, as fast as it is asked to.
class NumberSender {
public:
    NumberSender() : socket_(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(Port);
        ::inet_pton(AF_INET, EndpointIp.toLatin1().constData(), &to_.sin_addr);
    }
    ~NumberSender() { ::close(socket_); }
    NumberSender(const NumberSender &) = delete;
    NumberSender &operator=(const NumberSender &) = delete;
    void send(int number) const
    {
        const QByteArray bytes = QByteArray::number(number);
        ::sendto(socket_, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<const sockaddr *>(&to_),
                 sizeof to_);
    }

private:
    int socket_;
    sockaddr_in to_{};
};

// An endpoint bound to EndpointIp:2928 that records what each OnDataReceived delivers, and a
// plain socket (not our code) on PeerIp:2928 that sends to it and receives from it.
class TZnUDPTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        udp.BindAddress = EndpointIp;
        udp.RemotePort = Port;
        udp.SetLocalPort(Port);
        ASSERT_EQ(udp.BoundPort(), Port);
        ASSERT_TRUE(peer.bind(QHostAddress(PeerIp), Port));
        udp.OnDataReceived = [this](TZnUDP *sender, int n, const QString &ip, int port) {
            Received r{n, ip, port, QByteArray(TZnUDP::ReceiveBufferSize, '\0'), 0};
            sender->ReadDatagram(r.bytes.data(), int(r.bytes.size()), r.length);
            r.bytes.resize(std::max(0, r.length));
            received.append(r);
        };
    }
    void sendFromPeer(const QByteArray &bytes) { peer.writeDatagram(bytes, QHostAddress(EndpointIp), Port); }
    bool waitReceived(qsizetype count)
    {
        return QTest::qWaitFor([&] { return received.size() >= count; }, 5000);
    }
    QByteArrayList peerDatagrams(qsizetype count)
    {
        QByteArrayList result;
        const bool complete = QTest::qWaitFor(
            [&] {
                while (peer.hasPendingDatagrams())
                    result << peer.receiveDatagram().data();
                return result.size() >= count;
            },
            5000);
        EXPECT_TRUE(complete) << "only " << result.size() << " of " << count << " datagrams";
        return result;
    }

    TZnUDP udp;
    QUdpSocket peer;
    QList<Received> received;
};

} // namespace

TEST_F(TZnUDPTest, DeliversEachDatagramWithItsSenderUpTo2048Bytes)
{
    const QByteArray full(2048, 'f');
    sendFromPeer("hello");
    sendFromPeer(full);
    sendFromPeer(QByteArray(2049, 'o'));
    sendFromPeer(QByteArray());
    ASSERT_TRUE(waitReceived(4));
    EXPECT_EQ(received[0].numberBytes, 5);
    EXPECT_EQ(received[0].bytes, QByteArray("hello"));
    EXPECT_EQ(received[0].fromIp, PeerIp);
    EXPECT_EQ(received[0].port, Port);
    EXPECT_EQ(received[1].numberBytes, 2048);
    EXPECT_EQ(received[1].bytes, full);
    EXPECT_EQ(received[2].numberBytes, -1);
    EXPECT_EQ(received[2].length, -1);
    EXPECT_EQ(received[2].fromIp, QString());
    EXPECT_EQ(received[2].port, 0);
    EXPECT_EQ(received[3].numberBytes, 0);
    EXPECT_EQ(received[3].length, 0);
}

TEST_F(TZnUDPTest, ReadDatagramRepeatsAndNeverWritesPastTheCallersBuffer)
{
    QByteArray first, second;
    char small[8];
    int firstLength = 0, secondLength = 0, smallLength = 0;
    udp.OnDataReceived = [&](TZnUDP *sender, int, const QString &, int) {
        first.resize(64);
        second.resize(64);
        sender->ReadDatagram(first.data(), 64, firstLength);
        sender->ReadDatagram(second.data(), 64, secondLength);
        std::fill(std::begin(small), std::end(small), '#');
        sender->ReadDatagram(small, 4, smallLength);
        received.append(Received{});
    };
    sendFromPeer("0123456789");
    ASSERT_TRUE(waitReceived(1));
    EXPECT_EQ(firstLength, 10);
    EXPECT_EQ(secondLength, 10);
    EXPECT_EQ(first.left(10), second.left(10));
    EXPECT_EQ(smallLength, 4);
    EXPECT_EQ(QByteArray(small, 8), QByteArray("0123####"));
}

TEST_F(TZnUDPTest, SendsTheFirstLengthBytesOfItsOwnCopy)
{
    QByteArray buffer("abcdefgh");
    int sends = 0;
    udp.OnDataSend = [&](TZnUDP *sender) {
        EXPECT_EQ(sender, &udp);
        ++sends;
    };
    udp.RemoteHost = PeerIp;
    udp.SendDatagram(buffer, 3);
    udp.SendDatagram(buffer, 100); // never more than the buffer holds
    EXPECT_EQ(peerDatagrams(2), (QByteArrayList{"abc", "abcdefgh"}));
    EXPECT_EQ(sends, 2);
}

TEST_F(TZnUDPTest, ALengthOfZeroGetsOneRepairByOnBufferInvalid)
{
    udp.RemoteHost = PeerIp;
    try {
        udp.SendDatagram("abc", 0);
        FAIL() << "no exception";
    } catch (const UDPSockError &) {
        FAIL() << "the length check raises the general exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.message(), u"Invalid buffer"_s);
    }

    int calls = 0;
    udp.OnBufferInvalid = [&](bool &handled, QByteArray &buff, int &length) {
        ++calls;
        buff = "12345678";
        length = 5;
        handled = true;
    };
    udp.SendDatagram(QByteArray(), 0);
    EXPECT_EQ(peerDatagrams(1), QByteArrayList{"12345"});

    udp.OnBufferInvalid = [&](bool &handled, QByteArray &, int &) {
        ++calls;
        handled = true;
    };
    EXPECT_THROW(udp.SendDatagram("x", 0), Exception);
    EXPECT_EQ(calls, 2);
    udp.OnBufferInvalid = [&](bool &, QByteArray &, int &length) { length = 3; };
    EXPECT_THROW(udp.SendDatagram("xyz", 0), Exception);
}

TEST_F(TZnUDPTest, HostsAreParsedResolvedOrRefused)
{
    udp.RemoteHost = u"0.0.0.0"_s;
    try {
        udp.SendDatagram("a", 1);
        FAIL() << "no exception";
    } catch (const UDPSockError &e) {
        EXPECT_EQ(e.message(), u"Null Remote Address"_s);
    }

    int invalidHostCalls = 0;
    udp.RemoteHost = u"bad host name"_s;
    try {
        udp.SendDatagram("a", 1);
        FAIL() << "no exception";
    } catch (const UDPSockError &e) {
        EXPECT_EQ(e.message(), u"Host Lookup Canceled"_s);
    }
    // A handler that sets Handled gets the same name looked up once more.
    udp.OnInvalidHost = [&](bool &handled) {
        ++invalidHostCalls;
        udp.RemoteHost = PeerIp; // affects only later sends
        handled = true;
    };
    udp.RemoteHost = QString(200, u'h'); // longer than any host name: refused like an unknown one
    EXPECT_THROW(udp.SendDatagram("a", 1), UDPSockError);
    EXPECT_EQ(invalidHostCalls, 1);

    // A name that resolves: the send waits for the look-up, then goes out.
    QUdpSocket local;
    ASSERT_TRUE(local.bind(QHostAddress(u"127.0.0.1"_s), 0));
    udp.RemoteHost = u"localhost"_s;
    udp.RemotePort = local.localPort();
    udp.SendDatagram("named", 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return local.hasPendingDatagrams(); }, 5000));
    EXPECT_EQ(local.receiveDatagram().data(), QByteArray("named"));
}

TEST_F(TZnUDPTest, StatusIsReportedUpToReportLevel)
{
    QStringList statuses;
    udp.OnStatus = [&](TZnUDP *, const QString &text) { statuses << text; };
    udp.RemoteHost = PeerIp;
    udp.SendDatagram("a", 1);
    EXPECT_TRUE(statuses.isEmpty());
    EXPECT_EQ(udp.ReportLevel, 1);
    udp.ReportLevel = 16;
    udp.SendDatagram("b", 1);
    EXPECT_EQ(statuses, QStringList{u"Sending Data"_s});
    EXPECT_EQ(udp.StatusText(), u"Sending Data"_s);
}

TEST_F(TZnUDPTest, SettingLocalPortRebindsAndASecondEndpointOnATakenPortOnlySends)
{
    udp.SetLocalPort(Port); // same value: a new socket, bound again
    EXPECT_EQ(udp.BoundPort(), Port);
    sendFromPeer("again");
    ASSERT_TRUE(waitReceived(1));
    EXPECT_EQ(received[0].bytes, QByteArray("again"));

    TZnUDP second;
    second.BindAddress = EndpointIp;
    second.SetLocalPort(Port);
    EXPECT_EQ(second.BoundPort(), 0);
    second.Loaded(); // a further Loaded changes nothing and raises nothing
    second.RemoteHost = PeerIp;
    second.RemotePort = Port;
    second.SendDatagram("from second", 11);
    EXPECT_EQ(peerDatagrams(1), QByteArrayList{"from second"});
}

// A burst that waits on the socket is taken in at one wake-up, in order, rather than one
// datagram per turn of the event loop (which let the windows' repaints between two datagrams
// and the kernel's queue overflow); more than the cap wait for the next turn.
TEST_F(TZnUDPTest, ABurstIsTakenInAtOneWakeUpUpToTheCap)
{
    const int burst = TZnUDP::MaxDatagramsPerWakeUp + 10;
    for (int i = 0; i < burst; ++i)
        sendFromPeer(QByteArray::number(i));
    // Loopback delivers at once: all of them wait on the endpoint's socket now.
    QCoreApplication::processEvents();
    ASSERT_EQ(received.size(), TZnUDP::MaxDatagramsPerWakeUp);
    ASSERT_TRUE(waitReceived(burst));
    for (int i = 0; i < burst; ++i)
        EXPECT_EQ(received[i].bytes, QByteArray::number(i));
}

// The owning thread is busy (as in a long edit of a window; here it waits for the sender) while
// a burst arrives, more than the kernel's queue holds: the datagrams wait in the endpoint's
// intake and all come, in order, once the thread is free, also to an event loop that the first
// one's handler runs (as a box does). An intake with a smaller limit holds no more than that
// and keeps the order.
TEST_F(TZnUDPTest, ABurstBehindABusyHandlerWaitsInTheIntake)
{
    constexpr int Burst = 2000;
    for (const int limit : {udp.IntakeLimit, 100}) {
        SCOPED_TRACE(limit);
        udp.IntakeLimit = limit;
        udp.SetLocalPort(Port);
        received.clear();
        const auto record = udp.OnDataReceived;
        bool nested = false, allInNestedLoop = false;
        udp.OnDataReceived = [&](TZnUDP *sender, int n, const QString &ip, int port) {
            record(sender, n, ip, port);
            if (!std::exchange(nested, true))
                allInNestedLoop = QTest::qWaitFor([&] { return received.size() > Burst; }, 2000);
        };
        // A raw sender on a thread of its own: ten datagrams a millisecond, for 200 ms.
        std::thread sender([] {
            const NumberSender numbers;
            for (int i = 0; i <= Burst; ++i) {
                numbers.send(i);
                if (i % 10 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        sender.join();
        // Still busy a moment: the intake takes in what the socket holds, so that the rest
        // waits in the intake alone.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const bool all = waitReceived(Burst + 1);
        udp.OnDataReceived = record;
        EXPECT_EQ(all, limit > Burst) << received.size() << " received";
        EXPECT_EQ(allInNestedLoop, limit > Burst);
        for (qsizetype i = 1; i < received.size(); ++i)
            ASSERT_LT(received[i - 1].bytes.toInt(), received[i].bytes.toInt()) << "in the order sent";
    }
}

// A handler that takes every datagram but more slowly than they come (250 µs each against one
// every 100 µs) never leaves the socket idle, yet the kernel's queue would overflow at its pace:
// the intake takes the backlog in too, and every datagram comes, in order.
TEST_F(TZnUDPTest, AHandlerSlowerThanTheArrivalsLosesNothing)
{
    constexpr int Count = 3000;
    const auto record = udp.OnDataReceived;
    udp.OnDataReceived = [&](TZnUDP *sender, int n, const QString &ip, int port) {
        record(sender, n, ip, port);
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(250);
        while (std::chrono::steady_clock::now() < until) {}
    };
    std::thread sender([] {
        const NumberSender numbers;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < Count; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(100 * i));
            numbers.send(i);
        }
    });
    const bool all = waitReceived(Count);
    sender.join();
    udp.OnDataReceived = record;
    EXPECT_TRUE(all) << received.size() << " of " << Count << " received";
    for (qsizetype i = 0; i < received.size(); ++i)
        ASSERT_EQ(received[i].bytes.toInt(), i) << "each once, in the order sent";
}

// A handler that runs a nested event loop (a modal box) takes in the rest of the burst there,
// each datagram once and in order; a handler that destroys the endpoint ends the batch.
TEST(TZnUDPBurst, NestedLoopsAndADestroyedEndpointEndTheBatchCleanly)
{
    const QString ip = u"127.0.0.54"_s;
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress(PeerIp), 0));
    const auto burst = [&] {
        for (const char *text : {"a", "b", "c", "d", "e", "f"})
            peer.writeDatagram(text, 1, QHostAddress(ip), quint16(Port));
    };
    QByteArrayList seen;
    const auto endpoint = [&](std::function<void(TZnUDP *)> then) {
        auto *udp = new TZnUDP;
        udp->BindAddress = ip;
        udp->SetLocalPort(Port);
        EXPECT_EQ(udp->BoundPort(), Port);
        udp->OnDataReceived = [&seen, then](TZnUDP *sender, int, const QString &, int) {
            char bytes[16];
            int length = 0;
            sender->ReadDatagram(bytes, sizeof bytes, length);
            seen << QByteArray(bytes, length);
            then(sender);
        };
        return udp;
    };

    TZnUDP *nesting = endpoint([&](TZnUDP *) {
        if (seen.size() == 1) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() == 6; }, 5000));
        }
    });
    burst();
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 6; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, (QByteArrayList{"a", "b", "c", "d", "e", "f"}));
    delete nesting;

    seen.clear();
    endpoint([&](TZnUDP *sender) {
        if (seen.size() == 2)
            delete sender;
    });
    burst();
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 2; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, (QByteArrayList{"a", "b"}));
}

TEST(TZnUDPErrors, AFailingSocketCreationRaisesUnknownErrorWithTheWinsockNumber)
{
    // Use up every descriptor the process may open, so that socket() fails with EMFILE.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        taken.push_back(fd);
    QString message;
    try {
        TZnUDP endpoint;
    } catch (const UDPSockError &e) {
        message = e.message();
    }
    for (int fd : taken)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(message, u"Unknown Error No. 10024"_s);
}
