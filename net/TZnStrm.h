#pragma once

#include "net/RIzarorozi.h"

#include <optional>

// The sending side of a stream post: one call connects to Host:Port, sends the header
// ("%.4d" length of FromName, FromName, "%10d" length of the body), the body (a regular file
// by sendfile(2), any other stream in chunks of at most 65536 bytes), reads the 16-byte
// acknowledgement and disconnects.
//
// Typical use (a file to a peer):
//     TZnStrm fsd(this);  fsd.Port = 2921;  fsd.Host = peerIp;
//     fsd.OnPacketSent = [&](RIzarorozi *s) { progress = s->BytesSent(); };
//     QFile file(path); file.open(QIODevice::ReadOnly);
//     QByteArray reply;  fsd.PostStream(file, reply);   // reply is "OK" + 14 spaces
// PostStream pumps the calling thread's event loop while it waits. Events of a post, in order:
// OnHostResolved (names only), OnConnect, OnPacketSent as the body goes, OnMessageSent,
// OnDisconnect.
// Progress: BytesSent() against BytesTotal() (the stream's size, set when the body starts).
//
// With Tls set, the post runs inside TLS 1.3 from the connection's first byte: the header, the
// body and the acknowledgement are the same bytes, encrypted. The receiver must prove that it
// holds the key pinned for it, or the post raises before anything of it is sent. A file body is
// then read and encrypted on the sender thread instead of going by sendfile.
class TZnStrm : public RIzarorozi {
    Q_OBJECT
public:
    explicit TZnStrm(QObject *owner = nullptr);
    ~TZnStrm() override;

    QByteArray FromName; // the sender's name put into the header (bytes as sent; empty by default)
    Event OnMessageSent; // the whole body has been sent; the acknowledgement is still to come
    // Set: posts run inside TLS with these keys, as its client. Unset: plain, as the base protocol.
    std::optional<TlsKeys> Tls;

    // Posts the whole of Stream (seekable, below 2 GiB) and gives back the acknowledgement in
    // Reply; Reply is empty when the receiver closed without acknowledging. Raises the socket
    // base's exceptions; once connected, the connection is closed in every case.
    void PostStream(QIODevice &Stream, QByteArray &Reply);
    // The same for Size bytes read from where Stream stands: a pipe or another sequential
    // device, whose size cannot be asked beforehand.
    void PostStream(QIODevice &Stream, qint64 Size, QByteArray &Reply);

    // When connected: Cancel, then Disconnect. Otherwise nothing.
    void Abort() override;

private:
    void post(QIODevice &Stream, qint64 Size, bool whole, QByteArray &Reply);
};
