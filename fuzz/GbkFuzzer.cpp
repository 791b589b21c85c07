// Fuzz target: GBK decoding and the byte-limit helpers. The input is read twice: as GBK bytes
// (what arrives from the network and from files) and as UTF-16 code units (what a widget may
// hold, lone surrogates included); its first byte also gives the byte limit.
#include "core/Gbk.h"
#include "fuzz/FuzzSupport.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

namespace {

QString quoted(const QString &text)
{
    QString hex;
    for (QChar c : text)
        hex += u"%1 "_s.arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
    return u"[ "_s + hex + u"]"_s;
}

// Decoding never fails, and a line end after the bytes only adds a line end: nothing at the
// end is held back or dropped. Text decoded without a replacement character encodes back to
// the same bytes.
void checkDecode(const QByteArray &bytes)
{
    const QString text = Gbk::decode(bytes);
    require(Gbk::decode(bytes + "\n") == text + u"\n"_s,
            u"decoding depends on what follows: "_s + quoted(text));
    const QByteArray again = Gbk::encode(text);
    if (!text.contains(QChar::ReplacementCharacter))
        require(Gbk::decode(again) == text, u"decode(encode(decode(b))) != decode(b) for "_s + quoted(text));
}

// Encoding agrees with the byte-length helper and, like decoding, does not depend on what
// follows the text.
void checkEncode(const QString &text)
{
    const QByteArray bytes = Gbk::encode(text);
    require(Gbk::byteLength(text) == bytes.size(), u"byteLength differs from encode().size()"_s);
    require(Gbk::encode(text + u"\n"_s) == bytes + "\n",
            u"encoding depends on what follows: "_s + quoted(text));
}

// Width of a code point: two units for a surrogate pair, else one.
qsizetype widthAt(const QString &text, qsizetype i)
{
    return (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
}

// truncateToBytes gives the longest prefix, cut between code points, whose GBK form fits.
void checkTruncate(const QString &text, int maxBytes)
{
    const QString cut = Gbk::truncateToBytes(text, maxBytes);
    const QString context = u" (limit "_s + QString::number(maxBytes) + u", text "_s + quoted(text) + u")"_s;
    require(text.startsWith(cut), u"truncation is not a prefix"_s + context);
    require(Gbk::byteLength(cut) <= qMax(0, maxBytes), u"truncation does not fit the limit"_s + context);
    if (maxBytes <= 0) {
        require(cut.isEmpty(), u"truncation to no bytes left text"_s + context);
        return;
    }
    if (cut.size() == text.size())
        return;
    qsizetype boundary = 0;
    while (boundary < cut.size())
        boundary += widthAt(text, boundary);
    require(boundary == cut.size(), u"truncation splits a surrogate pair"_s + context);
    const QString longer = text.left(cut.size() + widthAt(text, cut.size()));
    require(Gbk::byteLength(longer) > maxBytes, u"truncation is shorter than it needs to be"_s + context);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::input(data, size);
    checkDecode(bytes);

    if (size < 1)
        return 0;
    const int maxBytes = int(data[0]) - 8; // a few negative limits too
    const QByteArray units = bytes.mid(1);
    QString text(units.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), units.constData(), size_t(text.size()) * sizeof(QChar));
    checkEncode(text);
    checkTruncate(text, maxBytes);
    checkTruncate(Gbk::decode(units), maxBytes);
    return 0;
}
