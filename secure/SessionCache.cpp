#include "secure/SessionCache.h"

#include <sodium.h>

static_assert(SessionCache::KeySize == crypto_kx_SESSIONKEYBYTES);
static_assert(SessionCache::KeySize == crypto_kx_PUBLICKEYBYTES);
static_assert(SessionCache::KeySize == crypto_kx_SECRETKEYBYTES);

SessionCache::Keys::~Keys()
{
    sodium_memzero(receive.data(), receive.size());
    sodium_memzero(send.data(), send.size());
}

SessionCache::SessionCache(const IdentityKey &own)
{
    setIdentity(own);
}

SessionCache::~SessionCache()
{
    sodium_memzero(ownX25519Secret_.data(), ownX25519Secret_.size());
}

void SessionCache::setIdentity(const IdentityKey &own)
{
    cache_.clear();
    ownPublic_ = own.publicKey();
    own.x25519SecretKey(ownX25519Secret_.data());
    crypto_scalarmult_base(ownX25519Public_.data(), ownX25519Secret_.data());
}

const SessionCache::Keys *SessionCache::keysFor(const QByteArray &peerPublicKey)
{
    if (const Keys *keys = cache_.find(peerPublicKey))
        return keys;
    if (peerPublicKey.size() != IdentityKey::PublicKeySize)
        return nullptr;
    unsigned char peerX25519[KeySize];
    if (crypto_sign_ed25519_pk_to_curve25519(
            peerX25519, reinterpret_cast<const unsigned char *>(peerPublicKey.constData()))
        != 0)
        return nullptr;
    Keys keys;
    const bool ownIsClient = ownPublic_ < peerPublicKey;
    const int derived = ownIsClient
        ? crypto_kx_client_session_keys(keys.receive.data(), keys.send.data(), ownX25519Public_.data(),
                                        ownX25519Secret_.data(), peerX25519)
        : crypto_kx_server_session_keys(keys.receive.data(), keys.send.data(), ownX25519Public_.data(),
                                        ownX25519Secret_.data(), peerX25519);
    if (derived != 0)
        return nullptr;
    return &cache_.insert(peerPublicKey, keys);
}
