#pragma once

#include "core/SealedMessage.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <deque>
#include <optional>

// Which sealed messages to show: each once, also across restarts, and each sender's in the
// order it sent them. A message whose predecessors from that sender have not come yet is held
// until they come or HoldMs has passed (the sender has given up on them by then), and is then
// shown in order with whatever else is held. A message from before what was shown (sent
// again from an outbox) is shown when it comes, as it is new.
//
// What was shown is appended to a journal file (mode 0600) as it happens, a line per message:
//   <sender key, hex> <message id, hex> <sequence>
// after a first line "talvino-seen 1". Loading keeps each sender's last RememberedIds ids
// and highest sequence; the file is written anew, compact, when it has grown past
// CompactLines lines. Each bound and time is a property tests can shorten.
class ArrivalOrder {
public:
    static constexpr int DefaultRememberedIds = 1024; // per sender
    static constexpr int DefaultMaxSenders = 1024;
    // Held at most per sender and in all (about 400 bytes each): past either, the sender's
    // oldest is shown. A sender that sends fast holds many behind one lost message.
    static constexpr int DefaultMaxHeld = 4096;
    static constexpr int MaxHeldInAll = 16384;
    // Longer than two rounds of the sender's retries (11.5 s each): a message not delivered by
    // the first goes again as soon as the sender sees us answer another.
    static constexpr int DefaultHoldMs = 30000;
    static constexpr int CompactLines = 65536;

    // A message with where it came from, as the dispatcher shows it.
    struct Arrival {
        SealedMessage message;
        QString fromIp;
        bool keyChanged = false;
        qint64 arrivedMs = 0;
    };

    // An empty path keeps everything in memory.
    explicit ArrivalOrder(QString path);

    // Whether the message is new (false for a duplicate, which is only answered); the arrivals
    // to show now, in order, are appended to show.
    bool arrive(const QByteArray &senderKey, const Arrival &arrival, QList<Arrival> &show);
    // The held arrivals whose time has passed, with those that follow them, in order; the next
    // moment anything is due is nextDueMs().
    QList<Arrival> release(qint64 nowMs);
    std::optional<qint64> nextDueMs() const;

    // Why the journal could not be read or written; empty when it could.
    QString error() const { return error_; }

    void setHoldMs(int ms) { holdMs_ = ms; }
    void setRememberedIds(int ids) { rememberedIds_ = ids; }
    void setMaxHeld(int held) { maxHeld_ = held; }
    int heldCount() const { return heldInAll_; }

private:
    struct Sender {
        quint32 lastShown = 0; // highest sequence shown; 0 before the first
        std::deque<QByteArray> ids; // ids remembered, oldest first
        QList<Arrival> held;        // ordered by sequence
        qint64 lastUsedMs = 0;
    };

    bool seen(const Sender &sender, const MessageId &id) const;
    void remember(const QByteArray &key, Sender &sender, const Arrival &arrival, bool journal = true);
    void showFollowing(const QByteArray &key, Sender &sender, QList<Arrival> &show);
    Arrival takeHeld(Sender &sender);
    void load();
    void rewrite();
    void append(const QByteArray &line);
    void evictSender();

    QString path_;
    QHash<QByteArray, Sender> senders_;
    QString error_;
    int journalLines_ = 0;
    int holdMs_ = DefaultHoldMs;
    int rememberedIds_ = DefaultRememberedIds;
    int maxHeld_ = DefaultMaxHeld;
    int heldInAll_ = 0;
    int maxSenders_ = DefaultMaxSenders;
};
