#include "secure/OpenSslSession.h"

#include <cstring>
#include <new>
#include <openssl/err.h>
#include <openssl/ssl.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The first error OpenSSL queued on this thread, as its text, unless it only says that the
// stream ended early (the caller tells that better); the queue is emptied.
QString queuedError()
{
    const unsigned long code = ERR_peek_error();
    ERR_clear_error();
    if (code == 0 || ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return {};
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

void OpenSslSession::SslFree::operator()(SSL *ssl) const { SSL_free(ssl); }

OpenSslSession::OpenSslSession(int socket, Role role, const TlsKeys &keys) : context_(role, keys)
{
    link_.socket = socket;
    if (!context_.valid()) {
        fail(context_.why());
        return;
    }
    ssl_.reset(SSL_new(context_.get()));
    BIO *bio = ssl_ ? TlsSocketBio::open(&link_) : nullptr;
    if (!bio) {
        ssl_.reset();
        fail(u"Cannot set up TLS"_s);
        return;
    }
    SSL_set_bio(ssl_.get(), bio, bio); // one reference, taken by the session
    if (role == Role::Client)
        SSL_set_connect_state(ssl_.get());
    else
        SSL_set_accept_state(ssl_.get());
}

OpenSslSession::~OpenSslSession() { ERR_clear_error(); }

TlsSession::Result OpenSslSession::handshake()
{
    if (failed_)
        return Result::Failed;
    if (established_)
        return Result::Done;
    ERR_clear_error();
    const Result result = outcome(SSL_do_handshake(ssl_.get()));
    established_ = result == Result::Done;
    if (result == Result::Closed)
        return fail(u"The peer ended the connection during the TLS handshake"_s);
    return result;
}

TlsSession::Result OpenSslSession::read(char *data, qint64 size, qint64 &count)
{
    count = 0;
    if (failed_ || !established_)
        return Result::Failed;
    ERR_clear_error();
    size_t taken = 0;
    const Result result = outcome(SSL_read_ex(ssl_.get(), data, size_t(size), &taken));
    count = qint64(taken);
    return result;
}

// The records of one write are gathered and sent together; the write is Done once they have
// all gone to the socket. When the socket fills first, WantWrite: the call again (with the same
// bytes, already taken) only sends the rest.
TlsSession::Result OpenSslSession::write(const char *data, qint64 size, qint64 &count)
{
    count = 0;
    if (failed_ || !established_)
        return Result::Failed;
    if (flushing_) {
        const Result flushed = flushPending();
        if (flushed == Result::Done)
            count = size;
        return flushed;
    }
    if (size == 0)
        return Result::Done;
    ERR_clear_error();
    size_t written = 0;
    link_.combining = true;
    const Result result = outcome(SSL_write_ex(ssl_.get(), data, size_t(size), &written));
    link_.combining = false;
    writeUnfinished_ = result == Result::WantRead || result == Result::WantWrite;
    if (result == Result::Closed)
        return fail(u"The TLS connection is closed"_s);
    if (result != Result::Done)
        return result;
    const Result flushed = flushPending();
    flushing_ = flushed == Result::WantWrite;
    writeUnfinished_ = flushing_;
    if (flushed == Result::Done)
        count = qint64(written);
    return flushed;
}

TlsSession::Result OpenSslSession::flushPending()
{
    if (link_.flush()) {
        flushing_ = false;
        writeUnfinished_ = false;
        return Result::Done;
    }
    if (link_.error != 0) {
        systemError_ = link_.error;
        return fail(QString::fromLocal8Bit(std::strerror(link_.error)));
    }
    return Result::WantWrite;
}

TlsSession::Result OpenSslSession::shutdown()
{
    if (failed_ || !established_ || writeUnfinished_ || shutDown_)
        return Result::Done;
    shutDown_ = true;
    ERR_clear_error();
    const int returned = SSL_shutdown(ssl_.get());
    ERR_clear_error();
    return returned >= 0 ? Result::Done : Result::Failed;
}

QString OpenSslSession::cipherSuite() const
{
    const SSL_CIPHER *cipher = ssl_ && established_ ? SSL_get_current_cipher(ssl_.get()) : nullptr;
    const char *name = cipher ? SSL_CIPHER_standard_name(cipher) : nullptr;
    return name ? QString::fromLatin1(name) : QString();
}

// What a call's return value means; a failure is recorded with its text.
TlsSession::Result OpenSslSession::outcome(int returned)
{
    if (returned == 1)
        return Result::Done;
    switch (SSL_get_error(ssl_.get(), returned)) {
    case SSL_ERROR_WANT_READ:
        return Result::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return Result::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        return Result::Closed;
    default:
        break;
    }
    if (context_.peerRejected()) {
        ERR_clear_error();
        return fail(u"The peer's key is not the one pinned for it"_s);
    }
    const QString queued = queuedError();
    if (link_.error != 0) {
        systemError_ = link_.error;
        return fail(QString::fromLocal8Bit(std::strerror(link_.error)));
    }
    if (!queued.isEmpty())
        return fail(queued);
    return fail(link_.ended ? u"The peer closed the connection inside the TLS stream"_s : u"TLS failed"_s);
}

TlsSession::Result OpenSslSession::fail(const QString &text)
{
    failed_ = true;
    failure_ = text;
    return Result::Failed;
}

extern "C" Q_DECL_EXPORT TlsSession *talvino_tls_session_v1(int socket, TlsSession::Role role, const TlsKeys *keys)
{
    return new (std::nothrow) OpenSslSession(socket, role, *keys);
}
