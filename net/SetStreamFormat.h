#pragma once

#include <QByteArray>
#include <QtEndian>
#include <limits>

// The bytes of a set's stream (docs/file-sets.md, "The set's stream"), shared by its sender
// (SetStrm) and its receiver (SetStrmServ). All integers are big-endian.
//
//   header:      "TSET", version, set id (16), manifest length (4), the manifest
//   data record: index (4), 0x00, start (8), length (8), length bytes of the file from start
//   skip record: index (4), 0x01, reason length (2), the reason
//   end:         index 0xffffffff alone
// After the end the receiver answers with Acknowledgement once all it received is in place.
namespace SetStreamFormat {

inline constexpr char Magic[] = "TSET";
inline constexpr int MagicBytes = 4;
inline constexpr quint8 Version = 0x01;
inline constexpr int SetIdBytes = 16;
// Magic, version, set id and manifest length: what comes before the manifest.
inline constexpr int HeaderBytes = MagicBytes + 1 + SetIdBytes + 4;
inline constexpr int MaxManifestBytes = 16 << 20;
inline constexpr int MaxReasonBytes = 512;

inline constexpr quint32 EndIndex = 0xffffffff;
inline constexpr quint8 DataKind = 0x00;
inline constexpr quint8 SkipKind = 0x01;
inline constexpr int RecordLeadBytes = 5;   // index, kind
inline constexpr int DataFieldsBytes = 16;  // start, length
inline constexpr int ReasonLengthBytes = 2; // before a skip record's reason
inline constexpr int DataHeaderBytes = RecordLeadBytes + DataFieldsBytes;
inline constexpr int AcknowledgementBytes = 16;

inline QByteArray acknowledgement() { return QByteArray("OK") + QByteArray(14, ' '); }

template <typename Number> void append(QByteArray &out, Number value)
{
    char bytes[sizeof value];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof bytes);
}

template <typename Number> Number read(const char *bytes) { return qFromBigEndian<Number>(bytes); }

inline void appendHeader(QByteArray &out, const QByteArray &setId, const QByteArray &manifest)
{
    out.append(Magic, MagicBytes);
    append(out, Version);
    out.append(setId);
    append(out, quint32(manifest.size()));
    out.append(manifest);
}

inline void appendDataHeader(QByteArray &out, quint32 index, qint64 start, qint64 length)
{
    append(out, index);
    append(out, DataKind);
    append(out, quint64(start));
    append(out, quint64(length));
}

inline void appendSkip(QByteArray &out, quint32 index, const QByteArray &reason)
{
    append(out, index);
    append(out, SkipKind);
    append(out, quint16(reason.size()));
    out.append(reason);
}

inline void appendEnd(QByteArray &out) { append(out, EndIndex); }

// Whether a start and a length read from the wire are offsets a file can have.
inline bool validRange(quint64 start, quint64 length)
{
    constexpr auto largest = quint64(std::numeric_limits<qint64>::max());
    return start <= largest && length <= largest - start;
}

} // namespace SetStreamFormat
