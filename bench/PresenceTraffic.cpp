#include "bench/PresenceTraffic.h"

#include "bench/PacketSocket.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int PresencePort = 2928;
constexpr int ReceiveBuffer = 8 << 20; // a start of fifty peers sends thousands at once
constexpr int UdpHeader = 8;

} // namespace

PresenceTraffic::PresenceTraffic(const QStringList &interfaces, QObject *parent) : QObject(parent)
{
    for (const QString &name : interfaces)
        if (const unsigned index = ::if_nametoindex(name.toLocal8Bit().constData()); index != 0)
            names_.insert(int(index), name);
    fd_ = openIncomingPacketSocket(ReceiveBuffer);
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PresenceTraffic::readAll);
}

PresenceTraffic::~PresenceTraffic()
{
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void PresenceTraffic::readAll()
{
    unsigned char frame[2048];
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd_, frame, sizeof frame, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0)
            return;
        const auto name = names_.constFind(from.sll_ifindex);
        if (name == names_.cend() || from.sll_pkttype == PACKET_OUTGOING || from.sll_protocol != htons(ETH_P_IP))
            continue;
        if (const char kind = presenceKind(frame, long(n))) {
            ++counts_[*name][kind];
            emit datagram(*name, kind);
        }
    }
}

// The kind letter of an IPv4 packet carrying a presence datagram, else 0 ('?' for a presence
// datagram too short to have one).
char PresenceTraffic::presenceKind(const unsigned char *ip, long length)
{
    if (length < 20 || (ip[0] >> 4) != 4 || ip[9] != IPPROTO_UDP)
        return 0;
    const int headerLength = (ip[0] & 0x0F) * 4;
    const bool firstFragment = ((ip[6] & 0x1F) | ip[7]) == 0;
    if (!firstFragment || length < headerLength + UdpHeader + 1)
        return 0;
    const unsigned char *udp = ip + headerLength;
    if (((udp[2] << 8) | udp[3]) != PresencePort || udp[UdpHeader] != '8')
        return 0;
    return length >= headerLength + UdpHeader + 3 ? char(udp[UdpHeader + 2]) : '?';
}

int PresenceTraffic::count(const QString &interface, char kind) const
{
    const QHash<char, int> kinds = counts_.value(interface);
    if (kind != 0)
        return kinds.value(kind);
    int sum = 0;
    for (const int n : kinds)
        sum += n;
    return sum;
}

int PresenceTraffic::total(char kind) const
{
    int sum = 0;
    for (auto i = counts_.cbegin(); i != counts_.cend(); ++i)
        sum += count(i.key(), kind);
    return sum;
}

int PresenceTraffic::drops() const
{
    tpacket_stats stats{};
    socklen_t length = sizeof stats;
    if (fd_ >= 0 && ::getsockopt(fd_, SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0)
        drops_ += int(stats.tp_drops); // reading the statistics resets them
    return drops_;
}

void PresenceTraffic::reset() { counts_.clear(); }
