#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// An IPv4 address as the database keeps it: a 32-bit number, stored signed so that it takes
// four bytes in a row.
namespace AddressNumber {

// The number of a dotted address ("192.168.1.5"); nothing for empty or malformed text.
inline std::optional<qint64> fromText(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return {};
    quint32 value = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return {};
        uint byte = 0;
        for (QChar c : part) {
            if (c < u'0' || c > u'9')
                return {};
            byte = byte * 10 + uint(c.unicode() - u'0');
        }
        if (byte > 255)
            return {};
        value = (value << 8) | byte;
    }
    return qint64(qint32(value));
}

inline QString toText(qint64 stored)
{
    const quint32 value = quint32(qint32(stored));
    return QString::number(value >> 24) + u'.' + QString::number((value >> 16) & 0xff) + u'.'
        + QString::number((value >> 8) & 0xff) + u'.' + QString::number(value & 0xff);
}

} // namespace AddressNumber
