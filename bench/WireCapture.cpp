#include "bench/WireCapture.h"

#include "bench/PacketSocket.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int DatagramPort = 2928;
constexpr int ReceiveBuffer = 32 << 20;
// A bridge port may hand up segments of up to 64 KiB at once (segmentation offload).
constexpr int LargestFrame = 65536 + 256;

} // namespace

WireCapture::WireCapture(const QStringList &interfaces, QObject *parent) : QObject(parent)
{
    for (const QString &name : interfaces)
        if (const unsigned index = ::if_nametoindex(name.toLocal8Bit().constData()); index != 0)
            indexes_ << int(index);
    fd_ = openIncomingPacketSocket(ReceiveBuffer);
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &WireCapture::readAll);
}

WireCapture::~WireCapture()
{
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void WireCapture::readAll()
{
    std::vector<unsigned char> frame(LargestFrame);
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n
            = ::recvfrom(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0)
            return;
        if (!indexes_.contains(from.sll_ifindex) || from.sll_pkttype == PACKET_OUTGOING
            || from.sll_protocol != htons(ETH_P_IP))
            continue;
        take(frame.data(), long(n));
    }
}

void WireCapture::take(const unsigned char *ip, long length)
{
    if (length < 20 || (ip[0] >> 4) != 4)
        return;
    if (kept_.size() + length > MaxKept) {
        overflowed_ = true;
    } else {
        // A separator that no marker contains, so that no match spans two packets.
        kept_.append(reinterpret_cast<const char *>(ip), length).append('\0');
    }
    const int headerLength = (ip[0] & 0x0F) * 4;
    if (ip[9] == IPPROTO_UDP && length > headerLength + 8) {
        const unsigned char *udp = ip + headerLength;
        if (((udp[2] << 8) | udp[3]) == DatagramPort)
            ++datagrams_[char(udp[8])];
    } else if (ip[9] == IPPROTO_TCP && length >= headerLength + 20) {
        const unsigned char *tcp = ip + headerLength;
        const int tcpHeader = (tcp[12] >> 4) * 4;
        const qint64 payload = std::max<qint64>(0, length - headerLength - tcpHeader);
        tcpBytes_[(tcp[0] << 8) | tcp[1]] += payload;
        tcpBytes_[(tcp[2] << 8) | tcp[3]] += payload;
    }
}

int WireCapture::datagrams(char type) const { return datagrams_.value(type); }

qint64 WireCapture::tcpBytes(int port) const { return tcpBytes_.value(port); }

bool WireCapture::lost() const
{
    tpacket_stats stats{};
    socklen_t length = sizeof stats;
    if (fd_ >= 0 && ::getsockopt(fd_, SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0)
        drops_ += int(stats.tp_drops); // reading the statistics resets them
    return drops_ > 0 || overflowed_;
}
