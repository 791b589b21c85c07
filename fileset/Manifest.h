#pragma once

#include "fileset/NameText.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// One file or folder of a file set.
struct ManifestEntry {
    enum class Kind : quint8 { Folder = 0, File = 1 };
    Kind kind = Kind::File;
    QString path; // relative, "/" between names
    qint64 size = 0; // 0 for a folder
    qint64 modifiedMs = 0; // since 1970 UTC

    bool isFolder() const { return kind == Kind::Folder; }
    bool operator==(const ManifestEntry &other) const = default;
};

// The list of a file set's entries, as docs/file-sets.md lays it out (integers big-endian):
//   1  version, 0x01
//   1  name encoding
//   4  entry count, 1 to MaxEntries
//   8  total bytes of the files
//   then per entry: kind (1), path length (2) and path, size (8), modification time (8, signed)
// A folder comes before everything inside it. The receiver checks every path before it makes
// anything, since the paths come from the peer.
class Manifest {
public:
    static constexpr quint8 Version = 0x01;
    static constexpr int HeaderSize = 14;
    static constexpr int MaxEntries = 100000;
    static constexpr int MaxPathBytes = 4096;
    static constexpr int MaxNameBytes = 255; // per name, in UTF-8 (the local file-name encoding)
    static constexpr qint64 MaxSize = qint64(1) << 62; // of a file, and of the total
    static constexpr int HashSize = 32;

    NameEncoding encoding = NameEncoding::Utf8;
    QList<ManifestEntry> entries;

    qint64 totalBytes() const;
    int fileCount() const;

    QByteArray encode() const;
    // BLAKE2b-256 of encode(): what the offer binds.
    QByteArray hash() const;
    static QByteArray hashOf(QByteArrayView bytes);

    // The manifest in bytes, when it parses to its end and every entry keeps the rules of
    // docs/file-sets.md (comparing with the offer is the caller's part). Otherwise nothing, and
    // refusal (when given) says why in a sentence for the person, the path shown safely.
    static std::optional<Manifest> parse(QByteArrayView bytes, QString *refusal);

    // Whether one relative path keeps the rules of a path: not empty, no leading "/", no "\",
    // no control character, no empty name, no "." or "..", every name at most MaxNameBytes in
    // UTF-8. Otherwise why (when given) says what is wrong, without the path.
    static bool isSafePath(const QString &path, QString *why);
};
