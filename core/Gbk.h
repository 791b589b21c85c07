#pragma once

#include <QByteArray>
#include <QString>

// The one place where text crosses between Unicode (widgets) and GBK (wire and files).
namespace Gbk {

// Unicode to GBK bytes. Characters GBK cannot hold become '?', and so do unpaired surrogates;
// invisible formatting characters (U+200B to U+200F, variation selectors ...) are left out.
QByteArray encode(const QString &text);

// GBK bytes to Unicode. Invalid sequences become U+FFFD; never fails.
QString decode(const QByteArray &bytes);

// Length of the text in GBK bytes: a Chinese character counts two.
int byteLength(const QString &text);

// The longest prefix of text whose GBK form fits in maxBytes, never splitting a character.
QString truncateToBytes(const QString &text, int maxBytes);

} // namespace Gbk
