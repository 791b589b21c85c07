#pragma once

#include "secure/IdentityKey.h"
#include "secure/LruCache.h"

#include <QByteArray>

#include <array>

// The session keys shared with each peer: derived by X25519 key exchange (crypto_kx) between
// the X25519 forms of the two identity keys, the peer with the bytewise smaller Ed25519 public
// key taking the exchange's client side, so that one side's sending key is the other's
// receiving key. Derived once per peer and kept for the MaxPeers peers used most recently;
// every secret is wiped when dropped.
class SessionCache {
public:
    static constexpr int MaxPeers = 1024;
    static constexpr int KeySize = 32;

    struct Keys {
        std::array<unsigned char, KeySize> receive{};
        std::array<unsigned char, KeySize> send{};
        Keys() = default;
        Keys(const Keys &) = default;
        Keys &operator=(const Keys &) = default;
        ~Keys();
    };

    explicit SessionCache(const IdentityKey &own);
    SessionCache(const SessionCache &) = delete;
    SessionCache &operator=(const SessionCache &) = delete;
    ~SessionCache();

    // The keys shared with the peer whose Ed25519 public key is peerPublicKey, or nullptr when
    // that is no valid key. Valid until the next call.
    const Keys *keysFor(const QByteArray &peerPublicKey);
    // Takes own as the own key from now on; every peer's keys are derived anew.
    void setIdentity(const IdentityKey &own);

private:
    LruCache<Keys> cache_{MaxPeers};
    QByteArray ownPublic_; // Ed25519
    std::array<unsigned char, KeySize> ownX25519Public_{};
    std::array<unsigned char, KeySize> ownX25519Secret_{};
};
