#include "core/PresenceService.h"

#include "core/Gbk.h"
#include "core/Packet.h"
#include "net/Ipv4Interfaces.h"
#include "net/Swallow.h"
#include "net/TZnUDP.h"

#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

// Lets the endpoint send to a broadcast address for one send only: with broadcasts always
// allowed, a friend request typed to a x.x.x.255 address would reach the whole LAN.
class BroadcastGuard {
public:
    BroadcastGuard(TZnUDP &endpoint, bool on) : endpoint_(endpoint), on_(on)
    {
        if (on_)
            endpoint_.SetBroadcast(true);
    }
    ~BroadcastGuard()
    {
        if (on_)
            endpoint_.SetBroadcast(false);
    }
    BroadcastGuard(const BroadcastGuard &) = delete;
    BroadcastGuard &operator=(const BroadcastGuard &) = delete;

private:
    TZnUDP &endpoint_;
    bool on_;
};

bool sameInterface(const PresenceInterface &a, const PresenceInterface &b)
{
    return a.name == b.name && a.address == b.address && a.broadcast == b.broadcast;
}

} // namespace

bool PresenceService::isVirtualInterface(const QString &name)
{
    static const std::array<QString, 7> prefixes{u"docker"_s, u"br-"_s, u"veth"_s, u"virbr"_s,
                                                 u"tun"_s,    u"tap"_s, u"wg"_s};
    return name == u"lo"_s || std::any_of(prefixes.begin(), prefixes.end(), [&](const QString &p) {
               return name.startsWith(p);
           });
}

PresenceService::PresenceService(TZnUDP &endpoint, const QByteArray &ownId, QObject *parent)
    : QObject(parent), endpoint_(endpoint), ownId_(ownId)
{
    clock_.start();
    keepAlive_.setInterval(keepAliveMs_);
    table_.setAddressStaleMs(keepAliveMs_ * 3 / 2);
    connect(&keepAlive_, &QTimer::timeout, this, [this] { swallow([this] { tick(); }); });
    expiry_.setSingleShot(true);
    connect(&expiry_, &QTimer::timeout, this, [this] { swallow([this] { expire(); }); });
}

PresenceService::~PresenceService() { stop(); }

void PresenceService::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    if (!enabled && running()) {
        announce(PresenceDatagram::Kind::Goodbye);
        keepAlive_.stop();
    }
    enabled_ = enabled;
    if (!enabled_)
        forgetAll();
    else if (started_)
        start();
}

void PresenceService::setKeepAliveMs(int ms)
{
    keepAliveMs_ = std::max(1, ms);
    keepAlive_.setInterval(keepAliveMs_);
    table_.setAddressStaleMs(qint64(keepAliveMs_) * 3 / 2);
    if (expiry_.isActive())
        scheduleExpiry();
}

void PresenceService::setChosenInterfaces(const QStringList &names)
{
    chosenInterfaces_ = names;
    if (running())
        announce(PresenceDatagram::Kind::Hello); // hello on whatever is now in use
}

void PresenceService::setUnicastTargets(const QStringList &addresses)
{
    unicastTargets_.clear();
    for (const QString &address : addresses) {
        const Ipv4Address host(address);
        if (!host.isNull())
            unicastTargets_ << host.toString();
    }
}

void PresenceService::setOwnInfo(const QString &nickname, quint8 statusMode, quint16 capabilities,
                                 const QByteArray &publicKey)
{
    const QByteArray bytes = Gbk::encode(Gbk::truncateToBytes(nickname, PresenceDatagram::MaxNicknameBytes));
    if (bytes == nickname_ && statusMode == statusMode_ && capabilities == capabilities_ && publicKey == publicKey_)
        return;
    nickname_ = bytes;
    statusMode_ = statusMode;
    capabilities_ = capabilities;
    publicKey_ = publicKey;
    if (!running() || announcePending_)
        return;
    // Several changes made together go out as one keep-alive.
    announcePending_ = true;
    QTimer::singleShot(0, this, [this] {
        announcePending_ = false;
        if (running())
            swallow([this] { announce(PresenceDatagram::Kind::KeepAlive); });
    });
}

