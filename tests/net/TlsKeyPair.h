#pragma once

#include "secure/TlsKeys.h"

#include <QByteArray>
#include <cstring>
#include <gtest/gtest.h>
#include <sodium.h>

// An Ed25519 key pair from libsodium for the TLS tests: the 32-byte seed and the public key.
struct KeyPair {
    QByteArray seed = QByteArray(crypto_sign_SEEDBYTES, '\0');
    QByteArray publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, '\0');
    KeyPair()
    {
        EXPECT_GE(sodium_init(), 0);
        unsigned char secret[crypto_sign_SECRETKEYBYTES];
        crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()), secret);
        std::memcpy(seed.data(), secret, crypto_sign_SEEDBYTES); // the secret key is seed + public key
    }
};

// The keys of the end that holds own and pins peer.
inline TlsKeys keysOf(const KeyPair &own, const KeyPair &peer) { return {own.seed, own.publicKey, peer.publicKey}; }
