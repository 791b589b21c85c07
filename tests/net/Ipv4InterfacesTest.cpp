#include "net/Ipv4Interfaces.h"

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The interface's flags as the kernel reports them to an ioctl; 0 when there is no such one.
short linkFlags(const QString &name)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    const QByteArray latin = name.toLatin1();
    std::copy_n(latin.constData(), std::min<qsizetype>(latin.size(), IFNAMSIZ - 1), request.ifr_name);
    const bool read = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (fd >= 0)
        ::close(fd);
    return read ? request.ifr_flags : 0;
}

int linkCount()
{
    struct if_nameindex *links = ::if_nameindex();
    int count = 0;
    for (const struct if_nameindex *l = links; l != nullptr && l->if_index != 0; ++l)
        ++count;
    ::if_freenameindex(links);
    return count;
}

bool ip(const QString &arguments)
{
    QProcess process;
    process.start(u"ip"_s, arguments.split(u' '));
    return process.waitForFinished(10'000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// A veth pair tnv0/tnv1, made only as root in a network namespace holding nothing but lo (as
// scripts/isolated.sh gives), so that a machine's own interfaces are never touched. tnv0 is
// up with five addresses; tnv1 stays down with one. Removed again at the end.
class TestLinks {
public:
    TestLinks()
    {
        if (::geteuid() != 0 || linkCount() != 1)
            return;
        made_ = ip(u"link add tnv0 type veth peer name tnv1"_s);
        made_ = made_ && ip(u"addr add 10.61.0.1/24 brd + dev tnv0"_s) && ip(u"addr add 10.62.0.1/16 dev tnv0"_s)
            && ip(u"addr add 10.63.0.1/24 dev tnv0 label tnv0:a"_s)
            && ip(u"addr add 10.64.0.1/24 brd 10.64.0.77 dev tnv0"_s) && ip(u"addr add 10.66.0.1/32 dev tnv0"_s)
            && ip(u"addr add 10.65.0.1/24 brd + dev tnv1"_s) && ip(u"link set tnv0 up"_s);
    }
    ~TestLinks()
    {
        if (made_)
            ip(u"link del tnv0"_s);
    }
    TestLinks(const TestLinks &) = delete;
    TestLinks &operator=(const TestLinks &) = delete;
    bool made() const { return made_; }

private:
    bool made_ = false;
};

QString describe(const Ipv4Interface &i)
{
    return i.name + u' ' + i.address.toString() + u'/' + QString::number(i.prefixLength) + u" brd "_s
        + i.broadcast.toString();
}

} // namespace

// Whatever this machine (or the test's namespace) has: only up interfaces that are not the
// loopback one, each address with a prefix, its broadcast address inside its subnet.
TEST(Ipv4Interfaces, TheMachinesListHasOnlyUpNonLoopbackInterfacesWithValidPrefixes)
{
    const QList<Ipv4Interface> all = upIpv4Interfaces();
    for (const Ipv4Interface &i : all) {
        SCOPED_TRACE(describe(i).toStdString());
        EXPECT_FALSE(i.name.isEmpty());
        EXPECT_FALSE(i.name.contains(u':'));
        const short flags = linkFlags(i.name);
        EXPECT_TRUE(flags & IFF_UP);
        EXPECT_FALSE(flags & IFF_LOOPBACK);
        EXPECT_FALSE(i.address.isNull());
        EXPECT_GE(i.prefixLength, 0);
        EXPECT_LE(i.prefixLength, 32);
        EXPECT_FALSE(i.broadcast.isNull());
        EXPECT_TRUE(i.broadcast.isInSubnet(i.address, i.prefixLength));
    }
    if (linkCount() == 1) { // a namespace with nothing but lo: nothing to list
        EXPECT_TRUE(all.isEmpty());
    }
}

TEST(Ipv4Interfaces, EveryAddressOfAnUpInterfaceIsListedUnderItsOwnName)
{
    TestLinks links;
    if (!links.made())
        GTEST_SKIP() << "needs root in a network namespace with only lo (scripts/isolated.sh)";
    QStringList seen;
    for (const Ipv4Interface &i : upIpv4Interfaces())
        seen << describe(i);
    seen.sort();
    // The one without a broadcast address gets the highest address of its subnet; the
    // labelled one is listed under its interface; the down interface is left out.
    EXPECT_EQ(seen, QStringList({u"tnv0 10.61.0.1/24 brd 10.61.0.255"_s, u"tnv0 10.62.0.1/16 brd 10.62.255.255"_s,
                                 u"tnv0 10.63.0.1/24 brd 10.63.0.255"_s, u"tnv0 10.64.0.1/24 brd 10.64.0.77"_s,
                                 u"tnv0 10.66.0.1/32 brd 10.66.0.1"_s}));
}
