#pragma once

#include "core/PresenceDatagram.h"
#include "net/Ipv4Address.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <optional>

// One peer found by presence, as the windows show it.
struct NearbyPeer {
    QByteArray id;
    QByteArray nickname;     // GBK bytes as received
    QString displayNickname; // decoded, control characters replaced: plain text only
    quint8 statusMode = 0;
    quint16 capabilities = 0;
    QByteArray publicKey;   // its identity key, when it announced sealing
    QString address;        // the address to use: on our own subnet when the peer has one
    QStringList addresses;  // every address it was heard from lately
    qint64 lastHeardMs = 0; // monotonic milliseconds
    // Two addresses on one of our subnets keep taking turns with this id: two hosts announce
    // one installation's id (a cloned disk), not one host that moved.
    bool heardFromTwoHosts = false;
};

// The bounded table of nearby peers, keyed by peer id: one id heard from several addresses
// is one entry. When the table is full, a new peer takes the place of the one heard least
// recently among those not marked known (buddies); when every entry is known, the newcomer
// is refused. Time is given by the caller in monotonic milliseconds.
class NearbyTable {
public:
    static constexpr int MaxPeers = 1024;
    static constexpr int MaxAddressesPerPeer = 4;

    enum class Change { Unchanged, Found, Changed, Refused };
    struct Result {
        Change change = Change::Unchanged;
        QByteArray evicted; // id of the entry that made room, if any
    };
    using Subnet = QPair<Ipv4Address, int>; // network address and prefix length

    // Records a hello, answer or keep-alive heard from fromIp. Changed means the nickname,
    // status, capabilities or chosen address differ from before.
    Result observe(const PresenceDatagram &datagram, const QString &fromIp, qint64 nowMs);
    // Forgets a peer (its goodbye); false when it was not in the table.
    bool remove(const QByteArray &id);
    // Forgets every address not heard for maxSilenceMs, and every peer left without one.
    // Returns the ids removed; changedIds gets the peers whose chosen address moved.
    QList<QByteArray> expire(qint64 nowMs, qint64 maxSilenceMs, QList<QByteArray> *changedIds = nullptr);
    // The first moment at which expire() with maxSilenceMs forgets something; none for an
    // empty table.
    std::optional<qint64> nextExpiryMs(qint64 maxSilenceMs) const;
    void clear();

    // Known peers (buddies) are never evicted to make room.
    void setKnown(const QByteArray &id, bool known);
    // Our interfaces' subnets: an address inside one of them is preferred.
    void setLocalSubnets(const QList<Subnet> &subnets) { subnets_ = subnets; }
    // An address not heard for this long loses its place to another of the same peer.
    void setAddressStaleMs(qint64 ms) { staleMs_ = ms; }
    int capacity() const { return capacity_; }
    void setCapacity(int capacity) { capacity_ = std::max(1, capacity); }

    int size() const { return int(peers_.size()); }
    std::optional<NearbyPeer> peer(const QByteArray &id) const;
    QList<NearbyPeer> snapshot() const;

private:
    struct HeardAddress {
        QString address;
        qint64 lastHeardMs = 0;
        qint64 firstHeardMs = 0;
    };
    struct Entry {
        NearbyPeer peer;
        quint64 heardOrder = 0; // rises with every datagram: ranks peers heard in one millisecond
        QList<HeardAddress> heard;
    };
    bool makeRoom(QByteArray &evicted);
    bool onLocalSubnet(const QString &address) const;
    bool takingTurns(const Entry &entry) const;
    void hear(Entry &entry, const QString &fromIp, qint64 nowMs);
    bool choose(Entry &entry, const QString &fromIp, bool hello, qint64 nowMs) const;
    static void publish(Entry &entry);

    QHash<QByteArray, Entry> peers_;
    QSet<QByteArray> known_;
    QList<Subnet> subnets_;
    qint64 staleMs_ = 90'000;
    int capacity_ = MaxPeers;
    quint64 heardCount_ = 0;
};