void PresenceService::start()
{
    started_ = true;
    if (!enabled_)
        return;
    announce(PresenceDatagram::Kind::Hello);
    keepAlive_.start();
}

void PresenceService::stop()
{
    if (running())
        swallow([this] { announce(PresenceDatagram::Kind::Goodbye); });
    started_ = false;
    keepAlive_.stop();
    pendingAnswers_.clear();
}

void PresenceService::refresh()
{
    if (running())
        announce(PresenceDatagram::Kind::Hello);
}

PresenceDatagram PresenceService::own(PresenceDatagram::Kind kind) const
{
    PresenceDatagram datagram;
    datagram.kind = kind;
    datagram.id = ownId_;
    datagram.statusMode = statusMode_;
    datagram.capabilities = capabilities_;
    datagram.nickname = nickname_;
    datagram.publicKey = publicKey_;
    return datagram;
}

// The keep-alive period's one wake-up: interfaces that appeared or changed get a hello, the
// others a keep-alive; then silent peers expire.
void PresenceService::tick()
{
    const QList<PresenceInterface> fresh = updateInterfaces();
    for (PresenceInterface &i : interfaces_) {
        const bool isNew = std::any_of(fresh.cbegin(), fresh.cend(),
                                       [&](const auto &f) { return sameInterface(f, i); });
        const auto kind = isNew ? PresenceDatagram::Kind::Hello : PresenceDatagram::Kind::KeepAlive;
        if (sendTo(i.broadcast, kind, true) && isNew)
            i.lastHelloSent = QDateTime::currentDateTime();
    }
    for (const QString &target : std::as_const(unicastTargets_))
        sendTo(target, PresenceDatagram::Kind::KeepAlive, false);
}

// Sends kind to every interface's broadcast address and to every unicast target.
void PresenceService::announce(PresenceDatagram::Kind kind)
{
    if (kind != PresenceDatagram::Kind::Goodbye)
        updateInterfaces();
    for (PresenceInterface &i : interfaces_)
        if (sendTo(i.broadcast, kind, true) && kind == PresenceDatagram::Kind::Hello)
            i.lastHelloSent = QDateTime::currentDateTime();
    for (const QString &target : std::as_const(unicastTargets_))
        sendTo(target, kind, false);
}

// Rescans the interfaces, keeping what was noted about those that stay. Returns those that
// are new or changed.
QList<PresenceInterface> PresenceService::updateInterfaces()
{
    QList<PresenceInterface> scanned = scanInterfaces();
    QList<PresenceInterface> fresh;
    QList<NearbyTable::Subnet> subnets;
    for (PresenceInterface &s : scanned) {
        const auto old = std::find_if(interfaces_.cbegin(), interfaces_.cend(),
                                      [&](const auto &i) { return sameInterface(i, s); });
        if (old != interfaces_.cend()) {
            s.lastHelloSent = old->lastHelloSent;
            s.lastHeard = old->lastHeard;
        } else {
            fresh << s;
        }
        subnets << NearbyTable::Subnet(Ipv4Address(s.address), s.prefixLength);
    }
    const bool changed = !fresh.isEmpty() || scanned.size() != interfaces_.size();
    interfaces_ = scanned;
    table_.setLocalSubnets(subnets);
    if (changed)
        emit interfacesChanged();
    return fresh;
}

QList<PresenceInterface> PresenceService::scanInterfaces() const
{
    QList<PresenceInterface> result;
    const QList<Ipv4Interface> all = upIpv4Interfaces();
    for (const Ipv4Interface &entry : all) {
        const QString &name = entry.name;
        if (chosenInterfaces_.isEmpty() ? isVirtualInterface(name) : !chosenInterfaces_.contains(name))
            continue;
        result << PresenceInterface{
            name, entry.address.toString(), entry.broadcast.toString(), entry.prefixLength, {}, {}};
    }
    return result;
}

// One datagram of ours to ip; false when the endpoint refused it. Presence never shows an
// error box: a failed send is only missing from the diagnostics.
bool PresenceService::sendTo(const QString &ip, PresenceDatagram::Kind kind, bool broadcast)
{
    const QByteArray datagram = own(kind).build();
    try {
        BroadcastGuard guard(endpoint_, broadcast);
        Packet::send(endpoint_, ip, datagram);
        return true;
    } catch (...) {
        return false;
    }
}

