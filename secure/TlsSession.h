#pragma once

#include "secure/TlsContext.h"
#include "secure/TlsKeys.h"
#include "secure/TlsSocketBio.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <openssl/types.h>

// TLS 1.3 over one connected non-blocking socket, between two ends that pinned each other's
// Ed25519 key (see TlsContext). Every call does what it can without waiting and says what it
// needs next: WantRead or WantWrite ask the owner to wait until the socket is readable or
// writable and to call again (a write again with the same bytes). Closed is the peer's orderly
// end (close_notify); Failed is everything else, the peer's closing without that end included,
// so that a stream cut short never looks complete. After Failed the session is finished.
//
// Typical use (the owner waits as it waits for its socket anyway):
//     TlsSession tls(fd, TlsSession::Role::Client, keys);
//     for (auto r = tls.handshake(); r != Done; r = tls.handshake()) { wait for r or fail; }
//     tls.write(data, size, written);  tls.read(buffer, size, count);  tls.shutdown();
// One thread at a time may use a session; it may pass from one thread to another in between.
class TlsSession {
public:
    using Role = TlsContext::Role;
    enum class Result { Done, WantRead, WantWrite, Closed, Failed };

    TlsSession(int socket, Role role, const TlsKeys &keys);
    ~TlsSession();
    TlsSession(const TlsSession &) = delete;
    TlsSession &operator=(const TlsSession &) = delete;

    Result handshake();
    // Takes up to size bytes (at least one when Done) into data.
    Result read(char *data, qint64 size, qint64 &count);
    // Sends all size bytes; count is size when Done. After WantRead or WantWrite, call again
    // with the same bytes.
    Result write(const char *data, qint64 size, qint64 &count);
    // Sends this end's close_notify once, without waiting for the peer's. Done also when there
    // is nothing to end: no handshake, a failure, or a write left unfinished.
    Result shutdown();

    bool established() const { return established_; }
    QString failureText() const { return failure_; }
    // The errno of a socket call that failed (EPIPE, ECONNRESET...), 0 when the failure was not
    // the socket's.
    int systemError() const { return systemError_; }
    // The negotiated cipher suite's standard name, empty before the handshake.
    QString cipherSuite() const;

private:
    struct SslFree {
        void operator()(SSL *ssl) const;
    };

    Result outcome(int returned);
    Result flushPending();
    Result fail(const QString &text);

    TlsContext context_;
    TlsSocketBio::Link link_;
    std::unique_ptr<SSL, SslFree> ssl_;
    bool established_ = false;
    bool failed_ = false;
    bool writeUnfinished_ = false;
    bool flushing_ = false; // a write's records were taken, and wait to go out
    bool shutDown_ = false;
    int systemError_ = 0;
    QString failure_;
};
