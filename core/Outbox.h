#pragma once

#include "core/SealedMessage.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Sealed messages that wait for their peer: sent while presence showed the peer gone, or not
// delivered after their retries. They stay on disk (mode 0600) until their receipt comes or
// the person cancels them, so that neither program's restart loses one, and go out again,
// oldest first, when the peer is heard. Bounded: MaxPerPeer messages per peer (a message past
// it is refused, never one already queued dropped), and none kept past MaxAgeDays.
//
// File: a first line "talvino-outbox 1", then a line per message, oldest first:
//   <peer key, hex> <address> <queued, ms since 1970 UTC> <the sealed message's bytes, hex>
class Outbox {
public:
    static constexpr int DefaultMaxPerPeer = 1000;
    static constexpr int MaxAgeDays = 7;

    struct Entry {
        QByteArray peerKey;
        QString ip;
        SealedMessage message;
        QDateTime queued;
    };
    enum class Added { Queued, Full, NotSaved };

    // An empty path keeps the outbox in memory only.
    explicit Outbox(QString path);

    // Queues entry (saved at once). Full: the peer has MaxPerPeer waiting, nothing changed.
    // NotSaved: kept in memory, but the file could not be written (error() says why).
    Added add(const Entry &entry);
    // Removes the message with id (delivered or cancelled); false when none waits.
    bool remove(const QByteArray &id);
    bool contains(const QByteArray &id) const;
    // What waits for the peer with key, oldest first.
    QList<Entry> waitingFor(const QByteArray &peerKey) const;
    int count(const QByteArray &peerKey) const;
    int size() const { return int(entries_.size()); }
    const QList<Entry> &entries() const { return entries_; }

    QString error() const { return error_; }
    int maxPerPeer() const { return maxPerPeer_; }
    void setMaxPerPeer(int count) { maxPerPeer_ = count; }

private:
    void load();
    bool save();
    void dropExpired();

    QString path_;
    QList<Entry> entries_;
    QString error_;
    int maxPerPeer_ = DefaultMaxPerPeer;
};