void PresenceService::handleDatagram(const QByteArray &datagram, const QString &fromIp)
{
    if (!running())
        return;
    if (!rateLimit_.allow(fromIp, clock_.elapsed())) {
        ++rateLimited_;
        return;
    }
    const std::optional<PresenceDatagram> parsed = PresenceDatagram::parse(datagram);
    if (!parsed || parsed->id == ownId_) // our own broadcast, or someone using our id
        return;
    noteHeard(fromIp);
    if (parsed->kind != PresenceDatagram::Kind::Goodbye)
        return observe(*parsed, fromIp);
    // A goodbye counts only from an address the peer was heard at.
    const auto peer = table_.peer(parsed->id);
    if (peer && peer->addresses.contains(fromIp) && table_.remove(parsed->id))
        emit peerGone(parsed->id);
}

void PresenceService::observe(const PresenceDatagram &datagram, const QString &fromIp)
{
    const NearbyTable::Result result = table_.observe(datagram, fromIp, clock_.elapsed());
    if (!result.evicted.isEmpty())
        emit peerGone(result.evicted);
    if (result.change == NearbyTable::Change::Found)
        emit peerFound(*table_.peer(datagram.id));
    else if (result.change == NearbyTable::Change::Changed)
        emit peerChanged(*table_.peer(datagram.id));
    if (result.change != NearbyTable::Change::Refused)
        if (const auto heard = table_.peer(datagram.id))
            emit peerHeard(*heard);
    if (datagram.kind == PresenceDatagram::Kind::Hello && result.change != NearbyTable::Change::Refused)
        scheduleAnswer(fromIp);
    // Hearing a peer only moves expiries later: a running timer fires early at worst, and then
    // finds the next one.
    if (!expiry_.isActive())
        scheduleExpiry();
}

// Answers a hello from ip after a random delay, so that peers hearing one hello together do
// not all answer at once. One answer per address is pending at a time.
void PresenceService::scheduleAnswer(const QString &ip)
{
    if (pendingAnswers_.contains(ip) || pendingAnswers_.size() >= MaxPendingAnswers)
        return;
    pendingAnswers_.insert(ip);
    const int delay = int(QRandomGenerator::global()->bounded(quint32(maxAnswerDelayMs_) + 1));
    QTimer::singleShot(delay, this, [this, ip] {
        if (pendingAnswers_.remove(ip) && running())
            sendTo(ip, PresenceDatagram::Kind::Answer, false);
    });
}

void PresenceService::noteHeard(const QString &fromIp)
{
    const Ipv4Address from(fromIp);
    for (PresenceInterface &i : interfaces_)
        if (from.isInSubnet(Ipv4Address(i.address), i.prefixLength))
            i.lastHeard = QDateTime::currentDateTime();
}

void PresenceService::expire()
{
    QList<QByteArray> moved;
    const QList<QByteArray> gone = table_.expire(clock_.elapsed(), qint64(keepAliveMs_) * ExpiryPeriods,
                                                 &moved);
    for (const QByteArray &id : gone)
        emit peerGone(id);
    for (const QByteArray &id : std::as_const(moved))
        emit peerChanged(*table_.peer(id));
    scheduleExpiry();
}

void PresenceService::scheduleExpiry()
{
    const std::optional<qint64> next = table_.nextExpiryMs(qint64(keepAliveMs_) * ExpiryPeriods);
    if (!next) {
        expiry_.stop();
        return;
    }
    expiry_.start(int(std::clamp<qint64>(*next - clock_.elapsed(), 0, std::numeric_limits<int>::max())));
}

void PresenceService::forgetAll()
{
    const QList<NearbyPeer> all = table_.snapshot();
    table_.clear();
    expiry_.stop();
    pendingAnswers_.clear();
    for (const NearbyPeer &peer : all)
        emit peerGone(peer.id);
}

bool PresenceService::endpointBound() const
{
    return endpoint_.BoundPort() != 0 && endpoint_.BoundPort() == endpoint_.LocalPort();
}
