#include "core/Gbk.h"

#include "core/GbkTableCodec.h"
#include "core/IcuCodec.h"

// GBK is converted with the tables built into the program, which give what Qt's "GBK" codec
// gives without loading the converter library's code and data into every running copy; text
// converts at start (myinfo.ini). GB18030 goes through Qt's codec, made only on a thread that
// meets a peer announcing it.
namespace Gbk {

QByteArray encode(const QString &text) { return encode(text, Charset::Gbk); }

QByteArray encode(const QString &text, Charset charset)
{
    if (charset == Charset::Gbk)
        return GbkTableCodec::encode(builtInGbkTables(), text);
    return IcuCodec::encode(text, charset);
}

QString decode(const QByteArray &bytes) { return decode(bytes, Charset::Gbk); }

QString decode(const QByteArray &bytes, Charset charset)
{
    if (charset == Charset::Gbk)
        return GbkTableCodec::decode(builtInGbkTables(), bytes);
    QString text = IcuCodec::decode(bytes, charset);
    // GBK cannot carry the controls that turn the writing direction; GB18030 can, and a
    // peer's text must not reorder what is shown around it.
    text.removeIf([](QChar c) {
        return (c.unicode() >= 0x202A && c.unicode() <= 0x202E) || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
    });
    return text;
}

int byteLength(const QString &text) { return byteLength(text, Charset::Gbk); }

int byteLength(const QString &text, Charset charset)
{
    if (charset == Charset::Gbk)
        return GbkTableCodec::byteLength(builtInGbkTables(), text);
    return IcuCodec::byteLength(text, charset);
}

QString truncateToBytes(const QString &text, int maxBytes)
{
    return truncateToBytes(text, maxBytes, Charset::Gbk);
}

QString truncateToBytes(const QString &text, int maxBytes, Charset charset)
{
    if (charset == Charset::Gbk)
        return GbkTableCodec::truncateToBytes(builtInGbkTables(), text, maxBytes);
    return IcuCodec::truncateToBytes(text, maxBytes, charset);
}

} // namespace Gbk
