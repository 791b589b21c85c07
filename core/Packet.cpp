#include "core/Packet.h"

#include "core/Gbk.h"
#include "net/TZnUDP.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

int Packet::bufferSize(char type)
{
    return (type == FriendRequest || type == FriendAccept) ? ShortBufferSize : BufferSize;
}

QByteArray Packet::build(char type, const QString &text, Gbk::Charset charset)
{
    return type + Gbk::encode(Gbk::truncateToBytes(text, bufferSize(type) - 1, charset), charset);
}

QByteArray Packet::message(const QString &text, Gbk::Charset charset) { return build(Message, text, charset); }

QByteArray Packet::friendRequest(const QString &ownNickname) { return build(FriendRequest, ownNickname); }

QByteArray Packet::fileAccept() { return QByteArray(1, FileAccept); }

QByteArray Packet::friendAccept(const QString &ownNickname) { return build(FriendAccept, ownNickname); }

QByteArray Packet::fileOffer(qint64 size, const QString &fileName, const QString &note)
{
    return build(FileOffer, QString::number(size) + u"Byte "_s + fileName + u" [备注："_s + note + u"]"_s);
}

QByteArray Packet::autoReply(const QString &caption, Gbk::Charset charset)
{
    return build(AutoReply, caption, charset);
}

QByteArray Packet::progress(qint64 position) { return build(Progress, QString::number(position)); }

void Packet::send(TZnUDP &endpoint, const QString &ip, const QByteArray &packet)
{
    std::array<char, BufferSize> buffer{};
    const int capacity = packet.isEmpty() ? BufferSize : bufferSize(packet.at(0));
    const int length = int(std::min<qsizetype>(packet.size(), capacity));
    std::memcpy(buffer.data(), packet.constData(), size_t(length));
    endpoint.RemoteHost = ip;
    if (endpoint.OnSeal) {
        const QByteArray datagram(buffer.data(), length);
        const std::optional<QByteArray> out = endpoint.OnSeal(ip, datagram);
        if (!out)
            return;
        if (*out != datagram)
            return endpoint.SendDatagram(*out, int(out->size()));
    }
    endpoint.SendDatagram(QByteArray(buffer.data(), capacity), length);
}
