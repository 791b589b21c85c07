#include "secure/TlsCertificate.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int Ed25519KeySize = 32;
// The certificate's validity is never checked (the pinned key is): it only has to be well formed.
constexpr long ValidSeconds = 10L * 365 * 24 * 3600;

} // namespace

void TlsCertificate::KeyFree::operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }

void TlsCertificate::CertificateFree::operator()(X509 *certificate) const { X509_free(certificate); }

TlsCertificate::TlsCertificate(const QByteArray &seed, const QByteArray &publicKey)
{
    if (makeKey(seed, publicKey) && !makeCertificate())
        why_ = u"Cannot make the TLS certificate"_s;
}

bool TlsCertificate::makeKey(const QByteArray &seed, const QByteArray &publicKey)
{
    if (seed.size() != Ed25519KeySize || publicKey.size() != Ed25519KeySize) {
        why_ = u"The own TLS key is not a 32-byte Ed25519 key pair"_s;
        return false;
    }
    key_.reset(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                            reinterpret_cast<const unsigned char *>(seed.constData()),
                                            size_t(seed.size())));
    QByteArray derived(Ed25519KeySize, '\0');
    size_t length = size_t(derived.size());
    if (!key_
        || EVP_PKEY_get_raw_public_key(key_.get(), reinterpret_cast<unsigned char *>(derived.data()), &length) != 1
        || length != size_t(Ed25519KeySize)) {
        why_ = u"Cannot load the own TLS key"_s;
        key_.reset();
        return false;
    }
    if (CRYPTO_memcmp(derived.constData(), publicKey.constData(), size_t(Ed25519KeySize)) != 0) {
        why_ = u"The own TLS public key does not belong to its seed"_s;
        key_.reset();
        return false;
    }
    return true;
}

// Version 3, serial 1, the same placeholder name as subject and issuer, signed by its own key
// (Ed25519 takes no separate digest).
bool TlsCertificate::makeCertificate()
{
    std::unique_ptr<X509, CertificateFree> made(X509_new());
    if (!made || X509_set_version(made.get(), X509_VERSION_3) != 1
        || ASN1_INTEGER_set(X509_get_serialNumber(made.get()), 1) != 1
        || !X509_gmtime_adj(X509_getm_notBefore(made.get()), -24L * 3600)
        || !X509_gmtime_adj(X509_getm_notAfter(made.get()), ValidSeconds)
        || X509_set_pubkey(made.get(), key_.get()) != 1)
        return false;
    X509_NAME *name = X509_get_subject_name(made.get());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Talvino"),
                                   -1, -1, 0)
            != 1
        || X509_set_issuer_name(made.get(), name) != 1 || X509_sign(made.get(), key_.get(), nullptr) <= 0)
        return false;
    certificate_ = std::move(made);
    return true;
}

QByteArray TlsCertificate::ed25519Key(X509 *certificate)
{
    EVP_PKEY *key = certificate ? X509_get0_pubkey(certificate) : nullptr;
    if (!key || EVP_PKEY_get_id(key) != EVP_PKEY_ED25519)
        return {};
    QByteArray raw(Ed25519KeySize, '\0');
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char *>(raw.data()), &length) != 1
        || length != size_t(Ed25519KeySize))
        return {};
    return raw;
}
