#pragma once

#include "secure/TlsKeys.h"

#include <QString>
#include <QtGlobal>
#include <memory>

// TLS 1.3 over one connected non-blocking socket, between two ends that pinned each other's
// Ed25519 key. Every call does what it can without waiting and says what it needs next:
// WantRead or WantWrite ask the owner to wait until the socket is readable or writable and to
// call again (a write again with the same bytes). Closed is the peer's orderly end
// (close_notify); Failed is everything else, the peer's closing without that end included, so
// that a stream cut short never looks complete. After Failed the session is finished.
//
// Typical use (the owner waits as it waits for its socket anyway):
//     auto tls = TlsSession::open(fd, TlsSession::Role::Client, keys);
//     for (auto r = tls->handshake(); r != Done; r = tls->handshake()) { wait for r or fail; }
//     tls->write(data, size, written);  tls->read(buffer, size, count);  tls->shutdown();
// One thread at a time may use a session; it may pass from one thread to another in between.
//
// Sessions are made by the TLS module (talvino-tls.so, on OpenSSL), loaded with the first
// session, so that the program does not load OpenSSL at start. Only pure virtual functions and
// Qt Core value types cross between the program and the module.
class TlsSession {
public:
    enum class Role { Client, Server };
    enum class Result { Done, WantRead, WantWrite, Closed, Failed };

    // A session over socket. When the module cannot be loaded, a session whose every call
    // fails, with the reason as its failure text.
    static std::unique_ptr<TlsSession> open(int socket, Role role, const TlsKeys &keys);
    // The module's file name (talvino-tls.so).
    static QString moduleFileName();

    virtual ~TlsSession() = default;

    virtual Result handshake() = 0;
    // Takes up to size bytes (at least one when Done) into data.
    virtual Result read(char *data, qint64 size, qint64 &count) = 0;
    // Sends all size bytes; count is size when Done. After WantRead or WantWrite, call again
    // with the same bytes.
    virtual Result write(const char *data, qint64 size, qint64 &count) = 0;
    // Sends this end's close_notify once, without waiting for the peer's. Done also when there
    // is nothing to end: no handshake, a failure, or a write left unfinished.
    virtual Result shutdown() = 0;

    virtual bool established() const = 0;
    virtual QString failureText() const = 0;
    // The errno of a socket call that failed (EPIPE, ECONNRESET...), 0 when the failure was not
    // the socket's.
    virtual int systemError() const = 0;
    // The negotiated cipher suite's standard name, empty before the handshake.
    virtual QString cipherSuite() const = 0;
};

// The module's one entry point: a new session, owned by the caller. The version is in the
// name, so that a module built for another interface is not used.
extern "C" TlsSession *talvino_tls_session_v1(int socket, TlsSession::Role role, const TlsKeys *keys);
inline constexpr char TlsSessionFactoryName[] = "talvino_tls_session_v1";
using TlsSessionFactory = decltype(&talvino_tls_session_v1);
