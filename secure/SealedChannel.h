#pragma once

#include "secure/IdentityKey.h"
#include "secure/ReplayTable.h"
#include "secure/SendCounter.h"
#include "secure/SessionCache.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <optional>

// Seals datagrams for peers and opens the envelopes peers send (layout in Envelope.h): the
// session keys of each peer, the own send counter and each sender's replay window together.
// An envelope is opened only once: its counter must be new to the sender's replay window,
// which is looked at before decrypting and updated only after the envelope opened. Not
// thread-safe: one thread seals and opens.
class SealedChannel {
public:
    static constexpr int MaxPeers = SessionCache::MaxPeers;

    // Why an envelope was dropped.
    enum class Drop { Malformed, UnknownKey, NotOpened, Replayed };
    struct Opened {
        QByteArray senderKey; // the sender's Ed25519 public key, as keyForId gave it
        quint8 innerKind = 0;
        QByteArray inner;
    };

    // counterPath keeps the send counter across restarts (see SendCounter), replayPath each
    // sender's highest counter (see ReplayTable, saveReplayState()). Empty paths: kept in
    // memory only.
    SealedChannel(const IdentityKey &own, QString counterPath, QString replayPath);

    // The envelope carrying innerKind and inner to the peer with peerPublicKey; empty when that
    // key is not valid or inner is longer than Envelope::MaxInnerSize.
    QByteArray seal(const QByteArray &peerPublicKey, quint8 innerKind, const QByteArray &inner);
    // The content of envelope, or nullopt (and *why) when it is dropped. keyForId gives the
    // public key of the known peer with a key id, or an empty array for an unknown id. Never
    // throws on any input; allocates nothing beyond the result and the key id it asks about.
    std::optional<Opened> open(const QByteArray &envelope,
                               const std::function<QByteArray(const QByteArray &keyId)> &keyForId,
                               Drop *why = nullptr);

    // How many envelopes were dropped for that reason.
    quint64 dropped(Drop why) const { return dropped_[size_t(why)]; }
    // The counter of the last envelope sealed (or the one below the next counter to be used).
    quint64 sendCounter() const { return counter_.last(); }
    // Writes the replay windows' state; the owner calls it from a timer and at exit.
    bool saveReplayState(QString *error = nullptr) const { return replay_.save(error); }
    // Takes own as the own key from now on (identity reset): every session key is derived
    // anew; the send counter goes on increasing.
    void setIdentity(const IdentityKey &own);

private:
    std::optional<Opened> drop(Drop reason, Drop *why);
    void takeKeyId(const IdentityKey &own);

    SessionCache sessions_;
    SendCounter counter_;
    ReplayTable replay_;
    std::array<char, IdentityKey::KeyIdSize> ownKeyId_{};
    std::array<quint64, 4> dropped_{};
};
