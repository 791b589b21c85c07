#pragma once

#include <QByteArray>

// The long-term Ed25519 keys one end of a TLS connection works with: its own key pair (the
// 32-byte seed and the 32-byte public key made from it) and the 32-byte public key pinned for
// the peer. A connection goes through only when the peer proves it holds the pinned key.
struct TlsKeys {
    QByteArray ownSeed;
    QByteArray ownPublicKey;
    QByteArray expectedPeerKey;
};
