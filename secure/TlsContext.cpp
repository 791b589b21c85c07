#include "secure/TlsContext.h"

#include "secure/TlsCertificate.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sodium.h>

#if defined(__aarch64__)
#include <sys/auxv.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char *AesFirst = "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
constexpr const char *ChaChaFirst = "TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384";
// The read buffer when reading ahead: a few full records per receive call, not more. Before
// each record OpenSSL moves what is left in the buffer to its front (to align the payload), so
// a buffer of many records costs more in moves than it saves in calls: 256 KiB took a third
// more of the receiver's time than 64 KiB.
constexpr size_t ReadBufferSize = 64 * 1024;

// Whether this processor has AES instructions, so that AES-GCM outruns ChaCha20-Poly1305.
bool hasAesInstructions()
{
#if defined(__aarch64__) && defined(HWCAP_AES)
    return (getauxval(AT_HWCAP) & HWCAP_AES) != 0;
#else
    // libsodium asks the processor (AES-NI and carry-less multiplication on x86).
    return sodium_init() >= 0 && crypto_aead_aes256gcm_is_available() != 0;
#endif
}

} // namespace

const char *TlsContext::cipherSuites()
{
    static const bool aes = hasAesInstructions(); // the processor does not change
    return aes ? AesFirst : ChaChaFirst;
}

TlsContext::TlsContext(Role role, const TlsKeys &keys) : expectedPeerKey_(keys.expectedPeerKey)
{
    const TlsCertificate own(keys.ownSeed, keys.ownPublicKey);
    if (!own.valid()) {
        why_ = own.why();
        return;
    }
    if (expectedPeerKey_.size() != 32) {
        why_ = u"The pinned TLS key is not a 32-byte Ed25519 key"_s;
        return;
    }
    SSL_CTX *made = SSL_CTX_new(role == Role::Client ? TLS_client_method() : TLS_server_method());
    const bool server = role == Role::Server;
    // The server takes its own order unless the client puts ChaCha20-Poly1305 first, which a
    // client without AES instructions does.
    const uint64_t serverOptions = SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_PRIORITIZE_CHACHA;
    const bool ok = made && SSL_CTX_set_min_proto_version(made, TLS1_3_VERSION) == 1
        && SSL_CTX_set_max_proto_version(made, TLS1_3_VERSION) == 1
        && SSL_CTX_set_ciphersuites(made, cipherSuites()) == 1
        && SSL_CTX_set1_sigalgs_list(made, "ed25519") == 1
        && SSL_CTX_set1_client_sigalgs_list(made, "ed25519") == 1
        && SSL_CTX_use_certificate(made, own.certificate()) == 1
        && SSL_CTX_use_PrivateKey(made, own.key()) == 1 && SSL_CTX_check_private_key(made) == 1
        && SSL_CTX_set_num_tickets(made, 0) == 1;
    if (!ok) {
        SSL_CTX_free(made);
        why_ = u"Cannot set up TLS"_s;
        return;
    }
    SSL_CTX_set_options(made, SSL_OP_NO_TICKET | (server ? serverOptions : 0));
    SSL_CTX_set_session_cache_mode(made, SSL_SESS_CACHE_OFF);
    // Large bodies: up to 16 KiB per record, many records per receive call.
    SSL_CTX_set_read_ahead(made, 1);
    SSL_CTX_set_default_read_buffer_len(made, ReadBufferSize);
    // A write that must wait is repeated with the same bytes, possibly from another address.
    SSL_CTX_set_mode(made, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // A server asks for the client's certificate and refuses a client without one.
    SSL_CTX_set_verify(made, SSL_VERIFY_PEER | (server ? SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0), nullptr);
    SSL_CTX_set_cert_verify_callback(made, &TlsContext::verifyPeer, this);
    context_ = made;
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

// Instead of a chain check: the peer's certificate is self-signed, and what counts is that its
// key is the pinned one (the handshake proves the peer holds the private half).
int TlsContext::verifyPeer(X509_STORE_CTX *store, void *self)
{
    auto *context = static_cast<TlsContext *>(self);
    const QByteArray presented = TlsCertificate::ed25519Key(X509_STORE_CTX_get0_cert(store));
    const bool pinned = presented.size() == context->expectedPeerKey_.size()
        && CRYPTO_memcmp(presented.constData(), context->expectedPeerKey_.constData(), size_t(presented.size())) == 0;
    context->peerRejected_ = !pinned;
    if (!pinned)
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return pinned ? 1 : 0;
}
