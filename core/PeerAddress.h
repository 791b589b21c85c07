#pragma once

#include <QString>
#include <arpa/inet.h>

// Peer addresses as the datagram endpoint reads them: dotted IPv4 text in any form that
// inet_aton accepts (so 127.0.0.2 and 127.2 are the same host).
namespace PeerAddress {

// Whether a and b name the same IPv4 address; texts that are no address match only
// themselves, and an empty text matches nothing.
inline bool same(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    in_addr x{}, y{};
    if (::inet_aton(a.toLatin1().constData(), &x) != 0 && ::inet_aton(b.toLatin1().constData(), &y) != 0)
        return x.s_addr == y.s_addr;
    return a == b;
}

} // namespace PeerAddress
