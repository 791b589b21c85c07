#include "net/Ipv4Interfaces.h"

#include <arpa/inet.h>
#include <bit>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>

namespace {

quint32 hostOrder(const sockaddr *address)
{
    return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
}

// getifaddrs gives no sign of whether the broadcast address was configured: without one it
// repeats the interface's own address there, and on a point-to-point link the slot holds
// the peer. Both then get the address with every host bit set.
Ipv4Address broadcastOf(const ifaddrs &entry, quint32 address, int prefixLength)
{
    const bool given = (entry.ifa_flags & IFF_POINTOPOINT) == 0 && entry.ifa_broadaddr != nullptr
        && entry.ifa_broadaddr->sa_family == AF_INET && hostOrder(entry.ifa_broadaddr) != address;
    if (given)
        return Ipv4Address(hostOrder(entry.ifa_broadaddr));
    const auto hostBits = quint32(quint64(0xffffffff) >> prefixLength); // prefixLength is 0 to 32
    return Ipv4Address(address | hostBits);
}

Ipv4Interface describe(const ifaddrs &entry)
{
    Ipv4Interface result;
    // Addresses carry their label ("eth0:1"); the interface is the name before the colon,
    // which no interface name may contain.
    result.name = QString::fromLatin1(entry.ifa_name).section(u':', 0, 0);
    const quint32 address = hostOrder(entry.ifa_addr);
    result.address = Ipv4Address(address);
    const quint32 mask = entry.ifa_netmask != nullptr ? hostOrder(entry.ifa_netmask) : ~quint32(0);
    result.prefixLength = std::countl_one(mask);
    result.broadcast = broadcastOf(entry, address, result.prefixLength);
    return result;
}

} // namespace

QList<Ipv4Interface> upIpv4Interfaces()
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs *)> owner(list, ::freeifaddrs);
    QList<Ipv4Interface> result;
    for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        result << describe(*entry);
    }
    return result;
}
