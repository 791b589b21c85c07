#include "core/NearbyTable.h"

#include <algorithm>

NearbyTable::Result NearbyTable::observe(const PresenceDatagram &datagram, const QString &fromIp,
                                         qint64 nowMs)
{
    Result result;
    auto it = peers_.find(datagram.id);
    if (it == peers_.end()) {
        if (!makeRoom(result.evicted))
            return {Change::Refused, {}};
        it = peers_.insert(datagram.id, Entry{});
        it->peer.id = datagram.id;
        result.change = Change::Found;
    }
    Entry &entry = *it;
    const NearbyPeer before = entry.peer;
    hear(entry, fromIp, nowMs);
    const bool moved = choose(entry, fromIp, datagram.kind == PresenceDatagram::Kind::Hello, nowMs);
    entry.peer.nickname = datagram.nickname;
    entry.peer.displayNickname = datagram.displayNickname();
    entry.peer.statusMode = datagram.statusMode;
    entry.peer.capabilities = datagram.capabilities;
    entry.peer.publicKey = datagram.publicKey;
    entry.peer.lastHeardMs = nowMs;
    entry.peer.heardFromTwoHosts = takingTurns(entry);
    entry.heardOrder = ++heardCount_;
    publish(entry);
    if (result.change == Change::Unchanged
        && (moved || before.nickname != entry.peer.nickname || before.statusMode != entry.peer.statusMode
            || before.capabilities != entry.peer.capabilities || before.publicKey != entry.peer.publicKey
            || before.heardFromTwoHosts != entry.peer.heardFromTwoHosts))
        result.change = Change::Changed;
    return result;
}

// Room for one more entry: the least recently heard unknown peer goes. False when the table
// is full of known peers.
bool NearbyTable::makeRoom(QByteArray &evicted)
{
    if (peers_.size() < capacity_)
        return true;
    auto oldest = peers_.end();
    for (auto it = peers_.begin(); it != peers_.end(); ++it)
        if (!known_.contains(it.key()) && (oldest == peers_.end() || it->heardOrder < oldest->heardOrder))
            oldest = it;
    if (oldest == peers_.end())
        return false;
    evicted = oldest.key();
    peers_.erase(oldest);
    return true;
}

// Notes when fromIp was heard; a peer keeps at most MaxAddressesPerPeer addresses, dropping
// the one heard least recently (never the chosen one).
void NearbyTable::hear(Entry &entry, const QString &fromIp, qint64 nowMs)
{
    auto same = std::find_if(entry.heard.begin(), entry.heard.end(),
                             [&](const HeardAddress &h) { return h.address == fromIp; });
    if (same != entry.heard.end()) {
        same->lastHeardMs = nowMs;
        return;
    }
    if (entry.heard.size() >= MaxAddressesPerPeer) {
        auto oldest = entry.heard.end();
        for (auto it = entry.heard.begin(); it != entry.heard.end(); ++it)
            if (it->address != entry.peer.address
                && (oldest == entry.heard.end() || it->lastHeardMs < oldest->lastHeardMs))
                oldest = it;
        entry.heard.erase(oldest);
    }
    entry.heard.append({fromIp, nowMs, nowMs});
}

// Two addresses on one of our subnets, each heard again after the other was first heard: a
// host that moved to a new address is not heard at its old one after that.
bool NearbyTable::takingTurns(const Entry &entry) const
{
    for (const HeardAddress &a : entry.heard)
        for (const HeardAddress &b : entry.heard) {
            if (&a == &b || a.lastHeardMs <= b.firstHeardMs || b.lastHeardMs <= a.firstHeardMs)
                continue;
            const Ipv4Address hostA(a.address), hostB(b.address);
            for (const Subnet &s : subnets_)
                if (hostA.isInSubnet(s.first, s.second) && hostB.isInSubnet(s.first, s.second))
                    return true;
        }
    return false;
}

