#include "core/PeerSecurity.h"

#include "core/PresenceService.h"
#include "secure/IdentityKey.h"
#include "secure/SafetyCode.h"
#include "secure/SealedChannel.h"

#include <QDir>

PeerSecurity::PeerSecurity(const QString &configDir, PresenceService &presence, QObject *parent)
    : QObject(parent), configDir_(configDir), presence_(presence), pins_(configDir)
{
    const QDir dir(configDir);
    QString unreadable; // the box at start says it in the person's words
    if (auto key = IdentityKey::loadOrCreate(dir.filePath(KeyFileName), &unreadable)) {
        identity_ = std::make_unique<IdentityKey>(*key);
        channel_ = std::make_unique<SealedChannel>(*identity_, dir.filePath(CounterFileName),
                                                   dir.filePath(ReplayFileName));
    }
    const auto announced = [this](const NearbyPeer &peer) { noteAnnouncement(peer); };
    connect(&presence_, &PresenceService::peerFound, this, announced);
    connect(&presence_, &PresenceService::peerChanged, this, announced);
    connect(&presence_, &PresenceService::peerGone, this, [this] { keysDirty_ = true; });
    // Once, some time after envelopes opened: an idle peer does not wake up for it.
    replaySave_.setSingleShot(true);
    replaySave_.setInterval(ReplaySaveMs);
    connect(&replaySave_, &QTimer::timeout, this, [this] {
        if (channel_)
            channel_->saveReplayState();
    });
}

PeerSecurity::~PeerSecurity() { saveNow(); }

void PeerSecurity::saveNow()
{
    replaySave_.stop();
    if (channel_)
        channel_->saveReplayState();
}

QByteArray PeerSecurity::ownPublicKey() const { return identity_ ? identity_->publicKey() : QByteArray(); }

QByteArray PeerSecurity::ownSeed() const { return identity_ ? identity_->seed() : QByteArray(); }

bool PeerSecurity::resetIdentity(QString *error)
{
    IdentityKey fresh = IdentityKey::generate();
    if (!fresh.save(QDir(configDir_).filePath(KeyFileName), error))
        return false;
    identity_ = std::make_unique<IdentityKey>(fresh);
    if (channel_)
        channel_->setIdentity(*identity_);
    else
        channel_ = std::make_unique<SealedChannel>(*identity_, QDir(configDir_).filePath(CounterFileName),
                                                   QDir(configDir_).filePath(ReplayFileName));
    emit identityChanged();
    return true;
}

// Presence heard a peer anew: a pinned address of it that announces another key has a change
// waiting, shown at once rather than at the next message. Only that peer's addresses are
// looked at, so a keep-alive costs the same however many peers are near.
void PeerSecurity::noteAnnouncement(const NearbyPeer &peer)
{
    keysDirty_ = true;
    if (!(peer.capabilities & PresenceDatagram::CapabilitySealed))
        return;
    const QStringList addresses = QStringList(peer.addresses) << peer.address;
    for (const QString &address : addresses) {
        const bool waited = !pins_.changedTo(address).isEmpty();
        if (pins_.noteAnnounced(address, peer.publicKey) != waited)
            emit peerChanged(address);
    }
}

void PeerSecurity::rebuildKeys() const
{
    if (!keysDirty_)
        return;
    keysDirty_ = false;
    keyByAddress_.clear();
    keyById_.clear();
    for (const NearbyPeer &peer : presence_.peers()) {
        if (!(peer.capabilities & PresenceDatagram::CapabilitySealed) || !IdentityKey::isValidPublicKey(peer.publicKey))
            continue;
        for (const QString &address : peer.addresses)
            keyByAddress_.insert(address, peer.publicKey);
        keyByAddress_.insert(peer.address, peer.publicKey);
        keyById_.insert(IdentityKey::keyIdOf(peer.publicKey), peer.publicKey);
    }
}

QByteArray PeerSecurity::announcedKey(const QString &ip) const
{
    rebuildKeys();
    return keyByAddress_.value(ip);
}

PeerSecurity::Link PeerSecurity::linkTo(const QString &ip) const
{
    const QByteArray key = announcedKey(ip);
    if (!identity_ || key.isEmpty() || !presence_.isEnabled())
        return Link::Plain;
    const QByteArray pinned = pins_.pinned(ip);
    return pinned.isEmpty() || pinned == key ? Link::Sealed : Link::KeyChanged;
}

QByteArray PeerSecurity::peerKey(const QString &ip) const
{
    return linkTo(ip) == Link::Sealed ? announcedKey(ip) : QByteArray();
}

std::optional<TlsKeys> PeerSecurity::tlsKeysFor(const QString &ip) const
{
    const QByteArray key = peerKey(ip);
    if (key.isEmpty())
        return std::nullopt;
    return TlsKeys{identity_->seed(), identity_->publicKey(), key};
}

