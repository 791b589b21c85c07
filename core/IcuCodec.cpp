#include "core/IcuCodec.h"

#include "core/GbkTableCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace Gbk::IcuCodec {

namespace {

using GbkTableCodec::widthAt;

// text with every unpaired surrogate replaced by '?'. The codec would hold a high surrogate at
// the end back, waiting for its partner, and drop it; as '?' every unit counts wherever it stands.
QString withoutUnpairedSurrogates(const QString &text)
{
    QString result = text;
    for (qsizetype i = 0; i < result.size(); i += widthAt(result, i))
        if (result.at(i).isSurrogate() && widthAt(result, i) == 1)
            result[i] = u'?';
    return result;
}

// The calling thread's encoder or decoder for a charset, created on its first use and reset
// before each use. Creating a codec looks the converter up anew, which costs more than most
// texts' conversion; each thread has its own, because a codec keeps state between calls. Each
// one is made only by a thread that uses its charset.
template <typename Codec> Codec &threadCodec(Charset charset)
{
    if (charset == Charset::Gb18030) {
        thread_local Codec gb18030("GB18030");
        gb18030.resetState();
        return gb18030;
    }
    thread_local Codec gbk("GBK");
    gbk.resetState();
    return gbk;
}

QStringEncoder &threadEncoder(Charset charset) { return threadCodec<QStringEncoder>(charset); }

QStringDecoder &threadDecoder(Charset charset) { return threadCodec<QStringDecoder>(charset); }

} // namespace

QByteArray encode(const QString &text, Charset charset)
{
    return threadEncoder(charset).encode(withoutUnpairedSurrogates(text));
}

QString decode(const QByteArray &bytes, Charset charset)
{
    // The codec holds a lead byte at the end back, waiting for its second byte, and drops it.
    // A NUL, which is never a second byte, makes it report that lead byte as U+FFFD; the NUL's
    // own character is taken off again.
    QByteArray terminated = bytes;
    terminated.append('\0');
    QString text = threadDecoder(charset).decode(terminated);
    text.chop(1);
    return text;
}

int byteLength(const QString &text, Charset charset)
{
    return static_cast<int>(IcuCodec::encode(text, charset).size());
}

QString truncateToBytes(const QString &text, int maxBytes, Charset charset)
{
    if (maxBytes <= 0)
        return {};
    const QString clean = withoutUnpairedSurrogates(text);
    QStringEncoder &encoder = threadEncoder(charset);
    if (QByteArray(encoder.encode(clean)).size() <= maxBytes)
        return text;
    // Walk by whole code points so a surrogate pair is never split. Every piece is a complete
    // character, so one encoder serves them all.
    int used = 0;
    qsizetype i = 0;
    while (i < clean.size()) {
        const qsizetype width = widthAt(clean, i);
        const auto bytes = static_cast<int>(
            QByteArray(encoder.encode(QStringView(clean).mid(i, width))).size());
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        i += width;
    }
    return text.left(i);
}

} // namespace Gbk::IcuCodec
