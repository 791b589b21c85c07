#pragma once

#include "core/GbkTables.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

// GBK conversions by table lookup, with the behaviour of the converter the tables were made
// from: every input gives the same characters and bytes as that converter did.
namespace Gbk::GbkTableCodec {

// Whether the code point at i is a surrogate pair (two units) or a single unit, which may be
// an unpaired surrogate.
inline qsizetype widthAt(QStringView text, qsizetype i)
{
    return (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
}

// The table value (see GbkTables) of the code point at i, whose width is given; an unpaired
// surrogate has the value of '?'.
std::uint16_t valueAt(const GbkTables &tables, QStringView text, qsizetype i, qsizetype width);

// Number of bytes a table value stands for.
inline int lengthOf(std::uint16_t value)
{
    return value == GbkTables::NoBytes ? 0 : (value <= 0xFF ? 1 : 2);
}

QByteArray encode(const GbkTables &tables, QStringView text);
QString decode(const GbkTables &tables, const QByteArray &bytes);
int byteLength(const GbkTables &tables, QStringView text);
QString truncateToBytes(const GbkTables &tables, const QString &text, int maxBytes);

} // namespace Gbk::GbkTableCodec