QString PeerSecurity::keyChangedRefusal()
{
    return QStringLiteral("对方的身份密钥变了：核对安全码并接受新密钥之前，不能和对方互传文件。");
}

std::optional<QByteArray> PeerSecurity::outgoing(const QString &ip, const QByteArray &datagram)
{
    // Presence and anything else that is not a base packet goes as it is.
    if (datagram.isEmpty() || datagram[0] < '1' || datagram[0] > '7')
        return datagram;
    switch (linkTo(ip)) {
    case Link::Plain: return datagram;
    case Link::KeyChanged: return std::nullopt;
    case Link::Sealed: break;
    }
    return channel_->seal(announcedKey(ip), BaseDatagram, datagram);
}

std::optional<QByteArray> PeerSecurity::seal(const QString &ip, quint8 innerKind, const QByteArray &inner)
{
    if (linkTo(ip) != Link::Sealed)
        return std::nullopt;
    QByteArray sealed = channel_->seal(announcedKey(ip), innerKind, inner);
    if (sealed.isEmpty())
        return std::nullopt;
    return sealed;
}

std::optional<PeerSecurity::Opened> PeerSecurity::open(const QByteArray &envelope, const QString &fromIp)
{
    if (!channel_ || !presence_.isEnabled())
        return std::nullopt;
    rebuildKeys();
    const auto opened
        = channel_->open(envelope, [this](const QByteArray &keyId) { return keyById_.value(keyId); });
    if (!opened)
        return std::nullopt;
    // Whoever holds the key may send from any host, but a key is only taken from the
    // address it is announced at: an envelope moved to another source is not delivered.
    if (keyByAddress_.value(fromIp) != opened->senderKey) {
        ++wrongAddress_;
        return std::nullopt;
    }
    const bool known = opened->innerKind == BaseDatagram || opened->innerKind == InnerKind::Message
        || opened->innerKind == InnerKind::Receipt || opened->innerKind == InnerKind::SetOffer
        || opened->innerKind == InnerKind::SetAnswer;
    if (!known || opened->inner.isEmpty())
        return std::nullopt; // a later extension this version does not know
    const KeyPins::Seen seen = pins_.observe(fromIp, opened->senderKey);
    if (seen != KeyPins::Seen::Pinned)
        emit peerChanged(fromIp);
    if (!replaySave_.isActive())
        replaySave_.start();
    return Opened{opened->innerKind, opened->inner, opened->senderKey, seen == KeyPins::Seen::Changed};
}

bool PeerSecurity::isPinned(const QString &ip) const { return !pins_.pinned(ip).isEmpty(); }

QByteArray PeerSecurity::pinnedKey(const QString &ip) const { return pins_.pinned(ip); }

QByteArray PeerSecurity::ownKeyId() const { return identity_ ? identity_->keyId() : QByteArray(); }

QString PeerSecurity::safetyCode(const QString &ip) const
{
    QByteArray key = pins_.pinned(ip);
    if (key.isEmpty())
        key = announcedKey(ip);
    if (!identity_ || key.isEmpty())
        return {};
    return ::safetyCode(identity_->publicKey(), key);
}

void PeerSecurity::setVerified(const QString &ip, bool verified)
{
    pins_.setVerified(ip, verified);
    emit peerChanged(ip);
}

void PeerSecurity::acceptKeyChange(const QString &ip)
{
    pins_.acceptChange(ip);
    emit peerChanged(ip);
}

QStringList PeerSecurity::sameKeyElsewhere(const QString &ip) const
{
    const QByteArray key = announcedKey(ip);
    QStringList others;
    if (key.isEmpty())
        return others;
    // A cloned installation also shares its presence id: then it is one entry whose
    // addresses take turns; with a new id, two entries.
    for (const NearbyPeer &peer : presence_.peers()) {
        if (peer.publicKey != key)
            continue;
        if ((peer.address == ip || peer.addresses.contains(ip)) && !peer.heardFromTwoHosts)
            continue;
        const QStringList addresses = QStringList(peer.addresses) << peer.address;
        for (const QString &address : addresses)
            if (address != ip && !others.contains(address))
                others << address;
    }
    if (identity_ && key == identity_->publicKey())
        others << QStringLiteral("本机");
    return others;
}

quint64 PeerSecurity::dropped() const
{
    if (!channel_)
        return wrongAddress_;
    using Drop = SealedChannel::Drop;
    return wrongAddress_ + channel_->dropped(Drop::Malformed) + channel_->dropped(Drop::UnknownKey)
        + channel_->dropped(Drop::NotOpened) + channel_->dropped(Drop::Replayed);
}
