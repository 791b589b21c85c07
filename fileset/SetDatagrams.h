#pragma once

#include "fileset/Manifest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// The inner bytes of a sealed envelope of kind SetOffer (docs/file-sets.md; big-endian):
//   16  set id           1  name encoding       4  entry count       4  file count
//    8  total bytes     32  manifest hash       2  note length, then the note
//    1  top-name count, then per name 1 byte of length and the name
// The counts, total and hash bind the manifest that comes with the files; the note and the top
// names only help the person decide.
struct SetOffer {
    static constexpr int SetIdSize = 16;
    static constexpr int MaxNoteBytes = 240;
    static constexpr int MaxTopNames = 5;
    static constexpr int MaxTopNameBytes = 100;

    QByteArray setId;
    NameEncoding encoding = NameEncoding::Utf8;
    quint32 entryCount = 0;
    quint32 fileCount = 0;
    qint64 totalBytes = 0;
    QByteArray manifestHash;
    QString note;
    QStringList topNames;

    // The offer of manifest: its counts and hash, its first top-level names (each cut to
    // MaxTopNameBytes) and the note cut to MaxNoteBytes, both on character boundaries.
    static SetOffer describe(const QByteArray &setId, const Manifest &manifest, const QString &note);

    QByteArray encode() const;
    // Nothing for bytes that do not keep the layout and its bounds to the last byte, or a text
    // that does not decode cleanly, or a top name that is no plain name.
    static std::optional<SetOffer> parse(QByteArrayView inner);

    // Whether manifest is the one offered: encoding, counts, total and hash.
    bool matches(const Manifest &manifest) const;
};

// The inner bytes of a sealed envelope of kind SetAnswer (big-endian):
//   16  set id           1  action
// and for Send (receiver to sender):
//    4  resume entry, NoResume for none     8  resume offset      32  resume hash (zeros for none)
//    2  range count, 1 to MaxRanges, then per range its first entry index (4) and entry count (4)
// The ranges ascend and do not overlap; the resume entry lies in one of them.
struct SetAnswer {
    enum class Action : quint8 { Send = 1, Cancelled = 2, Paused = 3 };
    static constexpr quint32 NoResume = 0xffffffff;
    static constexpr int MaxRanges = 100;
    static constexpr int ResumeHashSize = 32;

    QByteArray setId;
    Action action = Action::Send;
    quint32 resumeIndex = NoResume;
    qint64 resumeOffset = 0;
    QByteArray resumeHash; // ResumeHashSize bytes, or empty for no resume entry
    QList<QPair<quint32, quint32>> ranges; // first index, count

    QByteArray encode() const;
    static std::optional<SetAnswer> parse(QByteArrayView inner);

    // The ranges of an ascending list of entry indices, at most MaxRanges: those of the first
    // indices. A receiver asks for the rest once these have arrived.
    static QList<QPair<quint32, quint32>> rangesOf(const QList<quint32> &wanted);
};

// The resume hash of a file: BLAKE2b-256 of its last min(offset, 1 MiB) bytes before offset.
// Empty when the file cannot be read (or is a link), or is shorter than offset.
QByteArray resumeHash(const QString &path, qint64 offset);

// A new random set id of SetOffer::SetIdSize bytes.
QByteArray newSetId();
