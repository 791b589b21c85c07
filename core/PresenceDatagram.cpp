#include "core/PresenceDatagram.h"

#include "core/Gbk.h"

#include <algorithm>

namespace {

bool isKnownKind(char c)
{
    using Kind = PresenceDatagram::Kind;
    return c == char(Kind::Hello) || c == char(Kind::Answer) || c == char(Kind::KeepAlive)
        || c == char(Kind::Goodbye);
}

// The first maxBytes of a GBK text, never ending in the middle of a two-byte character.
QByteArray cutGbk(const QByteArray &bytes, int maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes;
    int end = 0;
    for (int i = 0; i < maxBytes;) {
        const int width = quint8(bytes.at(i)) >= 0x81 ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
        end = i;
    }
    return bytes.left(end);
}

} // namespace

bool PresenceDatagram::isValidId(const QByteArray &id)
{
    return id.size() == IdSize && std::any_of(id.begin(), id.end(), [](char c) { return c != 0; });
}

QByteArray PresenceDatagram::build() const
{
    if (!isValidId(id))
        return {};
    QByteArray out;
    out.reserve(FixedSize + MaxNicknameBytes);
    out.append(TypeDigit).append(char(Version)).append(char(kind)).append(id);
    if (kind == Kind::Goodbye)
        return out;
    const QByteArray name = cutGbk(nickname, MaxNicknameBytes);
    quint16 flags = capabilities;
    if (publicKey.size() != PublicKeySize)
        flags &= quint16(~(CapabilitySealed | CapabilityFileSets));
    out.append(char(statusMode)).append(char(flags >> 8)).append(char(flags & 0xFF));
    out.append(char(name.size())).append(name);
    if (flags & CapabilitySealed)
        out.append(publicKey);
    return out;
}

std::optional<PresenceDatagram> PresenceDatagram::parse(const QByteArray &datagram)
{
    if (datagram.size() < GoodbyeSize || datagram.size() > MaxDatagramSize || datagram.at(0) != TypeDigit
        || quint8(datagram.at(1)) != Version || !isKnownKind(datagram.at(2)))
        return std::nullopt;
    PresenceDatagram result;
    result.kind = Kind(datagram.at(2));
    result.id = datagram.mid(HeaderSize, IdSize);
    if (!isValidId(result.id))
        return std::nullopt;
    if (result.kind == Kind::Goodbye)
        return result;
    if (datagram.size() < FixedSize)
        return std::nullopt;
    const auto byteAt = [&](int i) { return quint8(datagram.at(i)); };
    result.statusMode = byteAt(GoodbyeSize);
    result.capabilities = quint16((byteAt(GoodbyeSize + 1) << 8) | byteAt(GoodbyeSize + 2))
        & KnownCapabilities;
    const int length = byteAt(GoodbyeSize + 3);
    if (length > MaxNicknameBytes || datagram.size() < FixedSize + length)
        return std::nullopt;
    result.nickname = datagram.mid(FixedSize, length);
    // The extension area: what a known flag announces, in the order of the flags' bits.
    const int keyAt = FixedSize + length;
    if (result.supportsSealing()) {
        if (datagram.size() >= keyAt + PublicKeySize)
            result.publicKey = datagram.mid(keyAt, PublicKeySize);
        else
            result.capabilities &= quint16(~CapabilitySealed);
    }
    // File sets travel sealed: without sealing the flag means nothing.
    if (!result.supportsSealing())
        result.capabilities &= quint16(~CapabilityFileSets);
    return result;
}

QString PresenceDatagram::displayNickname() const
{
    QString text = Gbk::decode(nickname);
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = u'?';
    return text;
}
