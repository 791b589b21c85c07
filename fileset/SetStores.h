#pragma once

#include "fileset/Manifest.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

// A set this peer offered: what the sender needs to serve a send or a resume later, after a
// restart too.
struct OutgoingSet {
    QByteArray setId;
    QString peerIp;
    QByteArray peerKey; // the key the offer was sealed to: only it may ask for the files
    qint64 createdMs = 0;
    QString note;
    Manifest manifest;
    QStringList localPaths; // per manifest entry
};

// A set this peer was offered and accepted: where it goes and what of it is in place.
struct IncomingSet {
    QByteArray setId;
    QString peerIp;
    QByteArray peerKey;
    qint64 createdMs = 0;
    QByteArray offer;                // the offer's inner bytes, as they came
    QString root;                    // the chosen folder
    QHash<QString, QString> topNames; // top-level names as placed (a clash gets "name (2)")
    QByteArray manifest;             // empty until the first stream brought it
};

// The sets in transit, one file (or folder) per set under one private folder of the data
// folder, written whole (mode 0600) whenever they change, and dropped when the set ended or
// after KeepMs. What the receiver finished is appended to a journal as it happens, so a
// restart, a crash too, resumes after the last file that was in place.
class SetStore {
public:
    static constexpr qint64 KeepMs = 7LL * 24 * 60 * 60 * 1000;
    // Sets kept in each direction: an offer past it is refused with a clear error.
    static constexpr int MaxSets = 256;
    // A state file is read only up to this size: 100 000 entries with long paths.
    static constexpr qsizetype MaxStateBytes = 64 << 20;

    explicit SetStore(QString folder);

    bool saveOutgoing(const OutgoingSet &set, QString *error);
    std::optional<OutgoingSet> outgoing(const QByteArray &setId) const;
    QList<QByteArray> outgoingIds() const;
    void removeOutgoing(const QByteArray &setId);

    bool saveIncoming(const IncomingSet &set, QString *error);
    std::optional<IncomingSet> incoming(const QByteArray &setId) const;
    QList<QByteArray> incomingIds() const;
    void removeIncoming(const QByteArray &setId);
    // The entries of an incoming set in place, by index.
    QSet<quint32> finished(const QByteArray &setId) const;
    // Path of the journal the receiver appends each finished entry's index to (4 bytes).
    QString finishedJournal(const QByteArray &setId) const;

    // The folder received sets go to, chosen once and kept; fallback until one was chosen.
    QString saveFolder(const QString &fallback) const;
    void setSaveFolder(const QString &folder);

    // Removes the sets of both directions older than KeepMs.
    void removeExpired(qint64 nowMs);

private:
    QString outPath(const QByteArray &setId) const;
    QString inFolder(const QByteArray &setId) const;
    QList<QByteArray> idsIn(const QString &folder) const;

    QString folder_;
};
