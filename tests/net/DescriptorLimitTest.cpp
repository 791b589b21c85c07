#include "net/DescriptorLimit.h"
#include "RawTcp.h"
#include "harness/TempDir.h"
#include "net/TZnStrmServ.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;
using RawTcp::Socket;

namespace {

// Lowers the soft descriptor limit for its lifetime so that no new descriptor can be had
// (every number below the limit is in use); the limit is shared by the whole test process,
// so it is restored as soon as the scope ends.
class NoFreeDescriptor {
public:
    NoFreeDescriptor()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowestFree = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
        ::close(lowestFree);
        rlimit low = saved_;
        low.rlim_cur = rlim_t(lowestFree);
        ok = ::setrlimit(RLIMIT_NOFILE, &low) == 0;
    }
    ~NoFreeDescriptor() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    NoFreeDescriptor(const NoFreeDescriptor &) = delete;
    NoFreeDescriptor &operator=(const NoFreeDescriptor &) = delete;

    bool ok = false;

private:
    rlimit saved_{};
};

} // namespace

TEST(DescriptorLimit, SoftLimitIsRaisedToTheHardLimit)
{
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 512;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

    const bool raised = DescriptorLimit::raiseToHard();
    rlimit now{};
    ::getrlimit(RLIMIT_NOFILE, &now);
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_TRUE(raised);
    EXPECT_EQ(now.rlim_max, saved.rlim_max);
    if (saved.rlim_max != RLIM_INFINITY)
        EXPECT_EQ(now.rlim_cur, saved.rlim_max);
    else
        EXPECT_GT(now.rlim_cur, rlim_t(512));
}

// A listener whose accept fails for want of a descriptor does not spin on the pending
// connection: it tries again after its back-off, and takes the connection once a descriptor
// is free again.
TEST(DescriptorLimit, ListenerWithoutDescriptorsBacksOffAndAcceptsLater)
{
    TempDir dir;
    TZnStrmServ server;
    server.Port = 2921;
    server.BindAddress = u"127.0.0.2"_s;
    server.TempFolder = dir.path();
    server.AcceptBackOff = 50;
    int attempts = 0;
    server.OnClientContact = [&](RIzarorozi *) { ++attempts; };
    std::mutex lock; // OnMSG runs on the connection's thread
    QByteArray delivered;
    server.OnMSG = [&](TZnStrmServ *, const QByteArray &, QFile *strm) {
        std::lock_guard guard(lock);
        delivered = strm->readAll();
    };
    server.Loaded();
    ASSERT_TRUE(server.Listening());

    Socket client(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_GE(client.fd(), 0);
    int lateAttempts = 0;
    {
        NoFreeDescriptor limit;
        ASSERT_TRUE(limit.ok);
        // The handshake is the kernel's: the connection is pending on the listener at once.
        const sockaddr_in to = RawTcp::address("127.0.0.2", 2921);
        ASSERT_EQ(::connect(client.fd(), reinterpret_cast<const sockaddr *>(&to), sizeof to), 0);
        QElapsedTimer clock;
        clock.start();
        // Each failed accept is one contact; spinning would make thousands in this time.
        QTest::qWait(400);
        lateAttempts = attempts;
        EXPECT_GE(attempts, 1);
        EXPECT_LE(attempts, int(clock.elapsed() / 50) + 2);
        EXPECT_EQ(server.LastError(), 10024);
        EXPECT_EQ(server.ConnectionCount(), 0);
    }

    RawTcp::boundReceives(client.fd());
    const QByteArray reply = RawTcp::runAside([&client] {
        RawTcp::sendAll(client, "0000         4body");
        return RawTcp::receiveExactly(client, 16);
    });
    EXPECT_EQ(reply, QByteArray("OK") + QByteArray(14, ' '));
    std::lock_guard guard(lock);
    EXPECT_EQ(delivered, QByteArray("body"));
    EXPECT_GT(attempts, lateAttempts);
}