// Whether fromIp becomes the peer's address: always for the first one; an address on our
// own subnet beats one that is not; between equals, a hello (the peer's interface has just
// come up, perhaps with a new lease) or a chosen address gone stale hands over. True when the
// chosen address changed.
bool NearbyTable::choose(Entry &entry, const QString &fromIp, bool hello, qint64 nowMs) const
{
    QString &current = entry.peer.address;
    if (current == fromIp)
        return false;
    bool take = current.isEmpty();
    if (!take) {
        const bool newLocal = onLocalSubnet(fromIp);
        const bool currentLocal = onLocalSubnet(current);
        const auto it = std::find_if(entry.heard.cbegin(), entry.heard.cend(),
                                     [&](const HeardAddress &h) { return h.address == current; });
        const bool stale = it == entry.heard.cend() || nowMs - it->lastHeardMs > staleMs_;
        take = newLocal != currentLocal ? newLocal : (hello || stale);
    }
    if (!take)
        return false;
    const bool hadOne = !current.isEmpty();
    current = fromIp;
    return hadOne;
}

bool NearbyTable::onLocalSubnet(const QString &address) const
{
    const Ipv4Address host(address);
    return std::any_of(subnets_.cbegin(), subnets_.cend(),
                       [&](const Subnet &s) { return host.isInSubnet(s.first, s.second); });
}

void NearbyTable::publish(Entry &entry)
{
    entry.peer.addresses.clear();
    for (const HeardAddress &h : std::as_const(entry.heard))
        entry.peer.addresses << h.address;
}

bool NearbyTable::remove(const QByteArray &id) { return peers_.remove(id) > 0; }

QList<QByteArray> NearbyTable::expire(qint64 nowMs, qint64 maxSilenceMs, QList<QByteArray> *changedIds)
{
    QList<QByteArray> gone;
    for (auto it = peers_.begin(); it != peers_.end();) {
        Entry &entry = *it;
        entry.heard.removeIf([&](const HeardAddress &h) { return nowMs - h.lastHeardMs > maxSilenceMs; });
        if (entry.heard.isEmpty()) {
            gone << it.key();
            it = peers_.erase(it);
            continue;
        }
        if (!entry.peer.addresses.contains(entry.peer.address)
            || entry.heard.size() != entry.peer.addresses.size()) {
            const QString before = entry.peer.address;
            // The best remaining address: on our subnet first, then the most recently heard.
            const auto best = std::max_element(entry.heard.cbegin(), entry.heard.cend(),
                                               [&](const auto &a, const auto &b) {
                                                   return std::pair(onLocalSubnet(a.address), a.lastHeardMs)
                                                       < std::pair(onLocalSubnet(b.address), b.lastHeardMs);
                                               });
            if (std::none_of(entry.heard.cbegin(), entry.heard.cend(),
                             [&](const auto &h) { return h.address == before; }))
                entry.peer.address = best->address;
            publish(entry);
            if (changedIds && entry.peer.address != before)
                *changedIds << it.key();
        }
        ++it;
    }
    return gone;
}

std::optional<qint64> NearbyTable::nextExpiryMs(qint64 maxSilenceMs) const
{
    std::optional<qint64> first;
    for (const Entry &entry : peers_)
        for (const HeardAddress &h : entry.heard)
            if (!first || h.lastHeardMs < *first)
                first = h.lastHeardMs;
    if (first)
        *first += maxSilenceMs + 1; // expire() forgets what is silent for longer than maxSilenceMs
    return first;
}

void NearbyTable::clear() { peers_.clear(); }

void NearbyTable::setKnown(const QByteArray &id, bool known)
{
    if (known)
        known_.insert(id);
    else
        known_.remove(id);
}

std::optional<NearbyPeer> NearbyTable::peer(const QByteArray &id) const
{
    const auto it = peers_.constFind(id);
    if (it == peers_.cend())
        return std::nullopt;
    return it->peer;
}

QList<NearbyPeer> NearbyTable::snapshot() const
{
    QList<NearbyPeer> result;
    result.reserve(peers_.size());
    for (const Entry &entry : peers_)
        result << entry.peer;
    std::sort(result.begin(), result.end(),
              [](const NearbyPeer &a, const NearbyPeer &b) { return a.id < b.id; });
    return result;
}
