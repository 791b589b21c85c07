#pragma once

#include "core/KeyPins.h"
#include "secure/Envelope.h"
#include "secure/TlsKeys.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

class IdentityKey;
struct NearbyPeer;
class PresenceService;
class SealedChannel;

// Privacy and authenticity between peers of this program. Holds the installation's identity
// key (identity.key beside myinfo.ini), the peers' pinned keys (KeyPins) and the sealed
// channel. A peer that announced sealing in presence (with its key) gets every base datagram
// sealed, while we announce it too (presence on); every other peer gets today's bytes.
// Sealed datagrams that do not open, repeat, or come from a key not announced at their
// address are dropped and counted; a plain datagram from a pinned peer is only shown marked.
class PeerSecurity : public QObject {
    Q_OBJECT

public:
    static inline const QString KeyFileName = QStringLiteral("identity.key");
    static inline const QString CounterFileName = QStringLiteral("sealed.counter");
    static inline const QString ReplayFileName = QStringLiteral("sealed.replay");
    // How long after envelopes opened the replay state goes to disk (and at the end): a crash
    // forgets at most the counters of this long.
    static constexpr int ReplaySaveMs = 5000;
    // The inner kind of a base datagram carried in an envelope.
    static constexpr quint8 BaseDatagram = InnerKind::BaseDatagram;

    // How datagrams to a peer travel.
    enum class Link {
        Plain,      // the peer announced no key, or presence is off: today's bytes
        Sealed,     // sealed to its pinned (or first seen) key
        KeyChanged, // it announces another key than the pinned one: nothing goes until accepted
    };

    PeerSecurity(const QString &configDir, PresenceService &presence, QObject *parent = nullptr);
    ~PeerSecurity() override;

    // False when identity.key cannot be read or made: sealing stays off (and a damaged file is
    // left for the person).
    bool hasIdentity() const { return identity_ != nullptr; }
    // Writes now what waits on its timer (the replay state); for an end that runs no destructors.
    void saveNow();
    QByteArray ownPublicKey() const;
    QByteArray ownSeed() const;
    // A new key pair replaces the old one (the person asked): peers see a key change.
    bool resetIdentity(QString *error = nullptr);

    Link linkTo(const QString &ip) const;
    // The key datagrams to ip are sealed to (and files encrypted for): empty unless Sealed.
    QByteArray peerKey(const QString &ip) const;
    // The keys a file to or from ip goes inside TLS with; nothing unless Sealed.
    std::optional<TlsKeys> tlsKeysFor(const QString &ip) const;
    // The words a file window says when it refuses a peer whose key changed.
    static QString keyChangedRefusal();
    // What goes out for a base datagram to ip: the envelope, the datagram itself, or nothing
    // while a key change waits.
    std::optional<QByteArray> outgoing(const QString &ip, const QByteArray &datagram);
    // The envelope carrying innerKind and inner to ip: nothing unless the link is Sealed.
    std::optional<QByteArray> seal(const QString &ip, quint8 innerKind, const QByteArray &inner);

    struct Opened {
        quint8 innerKind = 0; // BaseDatagram, Message, Receipt, SetOffer or SetAnswer
        QByteArray inner;     // what the kind carries (for BaseDatagram, the base datagram)
        QByteArray senderKey;
        bool keyChanged = false;
    };
    // A "9" datagram from fromIp: its content, or nothing (dropped and counted; also a kind this
    // version does not know).
    std::optional<Opened> open(const QByteArray &envelope, const QString &fromIp);
    // Whether ip has a pinned key: a plain datagram from it may be forged.
    bool isPinned(const QString &ip) const;
    QByteArray pinnedKey(const QString &ip) const;
    // The own key id (8 bytes), empty without an identity.
    QByteArray ownKeyId() const;

    // The safety code of us and the peer at ip (its pinned key, else the key it announces);
    // empty when no key is known.
    QString safetyCode(const QString &ip) const;
    bool isVerified(const QString &ip) const { return pins_.isVerified(ip); }
    void setVerified(const QString &ip, bool verified);
    void acceptKeyChange(const QString &ip);
    // Other addresses that announce the same key as ip (a cloned installation).
    QStringList sameKeyElsewhere(const QString &ip) const;

    // Sealed datagrams dropped so far.
    quint64 dropped() const;

signals:
    // What peerChanged's window shows of ip changed (pinned, key change, accepted, compared).
    void peerChanged(const QString &ip);
    // Our own key changed.
    void identityChanged();

private:
    void rebuildKeys() const;
    QByteArray announcedKey(const QString &ip) const;
    void noteAnnouncement(const NearbyPeer &peer);
    QString configDir_;
    PresenceService &presence_;
    std::unique_ptr<IdentityKey> identity_;
    std::unique_ptr<SealedChannel> channel_;
    KeyPins pins_;
    quint64 wrongAddress_ = 0;
    // Keys announced in presence, by address and by key id; rebuilt when presence reports.
    mutable bool keysDirty_ = true;
    mutable QHash<QString, QByteArray> keyByAddress_;
    mutable QHash<QByteArray, QByteArray> keyById_;
    QTimer replaySave_;
};
