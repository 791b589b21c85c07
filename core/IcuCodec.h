#pragma once

#include "core/Gbk.h"

#include <QByteArray>
#include <QString>

// Conversions through Qt's codecs for "GBK" and "GB18030" (the system's converter library).
// GB18030 text goes this way; the GBK tables compiled into the program are made from, and
// checked against, its "GBK" conversions.
namespace Gbk::IcuCodec {

// Unpaired surrogates become '?'; what the charset cannot hold becomes what the converter
// substitutes, and characters it leaves out stay out.
QByteArray encode(const QString &text, Charset charset);

// Invalid sequences become U+FFFD, a lead byte at the end included.
QString decode(const QByteArray &bytes, Charset charset);

int byteLength(const QString &text, Charset charset);

// The longest prefix of text whose bytes fit in maxBytes, cut between code points.
QString truncateToBytes(const QString &text, int maxBytes, Charset charset);

} // namespace Gbk::IcuCodec
