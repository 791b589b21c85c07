#include "core/Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace Gbk {

QByteArray encode(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

QString decode(const QByteArray &bytes)
{
    QStringDecoder decoder("GBK");
    return decoder.decode(bytes);
}

int byteLength(const QString &text)
{
    return static_cast<int>(encode(text).size());
}

QString truncateToBytes(const QString &text, int maxBytes)
{
    if (maxBytes <= 0)
        return {};
    if (byteLength(text) <= maxBytes)
        return text;
    QString kept;
    int used = 0;
    // Walk by whole code points so a surrogate pair is never split.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype width = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString piece = text.mid(i, width);
        const int bytes = byteLength(piece);
        if (used + bytes > maxBytes)
            break;
        kept += piece;
        used += bytes;
        i += width;
    }
    return kept;
}

} // namespace Gbk
