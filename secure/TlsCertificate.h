#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <openssl/types.h>

// A self-signed X.509 certificate made at run time for one Ed25519 key pair, with the private
// key: what one end presents in the TLS handshake. The certificate carries the public key and
// nothing the peer relies on besides it: the peer compares that key with the one it pinned, so
// names, dates and the signature chain are placeholders that nobody checks.
class TlsCertificate {
public:
    // seed: the 32-byte Ed25519 seed; publicKey: the 32-byte public key it must give.
    TlsCertificate(const QByteArray &seed, const QByteArray &publicKey);

    // False when the keys are malformed, do not belong together or OpenSSL failed; why() tells.
    bool valid() const { return certificate_ != nullptr; }
    QString why() const { return why_; }
    EVP_PKEY *key() const { return key_.get(); }
    X509 *certificate() const { return certificate_.get(); }

    // The raw 32-byte Ed25519 public key a certificate holds; empty for any other kind of key.
    static QByteArray ed25519Key(X509 *certificate);

private:
    struct KeyFree {
        void operator()(EVP_PKEY *key) const;
    };
    struct CertificateFree {
        void operator()(X509 *certificate) const;
    };

    bool makeKey(const QByteArray &seed, const QByteArray &publicKey);
    bool makeCertificate();

    std::unique_ptr<EVP_PKEY, KeyFree> key_;
    std::unique_ptr<X509, CertificateFree> certificate_;
    QString why_;
};
