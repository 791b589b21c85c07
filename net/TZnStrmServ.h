#pragma once

#include "net/TZnGeneralServer.h"

#include <QString>
#include <optional>

class QFile;

// The receiving side of a stream post: a listening server whose connections read the header
// and capture exactly the announced body into a temporary file in TempFolder, then hand it to
// OnMSG on the connection's own thread and only after OnMSG has returned send the 16-byte
// acknowledgement "OK" + 14 spaces. A malformed header, a body shorter than announced, a
// failed capture or a handler that raises ends the connection without acknowledgement.
//
// Typical use (a file from a peer):
//     TZnStrmServ jsd(this);  jsd.Port = 2921;  jsd.BindAddress = ownIp;
//     jsd.TempFolder = QFileInfo(target).absolutePath();  // same file system: rename works
//     jsd.OnMSG = [target](TZnStrmServ *, const QByteArray &sFrom, QFile *strm) {
//         QFile::remove(target);
//         if (!strm->rename(target)) throw Exception(...);  // raise: no acknowledgement
//     };
//     jsd.OnDisconnect = [](RIzarorozi *connection) { ... };  // GUI thread, after OnMSG
//     jsd.Loaded();                                             // listening from here on
// OnMSG and TempFolder are copied into each connection when it is accepted: set them before.
// OnMSG must not touch objects of the GUI thread; destroying the server waits for it.
//
// TlsFor decides per connection, when it is accepted (on the server's thread, from the
// connecting address), whether the post must come inside TLS 1.3: keys give a TLS server that
// takes nothing but a client proving the pinned key (a plain post, a wrong key, an altered or
// truncated stream end the connection without acknowledgement); no keys, or no TlsFor, give
// the plain post of the base protocol. A TLS body is decrypted into the temporary file on the
// connection's thread (no splice); the handshake's waits end by StallTimeOut as the others do.
class TZnStrmServ : public TZnGeneralServer {
    Q_OBJECT
public:
    // Sender: the connection component; sFrom: the sender's name from the header; strm: the
    // body, an open file positioned at 0 that the handler may read, or move with rename().
    // The file is removed after the call unless the handler moved it.
    using StrmEvent = std::function<void(TZnStrmServ *Sender, const QByteArray &sFrom, QFile *strm)>;

    explicit TZnStrmServ(QObject *owner = nullptr);
    ~TZnStrmServ() override;

    StrmEvent OnMSG;
    QString TempFolder; // folder of the temporary body files; the system's temporary folder by default
    // The keys a connection from peerIp must use, or none for a plain connection. Asked while
    // accepting: keep it quick (a look-up, no file or network).
    std::function<std::optional<TlsKeys>(const QString &peerIp)> TlsFor;

    void ServeConnection() override;

protected:
    explicit TZnStrmServ(ConnectionOf link);
    TZnGeneralServer *NewConnectionComponent() override;
    void prepareConnection(TZnGeneralServer &connection) override;
    // Whether a body of the announced size is taken: here any size from 0. A refused size ends
    // the connection after the header, before any file is made, without acknowledgement.
    virtual bool acceptsBodyLength(int size) const;

private:
    void receivePost();

    std::optional<TlsKeys> tls_; // in a connection component: the keys TLS is required with
};
