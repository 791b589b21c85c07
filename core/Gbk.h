#pragma once

#include <QByteArray>
#include <QString>

// The one place where text crosses between Unicode (widgets) and GBK (wire and files).
namespace Gbk {

// How message text goes on the wire to one peer: GBK, as to every peer of the base protocol,
// or GB18030 to a peer that announced it can read it (the same bytes for every GBK character,
// four bytes for anything else, such as emoji).
enum class Charset { Gbk, Gb18030 };

// Unicode to GBK bytes. Characters GBK cannot hold become '?', and so do unpaired surrogates;
// invisible formatting characters (U+200B to U+200F, variation selectors ...) are left out.
QByteArray encode(const QString &text);

// GBK bytes to Unicode. Invalid sequences become U+FFFD; never fails.
QString decode(const QByteArray &bytes);

// Length of the text in GBK bytes: a Chinese character counts two.
int byteLength(const QString &text);

// The longest prefix of text whose GBK form fits in maxBytes, never splitting a character.
QString truncateToBytes(const QString &text, int maxBytes);

// The same in a charset: with Charset::Gbk exactly the functions above. GB18030 holds every
// character, so nothing becomes '?' but unpaired surrogates, and invisible formatting
// characters (such as the joiners inside an emoji) are kept.
QByteArray encode(const QString &text, Charset charset);
QString decode(const QByteArray &bytes, Charset charset);
int byteLength(const QString &text, Charset charset);
QString truncateToBytes(const QString &text, int maxBytes, Charset charset);

} // namespace Gbk
