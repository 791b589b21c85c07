#pragma once

#include "secure/TlsSession.h"

#include <QString>
#include <memory>
#include <openssl/types.h>

// The TLS settings of one connection's end: TLS 1.3 only, the own key's self-signed certificate,
// a peer certificate required both ways and accepted only when it holds the pinned key, no
// session tickets or resumption, and the cipher suites ordered by whether this machine has AES
// instructions (AES-256-GCM where both ends have them, ChaCha20-Poly1305 otherwise). One per
// connection, so that the pinned key is this context's own and nothing is shared between threads.
class TlsContext {
public:
    using Role = TlsSession::Role;

    TlsContext(Role role, const TlsKeys &keys);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;

    // False when the own keys or OpenSSL failed; why() tells.
    bool valid() const { return context_ != nullptr; }
    QString why() const { return why_; }
    SSL_CTX *get() const { return context_; }
    // Whether the last handshake ended because the peer's certificate held another key.
    bool peerRejected() const { return peerRejected_; }

    // The suites in the order this machine prefers them.
    static const char *cipherSuites();

private:
    static int verifyPeer(X509_STORE_CTX *store, void *self);

    SSL_CTX *context_ = nullptr;
    QByteArray expectedPeerKey_;
    bool peerRejected_ = false;
    QString why_;
};
