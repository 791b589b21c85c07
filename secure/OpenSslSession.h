#pragma once

#include "secure/TlsContext.h"
#include "secure/TlsSession.h"
#include "secure/TlsSocketBio.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <openssl/types.h>

// A TLS session on OpenSSL (see TlsSession for what each call does): the records go through
// TlsSocketBio, with the settings of a TlsContext of its own.
class OpenSslSession final : public TlsSession {
public:
    OpenSslSession(int socket, Role role, const TlsKeys &keys);
    ~OpenSslSession() override;
    OpenSslSession(const OpenSslSession &) = delete;
    OpenSslSession &operator=(const OpenSslSession &) = delete;

    Result handshake() override;
    Result read(char *data, qint64 size, qint64 &count) override;
    Result write(const char *data, qint64 size, qint64 &count) override;
    Result shutdown() override;

    bool established() const override { return established_; }
    QString failureText() const override { return failure_; }
    int systemError() const override { return systemError_; }
    QString cipherSuite() const override;

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
