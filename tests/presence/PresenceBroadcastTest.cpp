#include "core/PresenceId.h"
#include "core/PresenceService.h"
#include "net/TZnUDP.h"
#include "tests/support/RawUdpPeer.h"

#include <QNetworkInterface>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// An interface eth0 with the address 10.77.0.1/24 (broadcast 10.77.0.255), made only
// where the test runs as root in a network namespace of its own (nothing but lo in it), so a
// machine's own interfaces are never touched. Removed again at the end.
class DummyInterface {
public:
    DummyInterface()
    {
        if (::geteuid() != 0 || QNetworkInterface::allInterfaces().size() != 1)
            return;
        // A veth pair, whose other end eth1 has no address: dummy links need a kernel module.
        made_ = ip({u"link"_s, u"add"_s, u"eth0"_s, u"type"_s, u"veth"_s, u"peer"_s, u"name"_s, u"eth1"_s});
        made_ = made_ && ip({u"addr"_s, u"add"_s, u"10.77.0.1/24"_s, u"brd"_s, u"+"_s, u"dev"_s, u"eth0"_s})
            && ip({u"link"_s, u"set"_s, u"eth1"_s, u"up"_s}) && ip({u"link"_s, u"set"_s, u"eth0"_s, u"up"_s});
    }
    ~DummyInterface()
    {
        if (made_)
            ip({u"link"_s, u"del"_s, u"eth0"_s});
    }
    bool made() const { return made_; }

private:
    static bool ip(const QStringList &arguments)
    {
        QProcess process;
        process.start(u"ip"_s, arguments);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }
    bool made_ = false;
};

} // namespace

// With a usable interface and no chosen list, the hello goes to the interface's directed
// broadcast address, and the diagnostics show what was used.
TEST(PresenceBroadcast, HelloGoesToTheDirectedBroadcastAddressOfEachInterface)
{
    DummyInterface eth0;
    if (!eth0.made())
        GTEST_SKIP() << "needs root in a network namespace of its own (scripts/isolated.sh)";
    RawUdpPeer listener(u"10.77.0.255"_s); // a socket bound to the broadcast address hears broadcasts
    ASSERT_TRUE(listener.isBound());
    TZnUDP endpoint;
    endpoint.BindAddress = u"10.77.0.1"_s;
    endpoint.RemotePort = 2928;
    endpoint.SetLocalPort(2928);
    PresenceService service(endpoint, PresenceId::generate());
    service.setOwnInfo(u"广播"_s, 0, 0);
    service.start();
    ASSERT_TRUE(listener.waitForDatagrams(1));
    const auto hello = PresenceDatagram::parse(listener.received.at(0));
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->kind, PresenceDatagram::Kind::Hello);
    EXPECT_EQ(hello->id, service.ownId());
    ASSERT_EQ(service.interfaces().size(), 1);
    const PresenceInterface used = service.interfaces().at(0);
    EXPECT_EQ(used.name, u"eth0"_s);
    EXPECT_EQ(used.broadcast, u"10.77.0.255"_s);
    EXPECT_TRUE(used.lastHelloSent.isValid());
    EXPECT_TRUE(service.endpointBound());

    // Chosen interfaces replace the default: choosing another name leaves eth0 unused.
    service.setChosenInterfaces({u"wlan9"_s});
    EXPECT_TRUE(service.interfaces().isEmpty());
    // Broadcasting stays allowed only for presence's own sends: a plain send to the broadcast
    // address is refused, so the next datagram the listener gets is the hello that choosing
    // eth0 again sends.
    endpoint.RemoteHost = u"10.77.0.255"_s;
    endpoint.SendDatagram(QByteArray("1x"), 2);
    service.setChosenInterfaces({});
    ASSERT_TRUE(listener.waitForDatagrams(2));
    EXPECT_EQ(listener.received.at(1).left(3), QByteArray("8\x01H"));
}

TEST(PresenceBroadcast, VirtualInterfacesAreSkippedByName)
{
    for (const char *name : {"docker0", "br-1a2b", "veth9", "virbr0", "tun0", "tap1", "wg0", "lo"})
        EXPECT_TRUE(PresenceService::isVirtualInterface(QString::fromLatin1(name))) << name;
    for (const char *name : {"eth0", "enp3s0", "wlan0", "wlp2s0", "bridge"})
        EXPECT_FALSE(PresenceService::isVirtualInterface(QString::fromLatin1(name))) << name;
}
