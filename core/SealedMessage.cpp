#include "core/SealedMessage.h"

#include <QtEndian>

namespace {

constexpr int PrefixSize = 8;

bool isMessageDatagram(const QByteArray &datagram)
{
    return !datagram.isEmpty() && datagram.size() <= SealedMessage::MaxDatagramSize
        && (datagram[0] == '1' || datagram[0] == '6');
}

} // namespace

QByteArray MessageId::bytes() const
{
    QByteArray out = prefix.left(PrefixSize).leftJustified(PrefixSize, '\0');
    char counterBytes[8];
    qToBigEndian(counter, counterBytes);
    out.append(counterBytes, 8);
    return out;
}

std::optional<MessageId> MessageId::parse(const QByteArray &bytes)
{
    if (bytes.size() != Size)
        return std::nullopt;
    MessageId id{bytes.left(PrefixSize), qFromBigEndian<quint64>(bytes.constData() + PrefixSize)};
    if (id.counter == 0)
        return std::nullopt;
    return id;
}

QByteArray SealedMessage::bytes() const
{
    QByteArray out = id.bytes();
    char sequenceBytes[4];
    qToBigEndian(sequence, sequenceBytes);
    out.append(sequenceBytes, 4);
    out.append(datagram);
    return out;
}

std::optional<SealedMessage> SealedMessage::parse(const QByteArray &bytes)
{
    if (bytes.size() <= HeaderSize)
        return std::nullopt;
    const std::optional<MessageId> id = MessageId::parse(bytes.left(MessageId::Size));
    const quint32 sequence = qFromBigEndian<quint32>(bytes.constData() + MessageId::Size);
    const QByteArray datagram = bytes.mid(HeaderSize);
    if (!id || sequence == 0 || !isMessageDatagram(datagram))
        return std::nullopt;
    return SealedMessage{*id, sequence, datagram};
}
