#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

// The encoding of the names and the note of a file set: UTF-8, or GB18030 to a peer that
// announced it can read it.
enum class NameEncoding : quint8 { Utf8 = 0, Gb18030 = 1 };

// Names and notes of a file set between text and bytes, and shown to the person.
namespace NameText {

// text in the encoding. Unpaired surrogates do not encode cleanly: decode() refuses the result.
QByteArray encode(const QString &text, NameEncoding encoding);

// The text of bytes that decode cleanly: no invalid sequence, and encoding the text again
// gives the same bytes. Nothing otherwise.
std::optional<QString> decode(QByteArrayView bytes, NameEncoding encoding);

// The longest prefix of text whose bytes fit in maxBytes, never splitting a character.
QString truncated(const QString &text, int maxBytes, NameEncoding encoding);

// Length of text in the local file-name encoding (UTF-8).
int localBytes(QStringView text);

// A peer's text as it may be shown inside a sentence: invisible and control characters
// (line ends, direction marks, ...) become U+FFFD, and past maxChars it is cut with "…".
QString shown(QStringView text, int maxChars = 60);

// The same for bytes that did not decode: invalid sequences show as U+FFFD.
QString shownBytes(QByteArrayView bytes, NameEncoding encoding, int maxChars = 60);

} // namespace NameText
